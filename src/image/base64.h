// Base64 (RFC 4648 alphabet, "=" padding, no line breaks) and the two
// line-by-line file procedures of the function tests.
#pragma once

#include <cstdint>
#include <string>

#include "app/tool.h"

namespace pdflash {

// Encodes len bytes; input needs two spare bytes after the end. Returns the
// characters written (no terminator); 0 for len 0 or a leading '-'.
uint32_t Base64Encode(uint8_t* input, char* output, uint32_t len);
uint32_t Base64Decode(const char* input, uint8_t* output, uint32_t len);
uint32_t TextFileToBase64(Tool& t);
uint32_t Base64FileToText(Tool& t);

}  // namespace pdflash
