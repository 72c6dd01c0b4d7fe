#include "flash/spi.h"

#include <vector>

#include "app/log.h"
#include "device/vendor.h"

namespace pdflash {

namespace {

// identify, write enable, write status, chip erase, read, read status, page
// program, spare, sector erase. A sector erase of 0x00 means the part has none.
constexpr std::array<FlashCommands, kFlashRows> kFlashTable = {{
    {0x9F, 0x06, 0x01, 0xC7, 0x03, 0x05, 0x02, 0x20, 0x20},
    {0x15, 0x06, 0x01, 0x62, 0x03, 0x05, 0x02, 0x20, 0x00},
    {0x9F, 0x06, 0x01, 0x60, 0x03, 0x05, 0x02, 0x20, 0x20},
    {0x9F, 0x06, 0x01, 0xC7, 0x03, 0x05, 0x02, 0x20, 0x20},
    {0x9F, 0x06, 0x01, 0xC7, 0x03, 0x05, 0x02, 0x20, 0x00},
    {0x9F, 0x06, 0x01, 0x60, 0x03, 0x05, 0x02, 0x20, 0x20},
    {0x9F, 0x06, 0x01, 0x60, 0x03, 0x05, 0x02, 0x20, 0x20},
    {0x90, 0x06, 0x01, 0x60, 0x03, 0x05, 0x02, 0x20, 0x20},
    {0x90, 0x06, 0x01, 0xC7, 0x03, 0x05, 0x02, 0x20, 0xD7},
    {0xAB, 0x06, 0x01, 0xC7, 0x03, 0x05, 0x02, 0x20, 0xD7},
    {0x9F, 0x06, 0x01, 0xC7, 0x03, 0x05, 0x02, 0x20, 0x20},
    {0x9F, 0x06, 0x01, 0xC7, 0x03, 0x05, 0x02, 0x20, 0x20},
    {0x9F, 0x06, 0x01, 0x60, 0x03, 0x05, 0x02, 0x20, 0x20},
    {0x9F, 0x06, 0x01, 0x60, 0x03, 0x05, 0x02, 0x20, 0x20},
    {0x9F, 0x06, 0x01, 0x60, 0x03, 0x05, 0x02, 0x20, 0x20},
}};

// Row 7 is an SST-type part: its status register needs its own enable.
constexpr uint8_t kSstRow = 7;
constexpr uint8_t kVolatileWriteEnable = 0x50;
constexpr uint8_t kReadStatus2 = 0x35;
constexpr uint8_t kWriteStatus2 = 0x31;

uint16_t FlashValue(uint32_t address, uint8_t opcode) {
  return static_cast<uint16_t>(((address & 0xFF) << 8) | opcode);
}
uint16_t FlashIndex(uint32_t address) {
  return static_cast<uint16_t>((address >> 8) & 0xFFFF);
}

}  // namespace

const FlashCommands& FlashRow(uint8_t row) {
  // Callers only pass table rows; anything else falls back to the default part.
  return kFlashTable[row < kFlashRows ? row : 0];
}

uint32_t SpiChipErase(Tool& t, UsbLink& h, uint8_t opcode) {
  if (!VendorTransfer(t, h, kVendorOut, 0xD1, opcode, 0, 0, nullptr)) {
    LogPrint(t, "Chip_Erase_FAIL\n");
    return 0;
  }
  return 1;
}

uint32_t SpiSectorErase(Tool& t, UsbLink& h, uint8_t opcode, uint32_t address) {
  if (!VendorTransfer(t, h, kVendorOut, 0xD2, FlashValue(address, opcode), FlashIndex(address), 0,
                      nullptr)) {
    LogPrint(t, "Sector_Erase_FAIL\n");
    return 0;
  }
  return 1;
}

uint32_t SpiCommand(Tool& t, UsbLink& h, uint8_t opcode) {
  if (!VendorTransfer(t, h, kVendorOut, 0xD4, opcode, 0, 0, nullptr)) {
    LogPrint(t, "Write_Enable_FAIL\n");
    return 0;
  }
  return 1;
}

uint32_t SpiWriteStatus(Tool& t, UsbLink& h, uint8_t opcode, uint8_t value) {
  const bool ok = VendorTransfer(t, h, kVendorOut, 0xD8, static_cast<uint16_t>(value << 8 | opcode),
                                 0, 0, nullptr);
  if (!ok) LogPrint(t, "Write_Status_FAIL\n");
  // A status write is a non-volatile cycle; give the part its time either way.
  t.clock.SleepMs(100);
  return ok ? 1 : 0;
}

uint32_t SpiReadStatus(Tool& t, UsbLink& h, uint8_t opcode, uint16_t length, uint8_t* out) {
  if (!VendorTransfer(t, h, kVendorIn, 0xC2, opcode, 0, length, out)) {
    LogPrint(t, "Read_Status_FAIL\n");
    return 0;
  }
  return 1;
}

uint32_t SpiReadData(Tool& t, UsbLink& h, uint8_t opcode, uint32_t address, uint32_t offset,
                     uint16_t length, uint8_t* buffer) {
  if (!VendorTransfer(t, h, kVendorIn, 0xC4, FlashValue(address, opcode), FlashIndex(address),
                      length, buffer + offset)) {
    LogPrint(t, "Read_Data_FAIL\n");
    return 0;
  }
  return 1;
}

uint32_t SpiWriteData(Tool& t, UsbLink& h, uint8_t opcode, uint32_t address, uint32_t offset,
                      uint16_t length, const uint8_t* buffer) {
  std::vector<uint8_t> data(buffer + offset, buffer + offset + length);
  const bool ok = VendorTransfer(t, h, kVendorOut, 0xDC, FlashValue(address, opcode),
                                 FlashIndex(address), length, data.data());
  if (!ok) LogPrint(t, "Write_Data_FAIL\n");
  // Page program time of the slowest supported part.
  StepTimer(t, 5000);
  return ok ? 1 : 0;
}

uint32_t SpiWaitReady(Tool& t, UsbLink& h, uint8_t read_status_opcode, bool slow) {
  constexpr uint32_t kMaxPolls = 200;
  uint32_t consecutive = 0;
  uint32_t polls = 0;
  uint8_t status = 0x03;
  uint32_t result = 0;
  for (;;) {
    status = 0x03;
    if (!SpiReadStatus(t, h, read_status_opcode, 1, &status)) {
      LogPrint(t, "  Wait_Cmd_Fail\n");
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
      t.clock.SleepMs(500);
    else
      StepTimer(t, 5000);
    if (++polls == kMaxPolls) {
      LogPrint(t, "  Wait_Cnt = %d, Sts = %X\n", polls, status);
      return 0;
    }
  }
  if (polls >= 3) LogPrint(t, "  Wait_Cnt = %d, Sts = %X\n", polls, status);
  return result;
}

uint32_t WriteFlashStatus(Tool& t, UsbLink& h, uint8_t row, uint8_t value, uint8_t verbose) {
  const FlashCommands& cmd = FlashRow(row);
  if (verbose) LogPrint(t, "    Do_SPI_Write_Status_0x%02X\n", value);
  uint32_t result = 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (t.set.SPIFlashType == 10) {
      if (verbose) LogPrint(t, "    W25X_Additional_WriteEN_0xAA_0x55\n");
      SpiCommand(t, h, 0xAA);
      SpiCommand(t, h, 0x55);
    }
    SpiCommand(t, h, t.set.VolatileSRWrEn ? kVolatileWriteEnable : cmd.WriteEnable);
    if (t.set.SPIFlashType == 14 || row == kSstRow) {
      if (verbose) LogPrint(t, "    SST_Special_SPI_WriteEN_0x50\n");
      SpiWriteStatus(t, h, kVolatileWriteEnable, value);
    }
    SpiWriteStatus(t, h, cmd.WriteStatus, value);
    uint8_t status = 0x03;
    result = SpiReadStatus(t, h, cmd.ReadStatus, 1, &status);
    if (verbose) LogPrint(t, "    SPI_Status_%d = 0x%02X\n", attempt, status);
    if (status == value) {
      result = 1;
      break;
    }
  }
  if (t.set.SPIFlashType != 14 || value != 0) return result;

  // These parts keep protection and QE bits in status register 2 as well.
  uint8_t status2 = 0;
  uint32_t ok = SpiReadStatus(t, h, kReadStatus2, 1, &status2);
  LogPrint(t, "    StatusReg2 = 0x%02X\n", status2);
  if ((status2 & 0x46) == 0) return ok;
  const uint8_t repaired = status2 & 0x18;
  LogPrint(t, "    Write_StatusReg2_To_0x%02X\n", repaired);
  SpiCommand(t, h, cmd.WriteEnable);
  SpiWriteStatus(t, h, kWriteStatus2, repaired);
  ok = SpiReadStatus(t, h, kReadStatus2, 1, &status2);
  LogPrint(t, "    StatusReg2 = 0x%02X\n", status2);
  return ok;
}

namespace {

// Clocks one byte through the register-level SPI master.
void ShiftSpiByte(Tool& t, UsbLink& h) {
  SetRegisterBits(t, h, 0x00F0, 0x04);
  PollRegister(t, h, 0x00F1, 0x01, 0x00);
}

}  // namespace

uint32_t PdRegisterReadSpi(Tool& t, UsbLink& h, uint8_t opcode, uint32_t address, uint32_t offset,
                           uint32_t count, uint8_t* buffer) {
  const bool echo = t.set.DbgMsg >= 8;
  if (echo) LogPrint(t, "    PDRegisterReadSPI\n");
  SetRegisterBits(t, h, 0x00F7, 0x01);
  WriteRegister(t, h, 0x00F5, 0x00, echo);
  WriteRegister(t, h, 0x00F5, 0xC0, echo);
  WriteRegister(t, h, 0x00F6, opcode, echo);
  ShiftSpiByte(t, h);
  for (const int shift : {16, 8, 0}) {
    WriteRegister(t, h, 0x00F6, static_cast<uint8_t>(address >> shift), echo);
    ShiftSpiByte(t, h);
  }
  uint8_t byte = 0;
  for (uint32_t i = 0; i < count; ++i) {
    WriteRegister(t, h, 0x00F5, 0x40, echo);
    ShiftSpiByte(t, h);
    // A failed read repeats the previous byte.
    ReadRegister(t, h, 0x00F6, byte, echo);
    buffer[offset + i] = byte;
  }
  return WriteRegister(t, h, 0x00F5, 0x00, echo);
}

}  // namespace pdflash
