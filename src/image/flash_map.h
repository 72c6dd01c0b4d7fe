// Where things live in the controller's SPI flash and in the composite
// image of it: the one place the regions are named.
#pragma once

#include <cstdint>

namespace pdflash {

// PD firmware copies: copy 1, and copy 2 right after a 32 KiB image or one
// copy area further for every other size.
inline constexpr uint32_t kPdCopy1 = 0x020000;
inline constexpr uint32_t kPdCopyArea = 0x010000;
inline constexpr uint32_t kPdCopy2Small = 0x028000;
inline constexpr uint32_t kPdCopy2 = 0x030000;
inline constexpr uint32_t kSmallPdImage = 0x8000;
inline constexpr uint32_t PdCopy2(uint32_t image_size) {
  return image_size == kSmallPdImage ? kPdCopy2Small : kPdCopy2;
}
// Both copy areas, as the backup reads them.
inline constexpr uint32_t kPdBackupArea = 0x020000;

// The composite image: information zone twice, the image sum word, the
// VMM6 firmware.
inline constexpr uint32_t kImageZone1 = 0x01E000;
inline constexpr uint32_t kImageZone2 = 0x01F000;
inline constexpr uint32_t kImageSumWord = 0x01FFFE;
inline constexpr uint32_t kImageVmm6 = 0x100000;
inline constexpr uint32_t kInfoZoneSize = 4096;

}  // namespace pdflash
