// PD firmware versions read from the running device and its flash.
#pragma once

#include <cstdint>

#include "app/tool.h"
#include "device/usb_link.h"

namespace pdflash {

void GetPdFwVersion(Tool& t, UsbLink& h, uint8_t d, bool print);
void GetPdFormalVer(Tool& t, UsbLink& h, uint8_t in_rom);
void GetPdSpiVersion(Tool& t, UsbLink& h, uint8_t d, uint8_t selector, uint8_t verbose);

}  // namespace pdflash
