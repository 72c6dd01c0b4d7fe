// Single SPI flash commands carried in vendor requests, the ready wait, the
// status-register write and the register-driven read path.
#pragma once

#include <cstdint>

#include "core/records.h"
#include "device/device.h"

namespace pdflash {

uint32_t SpiChipErase(Device& dev, uint8_t opcode);
uint32_t SpiSectorErase(Device& dev, uint8_t opcode, uint32_t address);
// A write enable or any other opcode-only command.
uint32_t SpiCommand(Device& dev, uint8_t opcode);
uint32_t SpiWriteStatus(Device& dev, uint8_t opcode, uint8_t value);
uint32_t SpiReadStatus(Device& dev, uint8_t opcode, uint16_t length, uint8_t* out);
uint32_t SpiReadData(Device& dev, uint8_t opcode, uint32_t address, uint32_t offset,
                     uint16_t length, uint8_t* buffer);
uint32_t SpiWriteData(Device& dev, uint8_t opcode, uint32_t address, uint32_t offset,
                      uint16_t length, const uint8_t* buffer);
// `length` bytes from `address` in 32-byte reads into buffer + offset; false
// at the first read that fails.
bool SpiReadPieces(Device& dev, uint8_t opcode, uint32_t address, uint32_t offset,
                   uint32_t length, uint8_t* buffer);
// Two clean status reads in a row; slow polls sleep 500 ms, fast ones spin 5 ms.
uint32_t SpiWaitReady(Device& dev, uint8_t read_status_opcode, bool slow);
// Writes status register 1 with the row's opcodes and the quirks of the row
// and of the SPIFlashType setting (`s` gives that and VolatileSRWrEn).
uint32_t WriteFlashStatus(Device& dev, const RunSettings& s, uint8_t row, uint8_t value,
                          uint8_t verbose);
// Reads through the register-level SPI master, byte by byte (short reads only).
uint32_t PdRegisterReadSpi(Device& dev, uint8_t opcode, uint32_t address, uint32_t offset,
                           uint32_t count, uint8_t* buffer, bool echo);

}  // namespace pdflash
