// A board directory and raw vendor requests for the virtual device's tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "image/bytes.h"
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
  // Ends the run: the state goes back to the directory.
  void Close() { bus.reset(); }
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

inline std::optional<std::vector<uint8_t>> In(UsbDevice& d, uint8_t request, uint16_t value,
                                              uint16_t index, uint16_t length) {
  std::vector<uint8_t> b(length, 0xEE);
  if (!d.ControlTransfer({0xC0, request, value, index, length}, b.data())) return std::nullopt;
  return b;
}

inline bool Out(UsbDevice& d, uint8_t request, uint16_t value, std::vector<uint8_t> data = {}) {
  return d.ControlTransfer({0x40, request, value, 0, static_cast<uint16_t>(data.size())},
                           data.data());
}

// Registers below 0x100 (the high address byte goes in wIndex).
inline std::optional<uint8_t> ReadReg(UsbDevice& d, uint8_t a) {
  const auto b = In(d, 0xE0, static_cast<uint16_t>(a << 8 | 0x01), 0, 1);
  return b ? std::optional<uint8_t>((*b)[0]) : std::nullopt;
}
inline bool WriteReg(UsbDevice& d, uint8_t a, uint8_t v) {
  return Out(d, 0xE0, static_cast<uint16_t>(a << 8 | 0x02), {v});
}
inline bool Vdr(UsbDevice& d, uint8_t code) {
  return Out(d, code, 0);
}

inline std::optional<uint32_t> Version(UsbDevice& d) {
  const auto b = In(d, 0xE2, 0x0001, 0, 4);
  return b ? std::optional<uint32_t>(Be32(b->data())) : std::nullopt;
}
inline std::optional<uint16_t> Challenge16(UsbDevice& d, uint16_t value) {
  const auto b = In(d, 0xE0, value, 0, 2);
  return b ? std::optional<uint16_t>(Be16(b->data())) : std::nullopt;
}
inline bool ChallengeAnswer(UsbDevice& d, uint16_t answer) {
  return Out(d, 0xE0, 0x000E, {static_cast<uint8_t>(answer >> 8), static_cast<uint8_t>(answer)});
}

// A PD firmware image with the example board's IDs.
inline std::vector<uint8_t> PdImage(uint32_t version, uint32_t size = 0x8000) {
  fwgen::PdFirmwareSpec s;
  s.size = size;
  s.version = version;
  return fwgen::MakePdFirmware(s);
}

}  // namespace pdflash::sim::test
