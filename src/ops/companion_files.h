// Versions of the companion firmware files (DP converter, hub, VMM6) and the
// hub image's second header.
#pragma once

#include <cstdint>

#include "app/tool.h"

namespace pdflash {

uint32_t GetDpBinVersion(Tool& t, uint8_t d);
uint32_t GetHubBinVersion(Tool& t, uint8_t h);
uint32_t GetVmm6BinVersion(Tool& t);
// image: at least 0x1820 bytes. False (buffer unchanged) when refused.
bool AddHubHeader2(Tool& t, uint8_t* image);

}  // namespace pdflash
