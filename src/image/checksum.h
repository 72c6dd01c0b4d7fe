// CRC-8, CRC-16, CRC-32 and the 16-bit one's-complement sum of the image
// formats. The pure forms compute; the Get/Check forms add the tool's lines.
#pragma once

#include <cstdint>

#include "core/output.h"

namespace pdflash {

// CRC-8/SMBUS (poly 0x07, init 0).
uint8_t Crc8(const uint8_t* b, uint32_t len);
// CRC-16/USB (reflected 0x8005, init 0xFFFF, final xor 0xFFFF); 0 for len < 1.
uint16_t GetCrc16(const uint8_t* b, int32_t len);
// MSB-first CRC-32 with poly 0x04C11DB7, init 0, no final xor.
uint32_t Crc32(const uint8_t* b, uint32_t len);

// True when the image's last two bytes hold the CRC-16 of the rest (low byte
// first).
bool Crc16Trailer(const uint8_t* image, uint32_t size);
// Stores the CRC-16 of the first size-2 bytes into the last two.
void StampCrc16(uint8_t* image, uint32_t size);

uint8_t GetCrc8(Output& out, const uint8_t* b, uint32_t len, uint8_t print);
uint32_t CheckCrc32(Output& out, const uint8_t* b, uint32_t len, uint8_t print);
// RFC 1071 checksum over big-endian words; an odd length is padded with a
// zero byte.
uint16_t CheckSum16(Output& out, const uint8_t* b, uint32_t len);

}  // namespace pdflash
