#include "device/chip.h"

#include "device/controller.h"
#include "device/registers.h"

namespace pdflash {

uint8_t GetUsbAddress(Device& dev) {
  uint8_t value = 0;
  const uint8_t address = dev.ReadRegister(reg::kUsbAddress, value, false) ? value & 0x7F : 0;
  if (address == 0) {
    LogPrint(dev.out, "    Get_USB_Set_Address_Fail\n");
    return 0;
  }
  LogPrint(dev.out, "    Get_USB_Set_Address = 0x%02X\n", address);
  return address;
}

uint32_t ReadChipIdentity(Device& dev, DeviceRecord& rec, bool echo) {
  rec.ProjectId = 0;
  uint8_t identity = 0;
  uint32_t project_id = 0;
  if (!dev.ReadRegister(reg::kIdentity, identity, false)) {
    project_id = 0x01000000;  // what the oldest chip answers
  } else if (identity == 0xFF) {
    uint8_t hi = 0, lo = 0, ver = 0;
    dev.ReadRegister(reg::kExtIdHigh, hi, false);
    dev.ReadRegister(reg::kExtIdLow, lo, false);
    dev.ReadRegister(reg::kExtVersion, ver, false);
    if (echo) LogPrint(dev.out, "    Reg_ID=0x%02X%02X, Ver=0x%02X\n", hi, lo, ver);
    project_id = ProjectIdFromExtended(hi, lo, ver);
    LogPrint(dev.out, "    ProjectID = 0x%08X\n", project_id);
  } else {
    bool known = false;
    project_id = ProjectIdFromIdentity(identity, known);
    if (!known) LogPrint(dev.out, "    Reg[0018] = 0x%02X\n", identity);
  }
  rec.ProjectId = project_id;
  if (project_id >= 0x10000) {
    char name[200];
    FormatText(name, sizeof name, "KM%03X", project_id >> 16);
    rec.ChipName = name;
  }
  return project_id;
}

uint32_t SetGpio(Device& dev, uint8_t n, uint8_t level) {
  const bool high = level == 1;
  LogPrint(dev.out, high ? "    GPIO%X_High\n" : "    GPIO%X_Low\n", n);
  // Numbers outside 1..10 select register 0x0000 and no bits.
  uint16_t a = 0;
  uint8_t enable = 0, bit = 0;
  if (n >= 1 && n <= 4) {
    a = reg::kGpio1to4;
    enable = static_cast<uint8_t>(1u << (n + 3));
    bit = static_cast<uint8_t>(1u << (n - 1));
  } else if (n >= 5 && n <= 8) {
    a = reg::kGpio5to8;
    enable = static_cast<uint8_t>(1u << (n - 1));
    bit = static_cast<uint8_t>(1u << (n - 5));
  } else if (n >= 9 && n <= 10) {
    a = reg::kGpio9to10;
    enable = static_cast<uint8_t>(1u << (n - 3));
    bit = static_cast<uint8_t>(1u << (n - 7));
  }
  uint8_t value = 0;
  dev.ReadRegister(a, value, false);
  value |= enable;
  value = high ? static_cast<uint8_t>(value | bit) : static_cast<uint8_t>(value & ~bit);
  return dev.WriteRegister(a, value, false);
}

uint32_t I2cTestMode(Device& dev, uint8_t mode) {
  LogPrint(dev.out, "    I2C_Test_Mode 0x%X\n", mode);
  uint32_t result = 0;
  for (uint8_t i = 0; i < 6; ++i) {
    LogPrint(dev.out, i % 2 == 0 ? "Set Low for 3 seconds.\n" : "Set High for 3 seconds.\n");
    const uint8_t select[3] = {0x82, 0x03, 0xFE};
    const uint8_t drive[3] = {0x82, 0x01, static_cast<uint8_t>(i & 1)};
    dev.I2cWriteCommand(req::kI2cWrite, sizeof select, select);
    result = dev.I2cWriteCommand(req::kI2cWrite, sizeof drive, drive);
    dev.clock.SleepMs(3000);
  }
  return result;
}

}  // namespace pdflash
