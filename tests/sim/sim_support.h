// Raw vendor requests and a board directory for the virtual device's tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "image/bytes.h"
#include "image/checksum.h"
#include "sim/sim_bus.h"
#include "sim/sim_device.h"
#include "support/harness.h"

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
  // Opens the n-th present device.
  std::unique_ptr<UsbDevice> Open(size_t n = 0) {
    auto list = bus->Enumerate();
    if (n >= list.size()) return nullptr;
    UsbStatus status;
    return bus->Open(list[n], status);
  }
  std::vector<uint8_t> FlashFile(const std::string& name = "flash.bin") {
    return pdflash::test::ReadBytes(dir / name);
  }

  TempDir dir;
  VirtualClock clock;
  std::unique_ptr<SimBus> bus;
};

inline bool In(UsbDevice& d, uint8_t request, uint16_t value, uint16_t index, uint16_t length,
               std::vector<uint8_t>& out) {
  out.assign(length, 0xEE);
  return d.ControlTransfer({0xC0, request, value, index, length}, out.data());
}

inline bool Out(UsbDevice& d, uint8_t request, uint16_t value, uint16_t index,
                std::vector<uint8_t> data = {}) {
  return d.ControlTransfer({0x40, request, value, index, static_cast<uint16_t>(data.size())},
                           data.data());
}

inline uint16_t RegValue(uint16_t a, uint8_t sub) {
  return static_cast<uint16_t>((a & 0xFF) << 8 | sub);
}

inline std::optional<uint8_t> ReadReg(UsbDevice& d, uint16_t a) {
  std::vector<uint8_t> b;
  if (!In(d, 0xE0, RegValue(a, 0x01), a >> 8, 1, b)) return std::nullopt;
  return b[0];
}

inline bool WriteReg(UsbDevice& d, uint16_t a, uint8_t v) {
  return Out(d, 0xE0, RegValue(a, 0x02), a >> 8, {v});
}

inline uint16_t FlashValue(uint32_t address, uint8_t op) {
  return static_cast<uint16_t>((address & 0xFF) << 8 | op);
}
inline uint16_t FlashIndex(uint32_t address) {
  return static_cast<uint16_t>(address >> 8);
}

inline std::optional<std::vector<uint8_t>> SpiRead(UsbDevice& d, uint32_t address, uint16_t n) {
  std::vector<uint8_t> b;
  if (!In(d, 0xC4, FlashValue(address, 0x03), FlashIndex(address), n, b)) return std::nullopt;
  return b;
}

inline std::optional<uint8_t> SpiStatus(UsbDevice& d, uint8_t op = 0x05) {
  std::vector<uint8_t> b;
  if (!In(d, 0xC2, op, 0, 1, b)) return std::nullopt;
  return b[0];
}

inline bool SpiCommand(UsbDevice& d, uint8_t op) {
  return Out(d, 0xD4, op, 0);
}
inline bool SpiWriteStatus(UsbDevice& d, uint8_t op, uint8_t value) {
  return Out(d, 0xD8, static_cast<uint16_t>(value << 8 | op), 0);
}
inline bool SpiProgram(UsbDevice& d, uint32_t address, std::vector<uint8_t> data) {
  return Out(d, 0xDC, FlashValue(address, 0x02), FlashIndex(address), std::move(data));
}
inline bool SpiSectorErase(UsbDevice& d, uint32_t address) {
  return Out(d, 0xD2, FlashValue(address, 0x20), FlashIndex(address));
}
inline bool Vdr(UsbDevice& d, uint8_t code) {
  return Out(d, code, 0, 0);
}

inline std::optional<uint32_t> Version(UsbDevice& d) {
  std::vector<uint8_t> b;
  if (!In(d, 0xE2, 0x0001, 0, 4, b)) return std::nullopt;
  return Be32(b.data());
}

inline std::optional<uint16_t> Challenge16(UsbDevice& d, uint16_t value) {
  std::vector<uint8_t> b;
  if (!In(d, 0xE0, value, 0, 2, b)) return std::nullopt;
  return Be16(b.data());
}

inline bool ChallengeAnswer(UsbDevice& d, uint16_t answer) {
  return Out(d, 0xE0, 0x000E, 0, {static_cast<uint8_t>(answer >> 8), static_cast<uint8_t>(answer)});
}

// A PD firmware image: marker, version, IDs, a CRC-16 trailer over `size`.
inline std::vector<uint8_t> PdImage(uint32_t size, uint32_t version, uint16_t vid = 0x2109,
                                    uint16_t pid = 0x0107) {
  std::vector<uint8_t> img(size);
  for (uint32_t i = 0; i < size; ++i) img[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  img[0] = 0x02;
  PutBe32(&img[0x1003], version);
  PutLe16(&img[0x1007], vid);
  PutLe16(&img[0x1009], pid);
  StampCrc16(img.data(), size);
  return img;
}

// A blank flash image with `bytes` placed at `address`.
inline std::vector<uint8_t> FlashWith(
    uint32_t size, std::vector<std::pair<uint32_t, std::vector<uint8_t>>> parts) {
  std::vector<uint8_t> flash(size, 0xFF);
  for (const auto& [address, bytes] : parts)
    std::copy(bytes.begin(), bytes.end(), flash.begin() + address);
  return flash;
}

}  // namespace pdflash::sim::test
