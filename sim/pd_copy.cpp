#include "sim/pd_copy.h"

#include "core/bytes.h"
#include "sim/crc16.h"

namespace pdflash::sim {

namespace {

constexpr uint32_t kSizes[] = {0x8000, 0xC000, 0xC800, 0x10000};

}  // namespace

PdCopy InspectPdCopy(const std::vector<uint8_t>& flash, uint32_t address, uint32_t region) {
  PdCopy copy;
  copy.address = address;
  if (flash.empty()) return copy;
  std::vector<uint8_t> image(region);
  for (uint32_t i = 0; i < region; ++i) image[i] = flash[(address + i) % flash.size()];
  if (image[0] != 0x02) return copy;
  for (uint32_t size : kSizes) {
    if (size > region || !HasCrc16Trailer(image.data(), size)) continue;
    copy.valid = true;
    copy.size = size;
    copy.version = Be32(&image[0x1003]);
    copy.vid = Le16(&image[0x1007]);
    copy.pid = Le16(&image[0x1009]);
    break;
  }
  return copy;
}

std::vector<PdCopy> InspectAllCopies(const std::vector<uint8_t>& flash) {
  return {InspectPdCopy(flash, kCopy1Address, 0x10000),
          InspectPdCopy(flash, kCopy2Address, 0x10000),
          InspectPdCopy(flash, kCopy2SmallAddress, 0x8000)};
}

std::optional<PdCopy> FindBootCopy(const std::vector<uint8_t>& flash) {
  for (const PdCopy& c : InspectAllCopies(flash))
    if (c.valid) return c;
  return std::nullopt;
}

}  // namespace pdflash::sim
