#include "flash/spi.h"

#include "device/registers.h"
#include "flash/parts.h"

namespace pdflash {

namespace {

constexpr uint8_t kVolatileWriteEnable = 0x50;
constexpr uint8_t kW25xEnable1 = 0xAA, kW25xEnable2 = 0x55;
constexpr uint8_t kReadStatus2 = 0x35;
constexpr uint8_t kWriteStatus2 = 0x31;

uint16_t FlashValue(uint32_t address, uint8_t opcode) {
  return static_cast<uint16_t>(((address & 0xFF) << 8) | opcode);
}
uint16_t FlashIndex(uint32_t address) {
  return static_cast<uint16_t>((address >> 8) & 0xFFFF);
}

// One flash request; a failed transfer prints the request's line.
uint32_t Request(Device& dev, uint8_t type, uint8_t request, uint16_t value, uint16_t index,
                 uint16_t length, uint8_t* data, const char* failure) {
  if (dev.Transfer(type, request, value, index, length, data)) return 1;
  LogPrint(dev.out, "%s", failure);
  return 0;
}

}  // namespace

uint32_t SpiChipErase(Device& dev, uint8_t opcode) {
  return Request(dev, kVendorOut, req::kSpiChipErase, opcode, 0, 0, nullptr, "Chip_Erase_FAIL\n");
}

uint32_t SpiSectorErase(Device& dev, uint8_t opcode, uint32_t address) {
  return Request(dev, kVendorOut, req::kSpiSectorErase, FlashValue(address, opcode),
                 FlashIndex(address), 0, nullptr, "Sector_Erase_FAIL\n");
}

uint32_t SpiCommand(Device& dev, uint8_t opcode) {
  return Request(dev, kVendorOut, req::kSpiCommand, opcode, 0, 0, nullptr, "Write_Enable_FAIL\n");
}

uint32_t SpiWriteStatus(Device& dev, uint8_t opcode, uint8_t value) {
  const uint32_t ok =
      Request(dev, kVendorOut, req::kSpiWriteStatus, static_cast<uint16_t>(value << 8 | opcode), 0,
              0, nullptr, "Write_Status_FAIL\n");
  // A status write is a non-volatile cycle; give the part its time either way.
  dev.clock.SleepMs(100);
  return ok;
}

uint32_t SpiReadStatus(Device& dev, uint8_t opcode, uint16_t length, uint8_t* out) {
  return Request(dev, kVendorIn, req::kSpiReadStatus, opcode, 0, length, out, "Read_Status_FAIL\n");
}

uint32_t SpiReadData(Device& dev, uint8_t opcode, uint32_t address, uint32_t offset,
                     uint16_t length, uint8_t* buffer) {
  return Request(dev, kVendorIn, req::kSpiReadData, FlashValue(address, opcode),
                 FlashIndex(address), length, buffer + offset, "Read_Data_FAIL\n");
}

bool SpiReadPieces(Device& dev, uint8_t opcode, uint32_t address, uint32_t offset,
                   uint32_t length, uint8_t* buffer) {
  for (uint32_t o = 0; o < length; o += 32)
    if (SpiReadData(dev, opcode, address + o, offset + o, 32, buffer) != 1) return false;
  return true;
}

uint32_t SpiWriteData(Device& dev, uint8_t opcode, uint32_t address, uint32_t offset,
                      uint16_t length, const uint8_t* buffer) {
  const bool ok = dev.Send(req::kSpiWriteData, FlashValue(address, opcode), FlashIndex(address),
                           length, buffer + offset);
  if (!ok) LogPrint(dev.out, "Write_Data_FAIL\n");
  // Page program time of the slowest supported part.
  dev.clock.BusyWaitUs(5000);
  return ok ? 1 : 0;
}

uint32_t SpiWaitReady(Device& dev, uint8_t read_status_opcode, bool slow) {
  constexpr uint32_t kMaxPolls = 200;
  uint32_t consecutive = 0;
  uint32_t polls = 0;
  uint8_t status = 0x03;
  uint32_t result = 0;
  for (;;) {
    status = 0x03;
    if (!SpiReadStatus(dev, read_status_opcode, 1, &status)) {
      LogPrint(dev.out, "  Wait_Cmd_Fail\n");
      result = 0;
      break;
    }
    // One clean read can race the start of an internal cycle; trust two in a row.
    consecutive = (status & 0x03) == 0 ? consecutive + 1 : 0;
    if (consecutive == 2) {
      result = 1;
      break;
    }
    if (slow)
      dev.clock.SleepMs(500);
    else
      dev.clock.BusyWaitUs(5000);
    if (++polls == kMaxPolls) {
      LogPrint(dev.out, "  Wait_Cnt = %d, Sts = %X\n", polls, status);
      return 0;
    }
  }
  if (polls >= 3) LogPrint(dev.out, "  Wait_Cnt = %d, Sts = %X\n", polls, status);
  return result;
}

uint32_t WriteFlashStatus(Device& dev, const RunSettings& s, uint8_t row, uint8_t value,
                          uint8_t verbose) {
  Output& out = dev.out;
  const FlashPart& part = FlashRow(row);
  const uint8_t quirks = part.quirks | FlashTypeQuirks(s.SPIFlashType);
  if (verbose) LogPrint(out, "    Do_SPI_Write_Status_0x%02X\n", value);
  uint32_t result = 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (quirks & kQuirkW25xExtraEnable) {
      if (verbose) LogPrint(out, "    W25X_Additional_WriteEN_0xAA_0x55\n");
      SpiCommand(dev, kW25xEnable1);
      SpiCommand(dev, kW25xEnable2);
    }
    SpiCommand(dev, s.VolatileSRWrEn ? kVolatileWriteEnable : part.WriteEnable);
    if (quirks & kQuirkSstStatusEnable) {
      if (verbose) LogPrint(out, "    SST_Special_SPI_WriteEN_0x50\n");
      SpiWriteStatus(dev, kVolatileWriteEnable, value);
    }
    SpiWriteStatus(dev, part.WriteStatus, value);
    uint8_t status = 0x03;
    result = SpiReadStatus(dev, part.ReadStatus, 1, &status);
    if (verbose) LogPrint(out, "    SPI_Status_%d = 0x%02X\n", attempt, status);
    if (status == value) {
      result = 1;
      break;
    }
  }
  if (!(quirks & kQuirkStatus2Repair) || value != 0) return result;

  uint8_t status2 = 0;
  uint32_t ok = SpiReadStatus(dev, kReadStatus2, 1, &status2);
  LogPrint(out, "    StatusReg2 = 0x%02X\n", status2);
  if ((status2 & 0x46) == 0) return ok;
  const uint8_t repaired = status2 & 0x18;
  LogPrint(out, "    Write_StatusReg2_To_0x%02X\n", repaired);
  SpiCommand(dev, part.WriteEnable);
  SpiWriteStatus(dev, kWriteStatus2, repaired);
  ok = SpiReadStatus(dev, kReadStatus2, 1, &status2);
  LogPrint(out, "    StatusReg2 = 0x%02X\n", status2);
  return ok;
}

namespace {

// Clocks one byte through the register-level SPI master.
void ShiftSpiByte(Device& dev) {
  dev.SetRegisterBits(reg::kSpiStart, 0x04);
  dev.PollRegister(reg::kSpiBusy, 0x01, 0x00);
}

}  // namespace

uint32_t PdRegisterReadSpi(Device& dev, uint8_t opcode, uint32_t address, uint32_t offset,
                           uint32_t count, uint8_t* buffer, bool echo) {
  if (echo) LogPrint(dev.out, "    PDRegisterReadSPI\n");
  dev.SetRegisterBits(reg::kSpiControl, reg::kSpiMasterOn);
  dev.WriteRegister(reg::kSpiMode, 0x00, echo);
  dev.WriteRegister(reg::kSpiMode, 0xC0, echo);
  dev.WriteRegister(reg::kSpiData, opcode, echo);
  ShiftSpiByte(dev);
  for (const int shift : {16, 8, 0}) {
    dev.WriteRegister(reg::kSpiData, static_cast<uint8_t>(address >> shift), echo);
    ShiftSpiByte(dev);
  }
  uint8_t byte = 0;
  for (uint32_t i = 0; i < count; ++i) {
    dev.WriteRegister(reg::kSpiMode, 0x40, echo);
    ShiftSpiByte(dev);
    // A failed read repeats the previous byte.
    dev.ReadRegister(reg::kSpiData, byte, echo);
    buffer[offset + i] = byte;
  }
  return dev.WriteRegister(reg::kSpiMode, 0x00, echo);
}

}  // namespace pdflash
