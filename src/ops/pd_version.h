// PD firmware versions read from the running device and its flash.
#pragma once

#include <cstdint>

#include "device/device.h"
#include "ops/tool.h"

namespace pdflash {

void GetPdFwVersion(Tool& t, Device& dev, uint8_t d, bool print);
void GetPdFormalVer(Tool& t, Device& dev, uint8_t in_rom);
void GetPdSpiVersion(Tool& t, Device& dev, uint8_t d, uint8_t selector, uint8_t verbose);

}  // namespace pdflash
