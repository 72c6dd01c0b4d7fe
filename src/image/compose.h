// The composite flash image's information zone: a 4096-byte block naming the
// project, the image's size and date and the firmware versions it carries.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "core/output.h"
#include "image/flash_map.h"

namespace pdflash {

inline constexpr size_t kInfoZoneDevices = 5;

// Fills the zone for the versions given (none: the zone is left as it is)
// and stamps its checksum in the last two bytes.
void BuildInfoZone(Output& out, uint8_t* zone, std::span<const uint32_t> versions,
                   const std::string& project, const LocalTime& date, uint32_t image_length);

// Sum of little-endian 16-bit words, modulo 0x10000.
uint16_t WordSumLe(const uint8_t* b, uint32_t len);

}  // namespace pdflash
