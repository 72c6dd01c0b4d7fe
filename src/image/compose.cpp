#include "image/compose.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/bytes.h"
#include "image/checksum.h"

namespace pdflash {

namespace {

uint8_t Bcd(int v) {
  return static_cast<uint8_t>(((v / 10) % 10) << 4 | (v % 10));
}

void PutLabel(uint8_t* zone, uint32_t offset, const char* text) {
  std::memcpy(zone + offset, text, std::strlen(text));
}

}  // namespace

uint16_t WordSumLe(const uint8_t* b, uint32_t len) {
  uint32_t s = 0;
  for (uint32_t i = 0; i + 1 < len; i += 2) s += Le16(b + i);
  return static_cast<uint16_t>(s);
}

void BuildInfoZone(Output& out, uint8_t* zone, std::span<const uint32_t> versions,
                   const std::string& project, const LocalTime& date, uint32_t image_length) {
  if (!versions.empty()) {
    std::memset(zone, 0, kInfoZoneSize);
    PutLabel(zone, 0, "KMX_FWImage_v0.1");
    std::memcpy(zone + 32, project.data(), std::min<size_t>(project.size(), 32));
    PutLabel(zone, 64, "Image_Size:");
    PutBe32(zone + 76, image_length);
    PutLabel(zone, 80, "Image_Date:");
    zone[92] = Bcd(date.year / 100);
    zone[93] = Bcd(date.year % 100);
    zone[94] = Bcd(date.month);
    zone[95] = Bcd(date.day);
    for (size_t k = 0; k < versions.size() && k < kInfoZoneDevices; ++k) {
      char label[16];
      FormatText(label, sizeof label, "Dev%d_FWVer:", static_cast<int>(k + 1));
      PutLabel(zone, 96 + 16 * static_cast<uint32_t>(k), label);
      PutBe32(zone + 108 + 16 * k, versions[k]);
    }
  }
  // Stored high byte first so that the zone's own one's-complement sum is 0xFFFF.
  PutBe16(zone + kInfoZoneSize - 2, CheckSum16(out, zone, kInfoZoneSize - 2));
}

}  // namespace pdflash
