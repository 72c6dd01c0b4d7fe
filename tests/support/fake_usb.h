// A scripted controller behind the USB seam for unit tests of the device and
// flash layers: it records every setup packet, answers register reads from a
// map (or a script of successive values), keeps a small NOR flash, and fails
// chosen transfers.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/tool.h"
#include "device/usb_link.h"
#include "platform/platform.h"
#include "support/harness.h"

namespace pdflash::test {

struct FakeTransfer {
  SetupPacket setup;
  std::vector<uint8_t> data;  // out: as sent; in: as returned
  bool ok = false;
  uint64_t time_us = 0;
};

class FakeController {
 public:
  explicit FakeController(Clock* clock = nullptr) : clock_(clock) {}

  bool Transfer(const SetupPacket& setup, uint8_t* data);

  // Register space; a read takes the next scripted value first, if any.
  std::map<uint16_t, uint8_t> regs;
  std::map<uint16_t, std::deque<uint8_t>> reg_script;
  std::map<uint16_t, std::vector<uint8_t>> reg_writes;  // every value written, per register

  // SPI flash: programming clears bits, erase sets 0xFF, addresses wrap.
  std::vector<uint8_t> flash;
  bool erase_ignored = false;
  // Status register 1 (opcode 0x05); scripted reads first.
  uint8_t status = 0x00;
  std::deque<uint8_t> status_script;
  // The status write is ignored when set (a part that keeps its bits).
  bool status_sticky = false;
  uint8_t status2 = 0x00;  // opcodes 0x35 / 0x31

  std::array<uint8_t, 4> version{};  // request 0xE2

  // Challenge: a right answer opens the counter; the counter sent back closes it.
  uint16_t challenge = 0;
  uint16_t counter = 0;
  uint16_t expected_answer = 0;
  bool lock_refused = false;

  // Failures: transfer numbers (from 1) or a predicate on the setup packet.
  std::set<size_t> fail_transfers;
  std::function<bool(const SetupPacket&)> fail_if;

  std::vector<FakeTransfer> log;

  // Requests with this bRequest (and, for 0xE0, this register sub-command).
  std::vector<FakeTransfer> Requests(uint8_t request, int sub = -1) const;
  void SetFlash(uint32_t address, const std::vector<uint8_t>& bytes);

 private:
  uint8_t ReadReg(uint16_t a);
  void WriteReg(uint16_t a, uint8_t v);
  bool Register(const SetupPacket& s, uint8_t* data);
  Clock* clock_;
  size_t count_ = 0;
  std::vector<uint8_t> spi_command_;
  uint32_t spi_index_ = 0;
};

class FakeDevice final : public UsbDevice {
 public:
  FakeDevice(std::shared_ptr<FakeController> c, std::array<uint8_t, 18> descriptor)
      : c_(std::move(c)), descriptor_(descriptor) {}
  bool ControlTransfer(const SetupPacket& setup, uint8_t* data) override {
    return c_->Transfer(setup, data);
  }
  bool ReadDeviceDescriptor(std::array<uint8_t, 18>& out) override {
    out = descriptor_;
    return true;
  }

 private:
  std::shared_ptr<FakeController> c_;
  std::array<uint8_t, 18> descriptor_;
};

std::array<uint8_t, 18> MakeDescriptor(uint16_t vid, uint16_t pid, uint16_t bcd);

struct FakeBusEntry {
  UsbDeviceInfo info;
  std::shared_ptr<FakeController> controller;
  UsbStatus open_status = UsbStatus::Ok;
  LocationStatus location_status = LocationStatus::Ok;
};

class FakeBus final : public UsbBus {
 public:
  FakeBusEntry& Add(uint16_t vid, uint16_t pid, std::shared_ptr<FakeController> c,
                    const std::string& location = "Port_#0001.Hub_#0001");
  std::vector<UsbDeviceInfo> Enumerate() override;
  std::unique_ptr<UsbDevice> Open(const UsbDeviceInfo& info, UsbStatus& status) override;
  LocationStatus Location(const UsbDeviceInfo& info, std::string& text) override;
  std::string OpenFailureHint(UsbStatus) override { return hint; }

  std::vector<FakeBusEntry> entries;
  std::string hint;
  int enumerations = 0;
};

// A Tool on a fake bus with one controller already open on `link`.
struct DeviceFixture {
  DeviceFixture();
  // Console output since the last call.
  std::string Out();
  std::shared_ptr<FakeController> NewController() {
    return std::make_shared<FakeController>(&clock);
  }

  TempDir dir;
  CaptureConsole console;
  VirtualClock clock;
  FakeHost host;
  FakeBus bus;
  Platform platform{console, clock, host, bus};
  Tool t{platform, BuildProfile{}};
  std::shared_ptr<FakeController> dev;
  UsbLink link;

 private:
  size_t seen_ = 0;
};

}  // namespace pdflash::test
