// A serial-number write cut at every transfer, by a failed transfer or by the
// board disappearing: the unit's other fields survive, in the flash or in the
// kept sector, and the next write that goes through has them all again.
#include <iostream>

#include "ops/device_info.h"
#include "scenario/scenario_support.h"

namespace pdflash::test {
namespace {

constexpr uint32_t kZone = 0x3F000;

std::vector<uint8_t> Text16(const std::string& s, size_t bytes) {
  std::vector<uint8_t> b(bytes, 0);
  for (size_t i = 0; i < s.size(); ++i) b[2 * i] = uint8_t(s[i]);
  return b;
}

std::vector<uint8_t> Sector(const std::vector<uint8_t>& flash) {
  return std::vector<uint8_t>(flash.begin() + kZone, flash.begin() + kZone + 0x1000);
}

// The sector with this serial number.
std::vector<uint8_t> WithSerial(std::vector<uint8_t> sector, const std::string& serial) {
  const auto sn = Text16(serial, 46);
  std::copy(sn.begin(), sn.end(), sector.begin() + 0x10);
  return sector;
}

class InfoCutOff : public ::testing::TestWithParam<const char*> {};

TEST_P(InfoCutOff, OtherFieldsSurvive) {
  const std::string key = std::string("\n") + GetParam() + "=";
  Rig r({"FlashSize=40000"});
  r.board.Load(kZone + 0x10, Text16("OLD-SERIAL", 46));
  r.board.Load(kZone + 0x40, Text16("Dock", 46));
  r.board.Load(kZone + 0x80, Text16("Dock serial string", 62));
  r.board.Load(kZone + 0xC0, Text16("V1", 46));
  r.board.Load(kZone + 0xFE, {0x12, 0x34});
  const auto start = r.board.Flash();
  const auto unit = Sector(start);
  const std::string ini = r.board.DeviceIni();
  r.p.Settings(kBoardIds);

  // The board as it was (or as the cut left it) with a cut at transfer n.
  auto reset = [&](uint32_t n, const std::vector<uint8_t>& flash) {
    std::string text = ini;
    const size_t at = text.find(key + "0\n");
    ASSERT_NE(at, std::string::npos);
    WriteFile(r.board.dir() + "/device.ini", text.replace(at, key.size() + 1, key + Hex(n)));
    WriteBytes(r.board.dir() + "/flash.bin", flash);
    std::filesystem::remove(r.board.dir() + "/state.ini");
    r.p.console.out.clear();
  };

  ASSERT_EQ(r.board.Run({"/WRSN", "NEW"}), 1u) << r.p.out;
  const auto total = static_cast<uint32_t>(r.board.log.size());
  r.board.keep_log = false;
  uint32_t passes = 0, restores = 0;
  for (uint32_t n = 1; n <= total; ++n) {
    std::filesystem::remove(r.p.File(kKeptInfoSector));
    reset(n, start);
    const uint32_t result = r.board.Run({"/WRSN", "NEW"});
    auto flash = r.board.Flash();
    const bool kept = FileExists(r.p.File(kKeptInfoSector));
    if (result == 1) {
      ++passes;
      ASSERT_TRUE(Sector(flash) == WithSerial(unit, "NEW")) << n << "\n" << r.p.out;
      ASSERT_FALSE(kept) << n;
    } else {
      ASSERT_NE(r.p.out.find("Return_Value = 0x0\n"), std::string::npos) << n << "\n" << r.p.out;
      // Still in the flash, or in the file that this failure named.
      const auto now = Sector(flash);
      if (now != unit && now != WithSerial(unit, "NEW")) {
        ASSERT_TRUE(kept) << n << "\n" << r.p.out;
        ASSERT_TRUE(Same(ReadBytes(r.p.File(kKeptInfoSector)), 0, unit)) << n;
        ASSERT_NE(r.p.out.find("    Info_Sector_Kept_In: PDInfoZone.bin\n"), std::string::npos)
            << n << "\n" << r.p.out;
      }
    }
    // The next write that goes through has every other field of the unit.
    reset(0, flash);
    ASSERT_EQ(r.board.Run({"/WRSN", "AGAIN"}), 1u) << "after " << GetParam() << "=" << n << "\n"
                                                   << r.p.out;
    if (r.p.out.find("Info_Sector_Restored_From") != std::string::npos) ++restores;
    flash = r.board.Flash();
    ASSERT_TRUE(Sector(flash) == WithSerial(unit, "AGAIN")) << n;
    flash = r.board.Flash();
    std::copy(start.begin() + kZone, start.begin() + kZone + 0x1000, flash.begin() + kZone);
    ASSERT_TRUE(flash == start) << n;  // nothing outside the sector changed
  }
  std::cout << "[ cut-off  ] " << GetParam() << ": " << total << " transfers, every one cut; "
            << passes << " passed over, " << restores << " restored from the kept sector\n";
  RecordProperty("transfers", static_cast<int>(total));
}

INSTANTIATE_TEST_SUITE_P(Scenario, InfoCutOff,
                         ::testing::Values("FailTransfer", "UnplugAtTransfer"));

}  // namespace
}  // namespace pdflash::test
