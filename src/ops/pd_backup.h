// Backup of the PD firmware area and raw flash dumps.
#pragma once

#include <cstdint>

#include "app/tool.h"
#include "device/usb_link.h"

namespace pdflash {

uint32_t PdFwBackup(Tool& t, UsbLink& h, uint8_t d, uint8_t row);
uint32_t PdFlashDump(Tool& t, UsbLink& h, uint8_t flash, uint8_t megabits, uint8_t row);
uint32_t PdFlashDump2(Tool& t, UsbLink& h, uint8_t d, uint8_t megabits, uint8_t row);

}  // namespace pdflash
