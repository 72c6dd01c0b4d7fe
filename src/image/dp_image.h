// The DP converter's firmware image: the PD file's header layout, a CRC-16
// trailer, and the image sizes of the two converter families.
#pragma once

#include <cstdint>
#include <span>

namespace pdflash {

inline constexpr uint32_t kDpKmdpbSize = 0x10000;
inline constexpr uint32_t kDpKmdpa96Size = 0x18000;
inline constexpr uint32_t kDpKmdpa128Size = 0x20000;
inline constexpr uint32_t kDpMaxImage = 0x20000;

// A 64 KiB image is KMDPB; every other size counts as KMDPA.
inline bool IsKmdpbSize(uint32_t size) { return size == kDpKmdpbSize; }
// The image sizes of the family a file of `size` bytes belongs to.
std::span<const uint32_t> DpFamilySizes(uint32_t size);

// The first image size (64, 128, then 96 KiB) not above `region` whose
// CRC-16 trailer matches; 0 = none.
uint32_t DpImageSize(const uint8_t* copy, uint32_t region);

// True when the copy holds a valid image at any size of the family of a
// `size`-byte file; `copy` holds `available` bytes.
bool DpCopyValidInFamily(const uint8_t* copy, uint32_t available, uint32_t size);

// The layout a backup reads, from the last four bytes of a 96 and of a
// 128 KiB image at 0x40000: KMDPA when either ends in FF FF and two bytes
// that are not FF (the CRC of the padded image), else KMDPB.
struct DpBackupLayout {
  int kind;  // 1: KMDPA 96 KiB, 2: KMDPA 128 KiB, 0: KMDPB
  uint32_t image_size, copy2_offset, base, region;
};
DpBackupLayout DpLayoutFromFlash(const uint8_t* end96, const uint8_t* end128, uint8_t strapping);

}  // namespace pdflash
