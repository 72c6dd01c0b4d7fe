// The CRC-16 the ROM code checks a firmware copy with (the USB variant:
// reflected polynomial 0x8005, init 0xFFFF, final xor 0xFFFF). The device
// keeps its own rather than borrowing the tool's, so a fault in the tool's
// CRC shows up as a copy the device refuses.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pdflash::sim {

uint16_t Crc16Usb(const uint8_t* bytes, size_t size);

// True when the last two bytes of `image` hold the CRC-16 of the rest, low
// byte first.
bool HasCrc16Trailer(const uint8_t* image, size_t size);

}  // namespace pdflash::sim
