// Backup of the PD firmware area and raw flash dumps.
#pragma once

#include <cstdint>

#include "device/device.h"
#include "ops/tool.h"

namespace pdflash {

uint32_t PdFwBackup(Tool& t, Device& dev, uint8_t d, uint8_t row);
uint32_t PdFlashDump(Tool& t, Device& dev, uint8_t flash, uint8_t megabits, uint8_t row);
uint32_t PdFlashDump2(Tool& t, Device& dev, uint8_t d, uint8_t megabits, uint8_t row);

}  // namespace pdflash
