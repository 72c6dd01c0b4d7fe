// Base64 (RFC 4648 alphabet, "=" padding, no line breaks) and the two
// line-by-line file procedures of the function tests.
#pragma once

#include <cstdint>
#include <string>

#include "app/tool.h"

namespace pdflash {

// Characters Base64Encode writes for len bytes.
constexpr uint32_t Base64EncodedLength(uint32_t len) {
  return (len / 3 + (len % 3 != 0)) * 4;
}
// Bytes Base64Decode writes for len characters, before the padding is taken off.
constexpr uint32_t Base64DecodedCapacity(uint32_t len) {
  return (len / 4 + (len % 4 != 0)) * 3;
}

// Encodes len bytes into Base64EncodedLength(len) characters (no terminator)
// and returns that count; 0, writing nothing, for len 0 or a leading '-'.
// The input is only read: a short last group is padded internally.
uint32_t Base64Encode(const uint8_t* input, char* output, uint32_t len);

// Decodes len characters into Base64DecodedCapacity(len) bytes and returns the
// count without the padding. Characters outside the alphabet decode as 0, and
// so does the missing tail of a short last group.
uint32_t Base64Decode(const char* input, uint8_t* output, uint32_t len);

// Encode or decode every line of the TextFilePath file and print the results;
// 1 when the file was processed, 0 when it cannot be opened.
uint32_t TextFileToBase64(Tool& t);
uint32_t Base64FileToText(Tool& t);

}  // namespace pdflash
