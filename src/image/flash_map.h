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

// DP converter copies in the upper half of a shared flash. KMDPA (96 and
// 128 KiB images) keeps them at 0x40000 and 0x60000; KMDPB (64 KiB) keeps
// two neighbouring copies from 0x40000, or from 0x60000 when strapped so.
inline constexpr uint32_t kDpCopyA1 = 0x040000;
inline constexpr uint32_t kDpCopyA2 = 0x060000;
inline constexpr uint32_t kDpStrappedBase = 0x060000;
inline constexpr uint32_t kDpKmdpbCopy2Offset = 0x010000;
inline constexpr uint32_t kDpKmdpaCopy2Offset = 0x020000;
// The whole DP area and the KMDPB half of it.
inline constexpr uint32_t kDpAreaA = 0x040000;
inline constexpr uint32_t kDpAreaB = 0x020000;
// Last words of a 96 and a 128 KiB image at 0x40000: how a backup tells the
// family from the flash.
inline constexpr uint32_t kDpEnd96 = 0x057FFC;
inline constexpr uint32_t kDpEnd128 = 0x05FFFC;
// Where the running version is looked for: the header of each copy.
inline constexpr uint32_t kDpHeaderOffset = 0x1003;

// VMM6 firmware: two banks of 0x50000 bytes from 1 MiB, each with its flag
// bytes near its end; the flash must hold 2 MiB.
inline constexpr uint32_t kVmm6Bank0 = 0x100000;
inline constexpr uint32_t kVmm6Bank1 = 0x150000;
inline constexpr uint32_t kVmm6BankSize = 0x50000;
inline constexpr uint32_t kVmm6FlagOffset = 0x4FFF0;
inline constexpr uint32_t kVmm6Area = 0x100000;
inline constexpr uint32_t kVmm6FlashNeeded = 0x200000;

// The composite image: information zone twice, the image sum word, the
// VMM6 firmware.
inline constexpr uint32_t kImageZone1 = 0x01E000;
inline constexpr uint32_t kImageZone2 = 0x01F000;
inline constexpr uint32_t kImageSumWord = 0x01FFFE;
inline constexpr uint32_t kImageVmm6 = 0x100000;
inline constexpr uint32_t kInfoZoneSize = 4096;

}  // namespace pdflash
