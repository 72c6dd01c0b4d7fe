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

}  // namespace pdflash
