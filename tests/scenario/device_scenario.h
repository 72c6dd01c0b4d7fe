// Reading the virtual device's transfer log in the device scenarios.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/sim_device.h"
#include "support/sim_board.h"

namespace pdflash::test {

using Log = std::vector<sim::TransferRecord>;

inline uint16_t RegAddress(const SetupPacket& s) {
  return static_cast<uint16_t>((s.wValue >> 8) | (s.wIndex << 8));
}
inline bool IsRegRead(const sim::TransferRecord& r, uint16_t a) {
  return r.setup.bRequest == 0xE0 && (r.setup.wValue & 0xFF) == 0x01 && RegAddress(r.setup) == a;
}
inline bool IsRegWrite(const sim::TransferRecord& r, uint16_t a) {
  return r.setup.bRequest == 0xE0 && (r.setup.wValue & 0xFF) == 0x02 && RegAddress(r.setup) == a;
}

// Transfers with one of the request codes, in order.
inline Log Requests(const Log& log, std::initializer_list<uint8_t> codes) {
  Log out;
  for (const auto& r : log)
    for (uint8_t c : codes)
      if (r.setup.bRequest == c) out.push_back(r);
  return out;
}

// Position of the first transfer that `pick` accepts, from `from` on; log.size() if none.
template <typename F>
size_t Find(const Log& log, F pick, size_t from = 0) {
  for (size_t i = from; i < log.size(); ++i)
    if (pick(log[i])) return i;
  return log.size();
}

// (bRequest, wValue) of each transfer: enough to read a request sequence.
inline std::vector<std::pair<int, int>> Codes(const Log& log) {
  std::vector<std::pair<int, int>> out;
  for (const auto& r : log) out.emplace_back(r.setup.bRequest, r.setup.wValue);
  return out;
}

inline void ExpectSetup(const sim::TransferRecord& r, uint8_t type, uint8_t request, uint16_t value,
                        uint16_t index, uint16_t length) {
  EXPECT_EQ(r.setup.bmRequestType, type);
  EXPECT_EQ(r.setup.bRequest, request);
  EXPECT_EQ(r.setup.wValue, value);
  EXPECT_EQ(r.setup.wIndex, index);
  EXPECT_EQ(r.setup.wLength, length);
}

// The controller cannot take requests back to back: every transfer comes at
// least 1 ms after the one before it.
inline void ExpectPaced(const Log& log) {
  ASSERT_FALSE(log.empty());
  for (size_t i = 1; i < log.size(); ++i)
    ASSERT_GE(log[i].time_us, log[i - 1].time_us + 1000) << "transfer " << i;
}

// device.ini keys that make the transfer at log position `index` fail, or
// take the device off the bus from there on (the device counts from 1, in hex).
inline std::string FailAt(size_t index) {
  char key[32];
  std::snprintf(key, sizeof key, "FailTransfer=%zX", index + 1);
  return key;
}
inline std::string UnplugAt(size_t index) {
  char key[32];
  std::snprintf(key, sizeof key, "UnplugAtTransfer=%zX", index + 1);
  return key;
}

inline size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + what.size()))
    ++n;
  return n;
}

// A firmware copy of the example board with this version.
inline std::vector<uint8_t> Firmware(uint32_t version, uint32_t size = 0xC800) {
  fwgen::PdFirmwareSpec spec;
  spec.version = version;
  spec.size = size;
  return fwgen::MakePdFirmware(spec);
}

}  // namespace pdflash::test
