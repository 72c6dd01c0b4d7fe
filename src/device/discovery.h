// Finding and opening the controller's Billboard device.
#pragma once

#include <cstdint>
#include <string>

#include "app/tool.h"
#include "device/usb_link.h"

namespace pdflash {

// Opens interface n of the present devices; 0 on success, else a status
// (no_more set when there is no interface n).
uint32_t OpenDevice(Tool& t, uint32_t n, UsbLink& link, bool& no_more);
void CloseDevice(UsbLink& link);
// Hub and port digits (1..9) of interface n; 1 when both were found.
uint32_t GetRegistryLocation(Tool& t, uint32_t n, UsbLink& link, uint8_t& hub, uint8_t& port);

// 1 = target device found and open (closed again with close_after) and its
// checks passed; in_rom is set (never cleared) when the ROM code runs.
uint32_t SearchDevice(Tool& t, UsbLink& link, uint8_t d, uint8_t rom_only, uint8_t& in_rom,
                      uint8_t close_after);
// Up to 5 searches 3 s apart for device d in ROM code; 1 = found and open.
uint32_t WaitRomDevice(Tool& t, UsbLink& link, uint8_t d);
uint32_t SameIdFwResetAll(Tool& t, UsbLink& link, uint8_t d);
uint32_t SameIdFwCheckRom(Tool& t, UsbLink& link, uint8_t d, uint8_t expected);

}  // namespace pdflash
