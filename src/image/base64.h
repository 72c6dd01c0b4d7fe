// Base64 (RFC 4648 alphabet, "=" padding, no line breaks).
#pragma once

#include <cstdint>
#include <string>

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

}  // namespace pdflash
