#include "device/device.h"

#include <cstring>
#include <vector>

#include "core/bytes.h"
#include "device/registers.h"

namespace pdflash {

namespace {

constexpr uint8_t kMaxBlock = 32;
constexpr uint32_t kMaxPolls = 4096;

}  // namespace

UsbStatus Device::Open(UsbBus& bus, const UsbDeviceInfo& info) {
  dev_.reset();
  path_ = info.path;
  info_ = info;
  UsbStatus status = UsbStatus::Failed;
  dev_ = bus.Open(info, status);
  if (dev_) return UsbStatus::Ok;
  return status == UsbStatus::Ok ? UsbStatus::Failed : status;
}

void Device::Forget(const std::string& path) {
  dev_.reset();
  path_ = path;
}

DescriptorIds Device::ReadDescriptorIds() {
  std::array<uint8_t, 18> desc{};
  if (dev_) dev_->ReadDeviceDescriptor(desc);
  return DescriptorIds{Le16(&desc[8]), Le16(&desc[10]), Le16(&desc[12])};
}

bool Device::Transfer(uint8_t type, uint8_t request, uint16_t value, uint16_t index,
                      uint16_t length, uint8_t* data) {
  // The controller firmware cannot take requests back to back.
  clock.BusyWaitUs(1000);
  if (!dev_) return false;
  SetupPacket setup;
  setup.bmRequestType = type;
  setup.bRequest = request;
  setup.wValue = value;
  setup.wIndex = index;
  setup.wLength = length;
  return dev_->ControlTransfer(setup, data);
}

bool Device::Send(uint8_t request, uint16_t value, uint16_t index, uint16_t length,
                  const uint8_t* data) {
  // The transport wants a writable buffer; keep the caller's const.
  std::vector<uint8_t> copy(data, data + (data ? length : 0));
  copy.resize(length);
  return Transfer(kVendorOut, request, value, index, length, copy.data());
}

bool Device::Register(uint8_t type, uint16_t a, uint8_t sub, uint16_t length, uint8_t* data) {
  return Transfer(type, req::kRegister, static_cast<uint16_t>(((a & 0xFF) << 8) | sub),
                  static_cast<uint16_t>(a >> 8), length, data);
}

uint32_t Device::ReadRegister(uint16_t a, uint8_t& value, bool echo) {
  uint8_t byte = 0;
  if (!Register(kVendorIn, a, sub::kRead, 1, &byte)) {
    LogPrint(out, "Read-Reg 0x%04X Fail\n", a);
    return 0;
  }
  value = byte;
  if (echo) LogPrint(out, "    Read-Reg 0x%04X = 0x%02X\n", a, byte);
  return 1;
}

uint32_t Device::WriteRegister(uint16_t a, uint8_t value, bool echo) {
  uint8_t byte = value;
  if (!Register(kVendorOut, a, sub::kWrite, 1, &byte)) {
    LogPrint(out, "Write-Reg 0x%04X  Fail\n", a);
    return 0;
  }
  if (echo) LogPrint(out, "    Write-Reg 0x%04X = 0x%02X\n", a, value);
  return 1;
}

uint32_t Device::Block(Direction dir, int step, uint16_t a, const uint8_t* in, uint8_t* out_bytes,
                       uint8_t n, bool echo) {
  if (n > kMaxBlock) return 0;
  const bool read = dir == Direction::Read;
  uint8_t buffer[kMaxBlock] = {};
  if (!read && n > 0) std::memcpy(buffer, in, n);
  const uint8_t code = read ? (step > 0 ? sub::kReadBlock : sub::kReadBlockDown)
                            : (step > 0 ? sub::kWriteBlock : sub::kWriteBlockDown);
  if (!Register(read ? kVendorIn : kVendorOut, a, code, n, buffer)) {
    if (read)
      LogPrint(out, step > 0 ? "Read-Reg [0x%04X] Fail\n" : "Read-reg [0x%04X] Fail\n", a);
    else
      LogPrint(out, "Write-reg_[0x%04X] Fail\n", a);
    return 0;
  }
  if (read && n > 0) std::memcpy(out_bytes, buffer, n);
  for (uint8_t i = 0; echo && i < n; ++i)
    LogPrint(out, read ? "    Read-reg [0x%04X] = 0x%02X\n" : "    Write-reg_[0x%04X] = 0x%02X\n",
             static_cast<uint16_t>(a + step * i), buffer[i]);
  return 1;
}

uint32_t Device::ReadRegisterBlock(uint16_t a, uint8_t* out_bytes, uint8_t n, bool echo) {
  return Block(Direction::Read, 1, a, nullptr, out_bytes, n, echo);
}

uint32_t Device::WriteRegisterBlock(uint16_t a, const uint8_t* in, uint8_t n, bool echo) {
  return Block(Direction::Write, 1, a, in, nullptr, n, echo);
}

uint32_t Device::ReadRegisterBlockDescending(uint16_t a, uint8_t* out_bytes, uint8_t n, bool echo) {
  return Block(Direction::Read, -1, a, nullptr, out_bytes, n, echo);
}

uint32_t Device::WriteRegisterBlockDescending(uint16_t a, const uint8_t* in, uint8_t n, bool echo) {
  return Block(Direction::Write, -1, a, in, nullptr, n, echo);
}

uint32_t Device::SetRegisterBits(uint16_t a, uint8_t mask) {
  uint8_t old = 0;
  ReadRegister(a, old, false);
  return WriteRegister(a, static_cast<uint8_t>(old | mask), false);
}

uint32_t Device::PollRegister(uint16_t a, uint8_t mask, uint8_t expected) {
  for (uint32_t attempts = 0;;) {
    uint8_t value = 0;
    if (!ReadRegister(a, value, false)) return 0;
    if ((value & mask) == expected) return 1;
    clock.BusyWaitUs(1);
    if (++attempts >= kMaxPolls) return 0;
  }
}

uint32_t Device::VdrWrite(uint8_t code, bool echo) {
  if (!Transfer(kVendorOut, code, 0, 0, 0, nullptr)) {
    // The jump requests take the device off the bus, so their failure is expected.
    if (code != req::kRestart && code != req::kDirectJump)
      LogPrint(out, "VDR-Write 0x%02X Fail\n", code);
    return 0;
  }
  if (echo) LogPrint(out, "    VDR-Write 0x%02X\n", code);
  return 1;
}

uint32_t Device::I2cWriteCommand(uint8_t command, uint16_t length, const uint8_t* data) {
  if (!Send(command, 0, 0, length, data)) {
    LogPrint(out, "I2C-WriteCmd %02X Fail\n", command);
    return 0;
  }
  return 1;
}

uint32_t Device::I2cReadCommand(uint8_t command, uint8_t index, uint16_t length,
                                uint8_t* out_bytes) {
  std::vector<uint8_t> bytes(length);
  if (!Transfer(kVendorIn, command, 0, index, length, bytes.data())) {
    LogPrint(out, "I2C-ReadCmd %02X Fail\n", command);
    return 0;
  }
  if (length > 0) std::memcpy(out_bytes, bytes.data(), length);
  return 1;
}

uint32_t Device::ReadTaskStatus(uint16_t length, uint8_t* out_bytes) {
  std::vector<uint8_t> bytes(length);
  if (!Transfer(kVendorIn, req::kTaskStatus, 0, 0, length, bytes.data())) {
    LogPrint(out, "Read_TaskStatus_FAIL\n");
    return 0;
  }
  if (length > 0) std::memcpy(out_bytes, bytes.data(), length);
  return 1;
}

}  // namespace pdflash
