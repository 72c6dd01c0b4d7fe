// Reading a whole firmware file into a fixed-size working buffer, and the
// checks a PD image passes before any flash is touched.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "ops/tool.h"

namespace pdflash {

enum class FileRead { Ok, OpenFailed, TooLarge };

// A firmware file read and checked before any flash is touched: `bytes` is
// the working buffer, `size` the file's length.
struct FirmwareImage {
  std::vector<uint8_t> bytes;
  uint32_t size = 0;
};

// Reads the file into `buffer` (zero-filled to `capacity`) unless it is larger
// than `capacity`; `size` is the file's length in every case it could be
// opened (at most 0xFFFFFFFF), `length` (when given) its whole length.
FileRead ReadFirmwareFile(const Tool& t, const std::string& path, uint32_t capacity,
                          std::vector<uint8_t>& buffer, uint32_t& size, uint64_t* length = nullptr);

// The "%dK" of a size refusal, from the whole length.
inline int SizeKib(uint64_t length) {
  return static_cast<int>(std::min<uint64_t>(length >> 10, INT32_MAX));
}

// True when the image's last two bytes hold the CRC-16 of the rest; otherwise
// prints the computed value as a refusal.
bool ImageCrcMatches(Tool& t, const std::vector<uint8_t>& image, uint32_t size);

// What a PD image is checked for: the two-copy update (each copy must fit
// its area, no downgrade with NoDowngrade) or the direct download.
enum class PdImageUse { Update, Download };
// Reads PD record d's file and checks it: size, marker, chip and file ID,
// downgrade, CRC. False after the refusal's line.
bool LoadPdImage(Tool& t, uint8_t d, PdImageUse use, std::vector<uint8_t>& image, uint32_t& size);

}  // namespace pdflash
