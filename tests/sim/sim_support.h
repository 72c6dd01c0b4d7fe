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
