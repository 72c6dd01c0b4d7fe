// The hub controller whose firmware shares the PD controller's flash.
#pragma once

#include <cstdint>

#include "device/device.h"
#include "ops/tool.h"

namespace pdflash {

// Version of the file of hub record h & 0x0F. `accepted`: the file is a hub
// image of a known family that holds its version.
uint32_t GetHubBinVersion(Tool& t, uint8_t h, bool* accepted = nullptr);
// Version of hub h's firmware in the flash. selector 0: firmware 2, then 1;
// 1: firmware 1 only; 2: firmware 2 only. 1 when a version was found.
uint32_t GetHubSpiVersion(Tool& t, Device& dev, uint8_t h, uint8_t selector, uint8_t verbose);

}  // namespace pdflash
