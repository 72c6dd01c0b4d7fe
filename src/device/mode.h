// The unlock challenge and the jump from application firmware to ROM code.
#pragma once

#include <cstdint>
#include <string>

#include "device/device.h"

namespace pdflash {

// Opens the challenge for client `need` & 0x7F (0 = nothing to do); the
// coefficients come from exe_dir's Challenge.ini. 1 when the counter opened.
uint32_t MathChallenge(Device& dev, const std::string& exe_dir, uint8_t need, uint8_t dbg);
// Sends the counter back so the challenge is locked again; 1 when it is.
uint32_t LockChallenge(Device& dev, uint8_t dbg);

// The VMM6 chip lets go of the shared flash only while GPIO8 is low.
void DriveGpio8Low(Device& dev);
// The jump request of the chip's family, then the wait for the device to
// come back under its ROM IDs.
void JumpToRomCode(Device& dev, bool echo);

}  // namespace pdflash
