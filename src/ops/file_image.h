// Reading a whole firmware file into a fixed-size working buffer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/tool.h"

namespace pdflash {

enum class FileRead { Ok, OpenFailed, TooLarge };

// Reads the file into `buffer` (zero-filled to `capacity`) unless it is larger
// than `capacity`; `size` is the file's length in every case it could be
// opened.
FileRead ReadFirmwareFile(const Tool& t, const std::string& path, uint32_t capacity,
                          std::vector<uint8_t>& buffer, uint32_t& size);

// True when the image's last two bytes hold the CRC-16 of the rest; otherwise
// prints the computed value as a refusal.
bool ImageCrcMatches(Tool& t, const std::vector<uint8_t>& image, uint32_t size);

}  // namespace pdflash
