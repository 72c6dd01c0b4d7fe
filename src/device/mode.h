// Switching the controller from application firmware to ROM code, and the
// unlock challenge.
#pragma once

#include <cstdint>

#include "app/tool.h"
#include "device/usb_link.h"

namespace pdflash {

uint32_t ResetToRom(Tool& t, UsbLink& h, bool echo);
uint32_t MathChallenge(Tool& t, UsbLink& h, uint8_t need);
uint32_t LockChallenge(Tool& t, UsbLink& h);

// Reads the PD file's flag word into PD record d (the tool uses GetPdBinFlag).
using BinFlagReader = uint32_t (*)(Tool& t, uint8_t d);
// ResetToRom with the flag-word reader passed in, so the switch itself does
// not depend on the firmware-file layer.
uint32_t ResetToRomUsing(Tool& t, UsbLink& h, bool echo, BinFlagReader read_bin_flag);

}  // namespace pdflash
