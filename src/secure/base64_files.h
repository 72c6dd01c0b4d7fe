// The base64 file procedures of the function tests.
#pragma once

#include <cstdint>

#include "ops/tool.h"

namespace pdflash {

// Encode or decode every line of the TextFilePath file and print the results;
// 1 when the file was processed, 0 when it cannot be opened.
uint32_t TextFileToBase64(Tool& t);
uint32_t Base64FileToText(Tool& t);

}  // namespace pdflash
