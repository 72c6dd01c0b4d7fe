// A board directory for the virtual device's tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sim/sim_bus.h"
#include "sim/sim_device.h"
#include "support/harness.h"
#include "tools/fwgen.h"

namespace pdflash::sim::test {

using pdflash::test::TempDir;
using Bytes = std::vector<uint8_t>;

// Vendor requests. Registers: the address in the value's high byte, 1 read, 2 write.
inline Bytes In(UsbDevice& d, uint8_t request, uint16_t value, uint16_t length) {
  Bytes b(length, 0xEE);
  EXPECT_TRUE(d.ControlTransfer({0xC0, request, value, 0, length}, b.data()));
  return b;
}
inline bool Out(UsbDevice& d, uint8_t request, uint16_t value, Bytes data = {}) {
  return d.ControlTransfer({0x40, request, value, 0, uint16_t(data.size())}, data.data());
}

// A board directory with device.ini and the example challenge coefficients.
struct Board {
  explicit Board(const std::string& ini = "[Device]\n") {
    pdflash::test::WriteFile(dir / "device.ini", ini);
    pdflash::test::WriteFile(dir / "Challenge.ini", pdflash::test::ExampleChallengeFile());
  }
  // A new run on the directory (the previous bus saves first).
  SimBus& Run() {
    bus.reset();
    bus = std::make_unique<SimBus>(dir.path(), clock, dir / "Challenge.ini");
    std::string error;
    EXPECT_TRUE(bus->Load(error)) << error;
    return *bus;
  }
  // Opens the first present device.
  std::unique_ptr<UsbDevice> Open() {
    auto list = bus->Enumerate();
    UsbStatus status;
    return list.empty() ? nullptr : bus->Open(list[0], status);
  }

  TempDir dir;
  VirtualClock clock;
  std::unique_ptr<SimBus> bus;
};

}  // namespace pdflash::sim::test
