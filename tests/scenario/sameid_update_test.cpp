// Several identical boards on one bus, told apart by USB address: all are
// sent to ROM code first, then each is updated in turn.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>

#include "scenario/scenario_support.h"

namespace pdflash::test {
namespace {

using ::testing::HasSubstr;

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::string Section(int k) {
  return k == 1 ? std::string() : "Device" + std::to_string(k) + ".";
}

// Devices 1..count with USB addresses 5, 6, ..., then extra keys.
std::vector<std::string> Boards(int count, const std::vector<std::string>& extra = {}) {
  std::vector<std::string> keys;
  for (int k = 2; k <= count; ++k) keys.push_back(Section(k) + "UsbAddress=" + Hex(4 + k));
  keys.insert(keys.end(), extra.begin(), extra.end());
  return keys;
}

TEST(SameId, EveryDeviceResetFirstThenUpdatedInTurn) {
  for (int n = 2; n <= 4; ++n) {
    SCOPED_TRACE(std::to_string(n) + " devices");
    Program p;
    SimBoard board(p);
    board.Init(Boards(n));
    const auto old_fw = Firmware(0xC800, 0x0E010100);
    for (int k = 1; k <= n; ++k) board.Load(0x20000, old_fw, k);
    const auto image = Firmware(0xC800, 0x0E010200, 9);
    WriteBytes(p.File("new.bin"), image);
    p.Settings(std::string(kBoardIds) + "PD1Bin=new.bin\nSameIDFWMode=" + std::to_string(n) +
               "\nOutputProgress=3\n");

    EXPECT_EQ(board.Run(), 1u) << p.out;
    EXPECT_EQ(Occurrences(p.out, "Same_IDFW_Reset_All\n"), 1u);
    EXPECT_EQ(Occurrences(p.out, "Same_IDFW_Check_Rom\n"), 1u);
    EXPECT_EQ(Occurrences(p.out, "=    PD_FW_Update_PASS.   =\n"), static_cast<size_t>(n));

    // Every jump before the first flash change; then the devices one after
    // another, each finished before the next begins.
    size_t last_jump = 0, first_change = board.log.size();
    std::vector<int> order;
    for (size_t i = 0; i < board.log.size(); ++i) {
      const auto& r = board.log[i];
      if (r.setup.bRequest == 0xB0) last_jump = i;
      if (r.setup.bRequest == kSectorErase || r.setup.bRequest == kProgram) {
        first_change = std::min(first_change, i);
        if (order.empty() || order.back() != r.device) order.push_back(r.device);
      }
    }
    EXPECT_LT(last_jump, first_change);
    std::vector<int> expected_order;
    for (int k = 0; k < n; ++k) expected_order.push_back(k);
    EXPECT_EQ(order, expected_order);
    for (int k = 0; k < n; ++k) EXPECT_EQ(CountRequests(board.log, 0xB0, k), 1u) << k;

    for (int k = 1; k <= n; ++k) {
      const auto flash = board.Flash(k);
      EXPECT_TRUE(Same(flash, 0x20000, image) && Same(flash, 0x30000, image)) << "device " << k;
    }

    // 100 points per device out of n * 100: 100 % only after the last one.
    std::vector<int> progress;
    std::vector<std::string> markers;
    for (int k = 0; k < n; ++k)
      for (int step : {10, 25, 55, 70, 100}) {
        progress.push_back((100 * k + step) / n);
        char name[16];
        std::snprintf(name, sizeof name, "%03d.txt", progress.back());
        markers.push_back(name);
      }
    EXPECT_EQ(ProgressLines(p.out), progress);
    std::sort(markers.begin(), markers.end());
    markers.erase(std::unique(markers.begin(), markers.end()), markers.end());
    EXPECT_EQ(MarkerFiles(p.dir.path()), markers);
  }
}

TEST(SameId, WrongDeviceSetsAreRefused) {
  struct Case {
    const char* name;
    int expected;  // SameIDFWMode
    std::vector<std::string> keys;
    int devices;
    std::vector<std::string> lines;
    std::vector<bool> updated;  // per device
  };
  const std::vector<Case> cases = {
      // Its firmware ignores the jump: only one device shows up in ROM code.
      {"device_left_in_firmware",
       2,
       Boards(2, {"Device2.ChallengeClient=1"}),
       2,
       {"Device_Number_Mismatch\n"},
       {false, false}},
      // The same, for a device whose firmware shows the ROM IDs.
      {"firmware_under_rom_ids",
       2,
       Boards(2, {"Device2.ChallengeClient=1", "Device2.AppPID=1107"}),
       2,
       {"    Still_Find_FW_Mode_Device.\n", "Device_Number_Mismatch\n"},
       {false, false}},
      // A device without a USB address leaves an empty entry in the list.
      {"missing_address",
       2,
       Boards(2, {"Device2.UsbAddress=0"}),
       2,
       {"Illegal_Address_Record.\n"},
       {true, false}},
      {"more_than_expected", 2, Boards(3), 3, {"Device_Number_Mismatch\n"}, {false, false, false}},
      {"five_devices",
       4,
       Boards(5),
       5,
       {"    Device_Cnt_Over.\n", "Device_Number_Mismatch\n"},
       {false, false, false, false, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Program p;
    SimBoard board(p);
    board.Init(c.keys);
    const auto old_fw = Firmware(0xC800, 0x0E010100);
    for (int k = 1; k <= c.devices; ++k) board.Load(0x20000, old_fw, k);
    std::vector<std::vector<uint8_t>> before;
    for (int k = 1; k <= c.devices; ++k) before.push_back(board.Flash(k));
    const auto image = Firmware(0xC800, 0x0E010200, 9);
    WriteBytes(p.File("new.bin"), image);
    p.Settings(std::string(kBoardIds) +
               "PD1Bin=new.bin\nSameIDFWMode=" + std::to_string(c.expected) + "\n");

    EXPECT_EQ(board.Run(), 0u) << p.out;
    for (const auto& line : c.lines) EXPECT_THAT(p.out, HasSubstr(line));
    EXPECT_THAT(p.out, HasSubstr("Return_Value = 0x0\n"));
    if (c.lines.back() == "Device_Number_Mismatch\n") {
      EXPECT_EQ(Occurrences(p.out, "Same_IDFW_Reset_All\n"), 5u);
    }
    for (int k = 1; k <= c.devices; ++k) {
      const auto flash = board.Flash(k);
      if (c.updated[k - 1])
        EXPECT_TRUE(Same(flash, 0x20000, image) && Same(flash, 0x30000, image)) << "device " << k;
      else
        EXPECT_TRUE(flash == before[k - 1]) << "device " << k;
    }
  }
}

}  // namespace
}  // namespace pdflash::test
