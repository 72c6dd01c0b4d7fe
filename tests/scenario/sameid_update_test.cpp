// Several identical boards on one bus, told apart by USB address: all are
// sent to ROM code first, then each is updated in turn.
#include "scenario/scenario_support.h"

namespace pdflash::test {
namespace {

// Devices 1..count with USB addresses 5, 6, ..., then extra keys.
std::vector<std::string> Boards(int count, const std::vector<std::string>& extra = {}) {
  std::vector<std::string> keys;
  for (int k = 2; k <= count; ++k)
    keys.push_back("Device" + std::to_string(k) + ".UsbAddress=" + Hex(4 + k));
  keys.insert(keys.end(), extra.begin(), extra.end());
  return keys;
}

TEST(SameId, EveryDeviceResetFirstThenUpdatedInTurn) {
  const auto image = Firmware(0xC800, 0x0E010200, 9);
  for (int n = 2; n <= 4; ++n) {
    SCOPED_TRACE(std::to_string(n) + " devices");
    Rig r(Boards(n));
    for (int k = 2; k <= n; ++k) r.board.Load(0x20000, Firmware(0xC800, 0x0E010100, 5), k);
    EXPECT_EQ(r.Run("SameIDFWMode=" + std::to_string(n) + "\nOutputProgress=3\n", image), 1u)
        << r.p.out;
    EXPECT_EQ(Count(r.p.out, "Same_IDFW_Reset_All\n"), 1u);
    EXPECT_EQ(Count(r.p.out, "Same_IDFW_Check_Rom\n"), 1u);
    EXPECT_EQ(Count(r.p.out, "=    PD_FW_Update_PASS.   =\n"), static_cast<size_t>(n));

    // Every jump before the first flash change; then the devices one after
    // another, each finished before the next begins.
    size_t last_jump = 0, first_change = r.board.log.size();
    std::vector<int> order, expected_order;
    for (size_t i = 0; i < r.board.log.size(); ++i) {
      const auto& t = r.board.log[i];
      if (t.setup.bRequest == kReset) last_jump = i;
      if (t.setup.bRequest == kSectorErase || t.setup.bRequest == kProgram) {
        first_change = std::min(first_change, i);
        if (order.empty() || order.back() != t.device) order.push_back(t.device);
      }
    }
    EXPECT_LT(last_jump, first_change);
    std::vector<int> progress;
    for (int k = 0; k < n; ++k) {
      expected_order.push_back(k);
      EXPECT_EQ(CountRequests(r.board.log, kReset, k), 1u) << k;
      EXPECT_TRUE(BothCopies(r.board.Flash(k + 1), image)) << "device " << k + 1;
      // 100 points per device out of n * 100: 100 % only after the last one.
      for (int step : {10, 25, 55, 70, 100}) progress.push_back((100 * k + step) / n);
    }
    EXPECT_EQ(order, expected_order);
    ExpectProgress(r.p, progress);
  }
}

TEST(SameId, WrongDeviceSetsAreRefused) {
  using L = std::vector<std::string>;
  struct Case {
    const char* name;
    int expected, devices;  // SameIDFWMode, devices on the bus
    L keys, lines;
    bool first_updated;
  };
  const std::string mismatch = "Device_Number_Mismatch\n";
  const auto image = Firmware(0xC800, 0x0E010200, 9);
  for (const Case& c : std::vector<Case>{
           // Its firmware ignores the jump: only one device shows up in ROM code.
           {"device_left_in_firmware", 2, 2, L{"Device2.ChallengeClient=1"}, L{mismatch}, false},
           // The same, for a device whose firmware shows the ROM IDs.
           {"firmware_under_rom_ids", 2, 2, L{"Device2.ChallengeClient=1", "Device2.AppPID=1107"},
            L{"    Still_Find_FW_Mode_Device.\n", mismatch}, false},
           // A device without a USB address leaves an empty entry in the list.
           {"missing_address", 2, 2, L{"Device2.UsbAddress=0"}, L{"Illegal_Address_Record.\n"},
            true},
           {"more_than_expected", 2, 3, L{}, L{mismatch}, false},
           {"five_devices", 4, 5, L{}, L{"    Device_Cnt_Over.\n", mismatch}, false}}) {
    SCOPED_TRACE(c.name);
    Rig r(Boards(c.devices, c.keys));
    std::vector<std::vector<uint8_t>> before = {r.before};
    for (int k = 2; k <= c.devices; ++k) {
      r.board.Load(0x20000, Firmware(0xC800, 0x0E010100), k);
      before.push_back(r.board.Flash(k));
    }
    EXPECT_EQ(r.Run("SameIDFWMode=" + std::to_string(c.expected) + "\n", image), 0u) << r.p.out;
    for (const auto& line : c.lines) EXPECT_THAT(r.p.out, HasSubstr(line));
    EXPECT_THAT(r.p.out, HasSubstr("Return_Value = 0x0\n"));
    // The whole reset-and-search round is tried five times.
    if (c.lines.back() == mismatch) {
      EXPECT_EQ(Count(r.p.out, "Same_IDFW_Reset_All\n"), 5u);
    }
    for (int k = 1; k <= c.devices; ++k) {
      const auto flash = r.board.Flash(k);
      EXPECT_TRUE(k == 1 && c.first_updated ? BothCopies(flash, image) : flash == before[k - 1])
          << "device " << k;
    }
  }
}

}  // namespace
}  // namespace pdflash::test
