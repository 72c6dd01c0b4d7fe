// Single SPI flash commands carried in vendor requests, the flash command
// table, the ready wait, the status-register write and the register-driven
// read path.
#pragma once

#include <array>
#include <cstdint>

#include "app/tool.h"
#include "device/usb_link.h"

namespace pdflash {

struct FlashCommands {
  uint8_t Identify, WriteEnable, WriteStatus, ChipErase, Read, ReadStatus, PageProgram, Spare,
      SectorErase;
};
inline constexpr size_t kFlashRows = 15;
const FlashCommands& FlashRow(uint8_t row);

uint32_t SpiChipErase(Tool& t, UsbLink& h, uint8_t opcode);
uint32_t SpiSectorErase(Tool& t, UsbLink& h, uint8_t opcode, uint32_t address);
uint32_t SpiCommand(Tool& t, UsbLink& h, uint8_t opcode);
uint32_t SpiWriteStatus(Tool& t, UsbLink& h, uint8_t opcode, uint8_t value);
uint32_t SpiReadStatus(Tool& t, UsbLink& h, uint8_t opcode, uint16_t length, uint8_t* out);
uint32_t SpiReadData(Tool& t, UsbLink& h, uint8_t opcode, uint32_t address, uint32_t offset,
                     uint16_t length, uint8_t* buffer);
uint32_t SpiWriteData(Tool& t, UsbLink& h, uint8_t opcode, uint32_t address, uint32_t offset,
                      uint16_t length, const uint8_t* buffer);
uint32_t SpiWaitReady(Tool& t, UsbLink& h, uint8_t read_status_opcode, bool slow);
uint32_t WriteFlashStatus(Tool& t, UsbLink& h, uint8_t row, uint8_t value, uint8_t verbose);
uint32_t PdRegisterReadSpi(Tool& t, UsbLink& h, uint8_t opcode, uint32_t address, uint32_t offset,
                           uint32_t count, uint8_t* buffer);

}  // namespace pdflash
