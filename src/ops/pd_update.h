// The two-copy PD firmware update.
#pragma once

#include <cstdint>

#include "device/device.h"
#include "ops/tool.h"

namespace pdflash {

uint32_t PdFwUpdate(Tool& t, Device& dev, uint8_t d, uint8_t row);

}  // namespace pdflash
