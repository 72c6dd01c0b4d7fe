// Switching the controller from application firmware to ROM code, and the
// unlock-challenge gate that lets only challenge-enabled firmware through.
#pragma once

#include <cstdint>

#include "device/device.h"
#include "ops/tool.h"

namespace pdflash {

// Prepares the controller, drives GPIO8 low where the VMM6 shares the flash,
// passes the challenge gate when one is configured and sends the jump.
// 1 when the jump was sent (or ROM code already runs).
uint32_t ResetToRom(Tool& t, Device& dev, bool echo);

// Opens the challenge, then lets the run go on only with a file built for
// it under the challenge VID (or when the setting skips the check, with
// `skip_line`); otherwise prints `refuse_format` (flag word, current VID of
// PD record 1), locks the challenge again and returns false. Without
// `read_file_flag` the file's flag counts as challenge-enabled: the
// information-zone writes carry no file, only the VID decides.
bool ChallengeFileGate(Tool& t, Device& dev, uint16_t vid, const char* skip_line,
                       const char* refuse_format, bool read_file_flag = true);

}  // namespace pdflash
