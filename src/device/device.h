// One opened controller: the handle closes itself, and it carries the vendor
// request primitives. Every request is paced by a 1 ms busy-wait; a failed
// transfer prints the request's own line and returns 0.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "core/output.h"
#include "platform/platform.h"

namespace pdflash {

struct DescriptorIds {
  uint16_t vid = 0, pid = 0, bcd = 0;
};

class Device {
 public:
  Device(Output& out, Clock& clock) : out(out), clock(clock) {}
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  // Opens `info`, closing whatever was open before.
  UsbStatus Open(UsbBus& bus, const UsbDeviceInfo& info);
  // Remembers a device that was not opened (its path, for the lines).
  void Forget(const std::string& path);
  void Close() { dev_.reset(); }
  bool IsOpen() const { return dev_ != nullptr; }
  const std::string& Path() const { return path_; }
  const UsbDeviceInfo& Info() const { return info_; }
  // idVendor, idProduct and bcdDevice of the open device (0 when unreadable).
  DescriptorIds ReadDescriptorIds();

  // One control transfer after the pacing; true on success. No message:
  // callers print their request's line.
  bool Transfer(uint8_t type, uint8_t request, uint16_t value, uint16_t index, uint16_t length,
                uint8_t* data);
  // An out transfer of `length` bytes of `data` (zeros past a null pointer).
  bool Send(uint8_t request, uint16_t value, uint16_t index, uint16_t length, const uint8_t* data);

  uint32_t ReadRegister(uint16_t a, uint8_t& value, bool echo);
  uint32_t WriteRegister(uint16_t a, uint8_t value, bool echo);
  // At most 32 registers; more is refused without a transfer.
  uint32_t ReadRegisterBlock(uint16_t a, uint8_t* out, uint8_t n, bool echo);
  uint32_t WriteRegisterBlock(uint16_t a, const uint8_t* in, uint8_t n, bool echo);
  uint32_t ReadRegisterBlockDescending(uint16_t a, uint8_t* out, uint8_t n, bool echo);
  uint32_t WriteRegisterBlockDescending(uint16_t a, const uint8_t* in, uint8_t n, bool echo);
  uint32_t SetRegisterBits(uint16_t a, uint8_t mask);
  // 1 once (value & mask) == expected; 0 on a failed read or after 4096 reads.
  uint32_t PollRegister(uint16_t a, uint8_t mask, uint8_t expected);
  uint32_t VdrWrite(uint8_t code, bool echo);
  uint32_t I2cWriteCommand(uint8_t command, uint16_t length, const uint8_t* data);
  uint32_t I2cReadCommand(uint8_t command, uint8_t index, uint16_t length, uint8_t* out);
  uint32_t ReadTaskStatus(uint16_t length, uint8_t* out);

  Output& out;
  Clock& clock;

 private:
  enum class Direction { Read, Write };
  uint32_t Block(Direction dir, int step, uint16_t a, const uint8_t* in, uint8_t* out, uint8_t n,
                 bool echo);
  bool Register(uint8_t type, uint16_t a, uint8_t sub, uint16_t length, uint8_t* data);

  std::unique_ptr<UsbDevice> dev_;
  std::string path_;
  UsbDeviceInfo info_;
};

}  // namespace pdflash
