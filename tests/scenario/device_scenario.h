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
inline size_t First(const Log& log, uint8_t request, size_t from = 0) {
  while (from < log.size() && log[from].setup.bRequest != request) ++from;
  return from;
}
inline bool Sent(const Log& log, std::initializer_list<uint8_t> requests) {
  return !Requests(log, requests).empty();
}

// (bRequest, wValue) of each transfer from `from` on: enough to read a request sequence.
inline std::vector<std::pair<int, int>> Codes(const Log& log, size_t from = 0) {
  std::vector<std::pair<int, int>> out;
  for (size_t i = from; i < log.size(); ++i)
    out.emplace_back(log[i].setup.bRequest, log[i].setup.wValue);
  return out;
}

inline void ExpectSetup(const sim::TransferRecord& r, int type, int request, int value, int index,
                        int length) {
  const SetupPacket& s = r.setup;
  EXPECT_EQ(std::vector<int>({s.bmRequestType, s.bRequest, s.wValue, s.wIndex, s.wLength}),
            std::vector<int>({type, request, value, index, length}));
}

// The controller cannot take requests back to back.
inline void ExpectPaced(const Log& log) {
  for (size_t i = 1; i < log.size(); ++i)
    ASSERT_GE(log[i].time_us, log[i - 1].time_us + 1000) << "transfer " << i;
}

// device.ini key failing (or unplugging at) log position `index`: counted from 1, hex.
inline std::string FailAt(size_t index, const char* key = "FailTransfer") {
  char text[48];
  std::snprintf(text, sizeof text, "%s=%zX", key, index + 1);
  return text;
}

inline size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

// A firmware copy of the example board with this version.
inline std::vector<uint8_t> Firmware(uint32_t version, uint32_t size = 0xC800) {
  return fwgen::MakePdFirmware({.size = size, .version = version});
}

// A board with the example IDs in Setting.ini and, if given, a firmware copy.
struct Bench {
  explicit Bench(const std::vector<std::string>& keys = {}, const std::string& settings = "",
                 uint32_t firmware = 0) {
    board.Init(keys);
    if (firmware) board.LoadFirmware(Firmware(firmware));
    Settings(settings);
  }
  void Settings(const std::string& extra) { p.Settings(std::string(kBoardIds) + extra); }
  uint32_t Run(const std::vector<std::string>& args = {}) { return board.Run(args); }
  testing::AssertionResult Has(const std::string& what) const {
    if (p.out.find(what) != std::string::npos) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "no\n" << what << "\nin\n" << p.out;
  }
  Program p;
  SimBoard board{p};
};

}  // namespace pdflash::test
