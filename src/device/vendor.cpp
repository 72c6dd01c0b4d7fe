#include "device/vendor.h"

#include <cstring>
#include <vector>

#include "app/log.h"

namespace pdflash {

namespace {

// Register sub-commands carried in the low byte of wValue.
constexpr uint8_t kRegRead = 0x01;
constexpr uint8_t kRegWrite = 0x02;
constexpr uint8_t kRegReadBlock = 0x03;
constexpr uint8_t kRegWriteBlock = 0x04;
constexpr uint8_t kRegReadBlockDown = 0x05;
constexpr uint8_t kRegWriteBlockDown = 0x06;
constexpr uint8_t kRegisterRequest = 0xE0;
constexpr uint8_t kMaxBlock = 32;

uint16_t RegValue(uint16_t a, uint8_t sub) {
  return static_cast<uint16_t>(((a & 0xFF) << 8) | sub);
}
uint16_t RegIndex(uint16_t a) {
  return static_cast<uint16_t>(a >> 8);
}

bool RegisterTransfer(Tool& t, UsbLink& h, uint8_t type, uint16_t a, uint8_t sub, uint16_t length,
                      uint8_t* data) {
  return VendorTransfer(t, h, type, kRegisterRequest, RegValue(a, sub), RegIndex(a), length, data);
}

// Out transfers hand the device a writable buffer; keep the caller's const.
bool SendOut(Tool& t, UsbLink& h, uint8_t request, uint16_t value, uint16_t index, uint16_t length,
             const uint8_t* data) {
  std::vector<uint8_t> copy(data, data + (data ? length : 0));
  copy.resize(length);
  return VendorTransfer(t, h, kVendorOut, request, value, index, length, copy.data());
}

}  // namespace

bool VendorTransfer(Tool& t, UsbLink& h, uint8_t type, uint8_t request, uint16_t value,
                    uint16_t index, uint16_t length, uint8_t* data) {
  // The controller firmware cannot take requests back to back.
  StepTimer(t, 1000);
  if (!h.open || !h.dev) return false;
  SetupPacket setup;
  setup.bmRequestType = type;
  setup.bRequest = request;
  setup.wValue = value;
  setup.wIndex = index;
  setup.wLength = length;
  return h.dev->ControlTransfer(setup, data);
}

uint32_t ReadRegister(Tool& t, UsbLink& h, uint16_t a, uint8_t& value, bool echo) {
  uint8_t byte = 0;
  if (!RegisterTransfer(t, h, kVendorIn, a, kRegRead, 1, &byte)) {
    LogPrint(t, "Read-Reg 0x%04X Fail\n", a);
    return 0;
  }
  value = byte;
  if (echo) LogPrint(t, "    Read-Reg 0x%04X = 0x%02X\n", a, byte);
  return 1;
}

uint32_t WriteRegister(Tool& t, UsbLink& h, uint16_t a, uint8_t value, bool echo) {
  uint8_t byte = value;
  if (!RegisterTransfer(t, h, kVendorOut, a, kRegWrite, 1, &byte)) {
    LogPrint(t, "Write-Reg 0x%04X  Fail\n", a);
    return 0;
  }
  if (echo) LogPrint(t, "    Write-Reg 0x%04X = 0x%02X\n", a, value);
  return 1;
}

uint32_t ReadRegisterBlock(Tool& t, UsbLink& h, uint16_t a, uint8_t* out, uint8_t n, bool echo) {
  if (n > kMaxBlock) return 0;
  uint8_t bytes[kMaxBlock] = {};
  if (!RegisterTransfer(t, h, kVendorIn, a, kRegReadBlock, n, bytes)) {
    LogPrint(t, "Read-Reg [0x%04X] Fail\n", a);
    return 0;
  }
  if (n > 0) std::memcpy(out, bytes, n);
  for (uint8_t i = 0; echo && i < n; ++i)
    LogPrint(t, "    Read-reg [0x%04X] = 0x%02X\n", static_cast<uint16_t>(a + i), bytes[i]);
  return 1;
}

uint32_t WriteRegisterBlock(Tool& t, UsbLink& h, uint16_t a, const uint8_t* in, uint8_t n,
                            bool echo) {
  if (n > kMaxBlock) return 0;
  uint8_t bytes[kMaxBlock] = {};
  if (n > 0) std::memcpy(bytes, in, n);
  if (!RegisterTransfer(t, h, kVendorOut, a, kRegWriteBlock, n, bytes)) {
    LogPrint(t, "Write-reg_[0x%04X] Fail\n", a);
    return 0;
  }
  for (uint8_t i = 0; echo && i < n; ++i)
    LogPrint(t, "    Write-reg_[0x%04X] = 0x%02X\n", static_cast<uint16_t>(a + i), bytes[i]);
  return 1;
}

uint32_t ReadRegisterBlockDescending(Tool& t, UsbLink& h, uint16_t a, uint8_t* out, uint8_t n,
                                     bool echo) {
  if (n > kMaxBlock) return 0;
  uint8_t bytes[kMaxBlock] = {};
  if (!RegisterTransfer(t, h, kVendorIn, a, kRegReadBlockDown, n, bytes)) {
    LogPrint(t, "Read-reg [0x%04X] Fail\n", a);
    return 0;
  }
  if (n > 0) std::memcpy(out, bytes, n);
  for (uint8_t i = 0; echo && i < n; ++i)
    LogPrint(t, "    Read-reg [0x%04X] = 0x%02X\n", static_cast<uint16_t>(a - i), bytes[i]);
  return 1;
}

uint32_t WriteRegisterBlockDescending(Tool& t, UsbLink& h, uint16_t a, const uint8_t* in, uint8_t n,
                                      bool echo) {
  if (n > kMaxBlock) return 0;
  uint8_t bytes[kMaxBlock] = {};
  if (n > 0) std::memcpy(bytes, in, n);
  if (!RegisterTransfer(t, h, kVendorOut, a, kRegWriteBlockDown, n, bytes)) {
    LogPrint(t, "Write-reg_[0x%04X] Fail\n", a);
    return 0;
  }
  for (uint8_t i = 0; echo && i < n; ++i)
    LogPrint(t, "    Write-reg_[0x%04X] = 0x%02X\n", static_cast<uint16_t>(a - i), bytes[i]);
  return 1;
}

uint32_t SetRegisterBits(Tool& t, UsbLink& h, uint16_t a, uint8_t mask) {
  uint8_t old = 0;
  ReadRegister(t, h, a, old, false);
  return WriteRegister(t, h, a, static_cast<uint8_t>(old | mask), false);
}

uint32_t PollRegister(Tool& t, UsbLink& h, uint16_t a, uint8_t mask, uint8_t expected) {
  constexpr uint32_t kMaxPolls = 4096;
  for (uint32_t attempts = 0;;) {
    uint8_t value = 0;
    if (!ReadRegister(t, h, a, value, false)) return 0;
    if ((value & mask) == expected) return 1;
    StepTimer(t, 1);
    if (++attempts >= kMaxPolls) return 0;
  }
}

uint32_t VdrWrite(Tool& t, UsbLink& h, uint8_t code, bool echo) {
  if (!VendorTransfer(t, h, kVendorOut, code, 0, 0, 0, nullptr)) {
    // The jump requests take the device off the bus, so their failure is expected.
    if (code != 0xB0 && code != 0xC0) LogPrint(t, "VDR-Write 0x%02X Fail\n", code);
    return 0;
  }
  if (echo) LogPrint(t, "    VDR-Write 0x%02X\n", code);
  return 1;
}

uint32_t I2cWriteCommand(Tool& t, UsbLink& h, uint8_t command, uint16_t length,
                         const uint8_t* data) {
  if (!SendOut(t, h, command, 0, 0, length, data)) {
    LogPrint(t, "I2C-WriteCmd %02X Fail\n", command);
    return 0;
  }
  return 1;
}

uint32_t I2cReadCommand(Tool& t, UsbLink& h, uint8_t command, uint8_t index, uint16_t length,
                        uint8_t* out) {
  std::vector<uint8_t> bytes(length);
  if (!VendorTransfer(t, h, kVendorIn, command, 0, index, length, bytes.data())) {
    LogPrint(t, "I2C-ReadCmd %02X Fail\n", command);
    return 0;
  }
  if (length > 0) std::memcpy(out, bytes.data(), length);
  return 1;
}

uint32_t ReadTaskStatus(Tool& t, UsbLink& h, uint16_t length, uint8_t* out) {
  std::vector<uint8_t> bytes(length);
  if (!VendorTransfer(t, h, kVendorIn, 0xC5, 0, 0, length, bytes.data())) {
    LogPrint(t, "Read_TaskStatus_FAIL\n");
    return 0;
  }
  if (length > 0) std::memcpy(out, bytes.data(), length);
  return 1;
}

void GetUsbAddress(Tool& t, UsbLink& h) {
  t.CurrentUsbAddress = 0;
  uint8_t value = 0;
  if (!ReadRegister(t, h, 0x0021, value, false)) {
    LogPrint(t, "    Get_USB_Set_Address_Fail\n");
    return;
  }
  const uint8_t address = value & 0x7F;
  if (address == 0) {
    LogPrint(t, "    Get_USB_Set_Address_Fail\n");
    return;
  }
  t.CurrentUsbAddress = address;
  LogPrint(t, "    Get_USB_Set_Address = 0x%02X\n", address);
}

namespace {

struct IdentityRow {
  uint8_t reg;
  uint32_t project_id;
};

// Identity register 0x0018 to project ID; 0xFF means "see the extended identity".
constexpr IdentityRow kIdentityTable[] = {
    {0x00, 0x01000000}, {0x10, 0x01020000}, {0x70, 0x01030000},
    {0x80, 0x01030000}, {0x81, 0x01030000}, {0x90, 0x01040000},
    {0xA0, 0x01050000}, {0xB0, 0x01060000}, {0xC0, 0x01070000},
};

uint32_t ExtendedIdentity(Tool& t, UsbLink& h, bool echo) {
  uint8_t hi = 0, lo = 0, ver = 0;
  ReadRegister(t, h, 0x009C, hi, false);
  ReadRegister(t, h, 0x009D, lo, false);
  ReadRegister(t, h, 0x009E, ver, false);
  if (echo) LogPrint(t, "    Reg_ID=0x%02X%02X, Ver=0x%02X\n", hi, lo, ver);
  uint32_t code = static_cast<uint32_t>(hi) << 8 | lo;
  if (hi == 0x35 && lo == 0x96)
    code = 0x0108;
  else if (hi == 0x36 && lo == 0x01)
    code = 0x0109;
  const uint32_t project_id = code << 16 | static_cast<uint32_t>(ver) << 8;
  LogPrint(t, "    ProjectID = 0x%08X\n", project_id);
  return project_id;
}

}  // namespace

uint32_t ReadChipIdentity(Tool& t, UsbLink& h, uint8_t d, bool echo) {
  DeviceRecord& rec = t.Pd[d];
  rec.ProjectId = 0;
  uint8_t reg = 0;
  uint32_t project_id = 0;
  if (!ReadRegister(t, h, 0x0018, reg, false)) {
    project_id = 0x01000000;
  } else if (reg == 0xFF) {
    project_id = ExtendedIdentity(t, h, echo);
  } else {
    bool known = false;
    for (const IdentityRow& row : kIdentityTable) {
      if (row.reg == reg) {
        project_id = row.project_id;
        known = true;
        break;
      }
    }
    if (!known) LogPrint(t, "    Reg[0018] = 0x%02X\n", reg);
  }
  rec.ProjectId = project_id;
  if (project_id >= 0x10000) {
    char name[200];
    FormatText(name, sizeof name, "KM%03X", project_id >> 16);
    rec.ChipName = name;
  }
  return project_id;
}

uint32_t SetGpio(Tool& t, UsbLink& h, uint8_t n, uint8_t level) {
  const bool high = level == 1;
  LogPrint(t, high ? "    GPIO%X_High\n" : "    GPIO%X_Low\n", n);
  // Numbers outside 1..10 select register 0x0000 and no bits.
  uint16_t reg = 0;
  uint8_t enable = 0, bit = 0;
  if (n >= 1 && n <= 4) {
    reg = 0x0003;
    enable = static_cast<uint8_t>(1u << (n + 3));
    bit = static_cast<uint8_t>(1u << (n - 1));
  } else if (n >= 5 && n <= 8) {
    reg = 0x0002;
    enable = static_cast<uint8_t>(1u << (n - 1));
    bit = static_cast<uint8_t>(1u << (n - 5));
  } else if (n >= 9 && n <= 10) {
    reg = 0x0009;
    enable = static_cast<uint8_t>(1u << (n - 3));
    bit = static_cast<uint8_t>(1u << (n - 7));
  }
  uint8_t value = 0;
  ReadRegister(t, h, reg, value, false);
  value |= enable;
  value = high ? static_cast<uint8_t>(value | bit) : static_cast<uint8_t>(value & ~bit);
  return WriteRegister(t, h, reg, value, false);
}

uint32_t I2cTestMode(Tool& t, UsbLink& h, uint8_t mode) {
  LogPrint(t, "    I2C_Test_Mode 0x%X\n", mode);
  uint32_t result = 0;
  for (uint8_t i = 0; i < 6; ++i) {
    LogPrint(t, i % 2 == 0 ? "Set Low for 3 seconds.\n" : "Set High for 3 seconds.\n");
    const uint8_t select[3] = {0x82, 0x03, 0xFE};
    const uint8_t drive[3] = {0x82, 0x01, static_cast<uint8_t>(i & 1)};
    I2cWriteCommand(t, h, 0xB2, sizeof select, select);
    result = I2cWriteCommand(t, h, 0xB2, sizeof drive, drive);
    t.clock.SleepMs(3000);
  }
  return result;
}

}  // namespace pdflash
