#include "image/dp_image.h"

#include "image/checksum.h"
#include "image/flash_map.h"

namespace pdflash {

namespace {

constexpr uint32_t kKmdpaSizes[] = {kDpKmdpa96Size, kDpKmdpa128Size};
constexpr uint32_t kKmdpbSizes[] = {kDpKmdpbSize};
constexpr uint32_t kProbeOrder[] = {kDpKmdpbSize, kDpKmdpa128Size, kDpKmdpa96Size};

bool EndsLikeAnImage(const uint8_t* b) {
  return b[0] == 0xFF && b[1] == 0xFF && b[2] != 0xFF && b[3] != 0xFF;
}

}  // namespace

std::span<const uint32_t> DpFamilySizes(uint32_t size) {
  if (IsKmdpbSize(size)) return kKmdpbSizes;
  return kKmdpaSizes;
}

uint32_t DpImageSize(const uint8_t* copy, uint32_t region) {
  for (const uint32_t n : kProbeOrder)
    if (n <= region && Crc16Trailer(copy, n)) return n;
  return 0;
}

bool DpCopyValidInFamily(const uint8_t* copy, uint32_t available, uint32_t size) {
  if (size <= available && size >= 2 && Crc16Trailer(copy, size)) return true;
  for (const uint32_t n : DpFamilySizes(size))
    if (n <= available && Crc16Trailer(copy, n)) return true;
  return false;
}

DpBackupLayout DpLayoutFromFlash(const uint8_t* end96, const uint8_t* end128, uint8_t strapping) {
  if (EndsLikeAnImage(end96))
    return {1, kDpKmdpa96Size, kDpKmdpaCopy2Offset, kDpCopyA1, kDpAreaA};
  if (EndsLikeAnImage(end128))
    return {2, kDpKmdpa128Size, kDpKmdpaCopy2Offset, kDpCopyA1, kDpAreaA};
  return {0, kDpKmdpbSize, kDpKmdpbCopy2Offset, strapping ? kDpStrappedBase : kDpCopyA1, kDpAreaB};
}

}  // namespace pdflash
