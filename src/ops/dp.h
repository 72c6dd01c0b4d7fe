// The DP converter that keeps its firmware in the PD controller's flash.
#pragma once

#include <cstdint>

#include "device/device.h"
#include "ops/tool.h"

namespace pdflash {

// Version of the DP1Bin file of DP record d (0 when refused).
uint32_t GetDpBinVersion(Tool& t, uint8_t d);
uint32_t DpFwUpdate(Tool& t, Device& dev, uint8_t row);
uint32_t DpFwBackup(Tool& t, Device& dev, uint8_t row);

}  // namespace pdflash
