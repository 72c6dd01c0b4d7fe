// The VMM6 DP hub whose firmware shares the PD controller's flash.
#pragma once

#include <cstdint>

#include "device/device.h"
#include "ops/tool.h"

namespace pdflash {

uint32_t GetVmm6BinVersion(Tool& t);
// mode: non-zero = update, 0 = backup.
uint32_t Vmm6Update(Tool& t, Device& dev, uint8_t mode, uint8_t row);

}  // namespace pdflash
