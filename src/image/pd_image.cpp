#include "image/pd_image.h"

#include <cstring>

#include "core/bytes.h"
#include "image/checksum.h"

namespace pdflash {

namespace {

constexpr uint8_t kFormalSignature[4] = {0x66, 0x6D, 0xAB, 0x56};

}  // namespace

PdHeader ParsePdHeader(const uint8_t* h) {
  return PdHeader{Be32(h), Le16(h + 4), Le16(h + 6), Le16(h + 10)};
}

bool ParsePdFlag(const uint8_t* h, uint32_t& flag) {
  if (std::memcmp(h + kPdFlagMarker, "FLAG", 4) != 0) return false;
  flag = Be32(h + kPdFlagWord);
  return true;
}

bool IdentityAccepts(uint16_t vid, uint16_t vid2, uint16_t configured) {
  return vid == kOwnVid || vid == configured || vid2 == kOwnVid || vid2 == configured ||
         vid == vid2;
}

int FindFormalVersion(const uint8_t* window) {
  for (uint32_t k = 0; k < kFormalWindow; ++k)
    if (std::memcmp(window + k + 4, kFormalSignature, 4) == 0) return static_cast<int>(k);
  return -1;
}

uint32_t PdImageSize(const uint8_t* image, uint32_t region) {
  for (const uint32_t n : kPdImageSizes)
    if (n <= region && Crc16Trailer(image, n)) return n;
  return 0;
}

}  // namespace pdflash
