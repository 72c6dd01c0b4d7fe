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

// Pieces the searches share.
struct DescriptorIds {
  uint16_t vid = 0, pid = 0, bcd = 0;
};
// idVendor, idProduct and bcdDevice of the open device (0 when unreadable).
DescriptorIds ReadDescriptorIds(UsbLink& link);
// True when vid/pid is PD record d's controller: an application pair (not
// with rom_only; an alternative pair only when configured) or the ROM pair.
bool MatchesPdRecord(const DeviceRecord& rec, uint16_t vid, uint16_t pid, uint8_t rom_only);
// For the chips that report it, reads the cable orientation; true (after
// telling the user) when the USB-C cable must be flipped.
bool CableNeedsFlip(Tool& t, UsbLink& link);

}  // namespace pdflash
