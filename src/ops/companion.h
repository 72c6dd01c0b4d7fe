// Companion chips that keep their firmware in the PD controller's flash: the
// DP converter, the hub controller and the VMM6 DP hub.
#pragma once

#include <cstdint>

#include "app/tool.h"
#include "device/usb_link.h"

namespace pdflash {

// mode: non-zero = update, 0 = backup.
uint32_t Vmm6Update(Tool& t, UsbLink& h, uint8_t mode, uint8_t row);
uint32_t DpFwUpdate(Tool& t, UsbLink& h, uint8_t row);
uint32_t DpFwBackup(Tool& t, UsbLink& h, uint8_t row);

// False (with one line) when the share settings ask for companion updates
// this build cannot do; checked before the PD flash is touched.
bool CompanionUpdatesAvailable(Tool& t);

}  // namespace pdflash
