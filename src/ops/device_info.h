// The unit's USB strings and bcdDevice in the device information zone:
// write one field (or clear them), read one back, print and compare it.
#pragma once

#include <cstdint>

#include "device/device.h"
#include "ops/tool.h"

namespace pdflash {

// The zone's sector as it was before a write erased it, followed by the
// sector as that write meant it; kept in the working folder until a write
// verifies, and put back by the next write that finds the sector cut.
inline constexpr const char* kKeptInfoSector = "PDInfoZone.bin";

// Rewrites the zone's sector with the field of `code` taken from `value`
// (128 bytes); 1 = written and verified.
uint32_t WriteDeviceInfo(Tool& t, Device& dev, uint8_t d, uint8_t row, uint8_t code,
                         const uint8_t* value);
// Prints the field of `code`; with an expected value (first byte non-zero)
// also writes "BBInfo.Txt" and compares. 1 = printed (and equal).
uint32_t CheckDeviceInfo(Tool& t, Device& dev, uint8_t d, uint8_t row, uint8_t code,
                         const uint8_t* expected);

}  // namespace pdflash
