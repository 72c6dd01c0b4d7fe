// The device information zone through the whole program: fields written and
// read back, "BBInfo.Txt", the rest of the flash kept byte for byte, and the
// kept sector that survives a write cut at any transfer.
#include "ops/device_info.h"

#include <iostream>

#include "scenario/scenario_support.h"
#include "sim/pdsim.h"

namespace pdflash::test {
namespace {

constexpr uint32_t kZone = 0x3F000;
const std::string k31 = "0123456789ABCDEFGHIJKLMNOPQRSTU", kBox(41, '=');

std::vector<uint8_t> With(std::vector<uint8_t> to, uint32_t at, const std::vector<uint8_t>& b) {
  std::copy(b.begin(), b.end(), to.begin() + at);
  return to;
}
std::vector<uint8_t> Text16(const std::string& s, size_t bytes, uint8_t pad = 0) {
  std::vector<uint8_t> b(bytes, pad);
  for (size_t i = 0; i < s.size(); ++i) b[2 * i] = uint8_t(s[i]), b[2 * i + 1] = 0;
  return b;
}
std::vector<uint8_t> Sector(const std::vector<uint8_t>& flash) {
  return {flash.begin() + kZone, flash.begin() + kZone + 0x1000};
}

// Every field set; the product string padded with 0xFF instead of zeros.
void Personalise(Rig& r) {
  auto zone = With(With(std::vector<uint8_t>(0x100, 0x5A), 0x10, Text16("ABC", 46)), 0x40,
                   Text16("Dock", 46, 0xFF));
  zone = With(With(With(zone, 0x80, Text16(k31, 62)), 0xC0, Text16("V1", 46)), 0xFE, {0x12, 0x34});
  r.board.Load(kZone, zone);
}
uint32_t RunWith(Rig& r, const std::vector<std::string>& args, const std::string& settings = "") {
  r.p.Settings(settings + kBoardIds);
  r.before = r.board.Flash();
  return r.board.Run(args);
}

TEST(DeviceInfo, WriteChangesOnlyItsField) {
  const struct {
    std::vector<std::string> args;
    uint32_t at;
    std::vector<uint8_t> bytes;
  } cases[] = {{{"/WRSN", "ABC"}, 0x10, Text16("ABC", 46)},
               {{"/WRSN", std::string(30, 'Z')}, 0x10, Text16(std::string(23, 'Z'), 46)},
               {{"/WRISN", k31}, 0x80, Text16(k31, 62)},
               {{"/WRBCD", "12"}, 0xFE, {0x00, 0x12}},
               {{"/CLEAR"}, 0x40, std::vector<uint8_t>(0xC0, 0xFF)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    Rig r;
    Personalise(r);
    EXPECT_EQ(RunWith(r, c.args, "DbgMsg=1\n"), 1u) << r.p.out;
    EXPECT_THAT(r.p.out, HasSubstr("  ----- SPI[03F000] -----\n  RdData[00]:5A,5A,"));
    EXPECT_TRUE(r.board.Flash() == With(r.before, kZone + c.at, c.bytes));
    EXPECT_FALSE(FileExists(r.p.File(kKeptInfoSector)));
  }
}

TEST(DeviceInfo, CheckPrintsComparesAndRecords) {
  const std::string bbinfo =
      "[Billboard]\nSerialNumber=ABC\niProduct=Dock\niSerialNumber=" + k31.substr(0, 23) +
      "\niVersion=V1\nbcdDevice=1234\n";
  const std::string match = "\n" + kBox + "\n    Compare Match.\n",
                    error = "\n" + kBox + "\nCompare Error.\n";
  const std::tuple<std::vector<std::string>, uint32_t, std::string> cases[] = {
      {{"/CKSN", "ABC"}, 1, "=   Information_in_Flash:ABC" + match},
      {{"/CKSN"}, 1, "=   Information_in_flash:ABC\n" + kBox + "\nReturn_Value"},
      {{"/CKIPR", "Dock"}, 0, "=   Information_in_Flash:Dock" + error},  // 0xFF is not zero
      {{"/CKISN"}, 1, "=   Information_in_flash:" + k31 + "\n"},
      {{"/CKBCD", "0012"}, 1, "=   Information_in_flash:1234\n" + kBox + "\nReturn_Value"},
      {{"/CKBCD", "1234"}, 1, "=   Information_in_Flash:1234" + match}};
  for (const auto& [args, result, lines] : cases) {
    SCOPED_TRACE(lines);
    Rig r;
    Personalise(r);
    EXPECT_EQ(RunWith(r, args), result) << r.p.out;
    EXPECT_THAT(r.p.out, HasSubstr(lines));
    const bool compared = lines.find("Compare") != std::string::npos;
    EXPECT_EQ(compared ? ReadFile(r.p.File("BBInfo.Txt")) : "", compared ? bbinfo : "");
    EXPECT_EQ(FileExists(r.p.File("BBInfo.Txt")), compared);
    EXPECT_TRUE(r.Untouched());
  }
}

TEST(DeviceInfo, ClearThenCheckAndPdsimShow) {
  Rig r({"Flash2Size=40000"});
  r.board.Load(0x20000, Firmware(0xC800, 0x0E020300), 1, 2);
  ASSERT_EQ(RunWith(r, {"/WRSN", "SN-0042"}), 1u);
  ASSERT_EQ(RunWith(r, {"/CLEAR"}), 1u);
  EXPECT_EQ(RunWith(r, {"/CKIPR"}), 1u);
  EXPECT_THAT(r.p.out, HasSubstr("=   Information_in_flash:\n" + kBox));
  std::string out, err;
  ASSERT_EQ(sim::RunPdsim({"show", r.board.dir()}, out, err), 0) << err;
  EXPECT_THAT(out, HasSubstr("zone at 03F000:\n    serial number         \"SN-0042\"\n"
                             "    product string        (erased)\n"));
  EXPECT_THAT(out, HasSubstr("    bcdDevice             FFFF\n"));
  EXPECT_THAT(out, HasSubstr("  second flash 40000 bytes, status 00/00\n  PD copy 1 at "
                             "020000: valid, version 0E.02.03.00"));
}

TEST(DeviceInfo, RefusalsLeaveTheZoneAlone) {
  Rig r, c;
  Personalise(r);
  // Unit A's cut write, and unit C: the rest of its sector as A's, no field set.
  auto a = Sector(r.board.Flash()), meant = With(a, 0x10, Text16("NEW", 46));
  a.insert(a.end(), meant.begin(), meant.end());
  c.board.Load(kZone, std::vector<uint8_t>(0x100, 0xFF));
  for (auto [rig, kept, line] : {std::tuple{&r, Background(0x2000, 77), "Info_Keep_File_In_Use"},
                                 std::tuple{&c, a, "Info_Sector_Blank_Keep_File"}}) {
    WriteBytes(rig->p.File(kKeptInfoSector), kept);
    EXPECT_EQ(RunWith(*rig, {"/WRSN", "NEW"}), 0u);
    EXPECT_THAT(rig->p.out,
                HasSubstr("Protection : " + std::string(line) + ": PDInfoZone.bin\nRet"));
    EXPECT_TRUE(rig->Untouched() && ReadBytes(rig->p.File(kKeptInfoSector)) == kept);
  }
  Rig rom({"Mode=Rom", "ChallengeClient=1"});
  EXPECT_EQ(RunWith(rom, {"/WRSN", "NEW"}, "NeedMathChallenge=1\n"), 0u);
  EXPECT_THAT(rom.p.out, HasSubstr("\t Not_Math-Challenge-Bin_Or_VID_wsn_80000000_2109\nReturn"));
  EXPECT_TRUE(rom.Untouched());
  // A code without a field: the size check and status write, then nothing.
  BoardOp op(r);
  ASSERT_TRUE(op.open);
  op.bus.ClearLog();
  EXPECT_EQ(WriteDeviceInfo(op.t, op.link, 1, 0, 0x0D, std::vector<uint8_t>(128, 'A').data()), 0u);
  for (size_t i : Where(op.bus.Log(), {kReadData}))
    EXPECT_NE(FlashAddress(op.bus.Log()[i].setup) & ~0xFFFu, kZone);
  EXPECT_EQ(CountRequests(op.bus.Log(), kWriteStatus), 1u);
  EXPECT_FALSE(ChangesFlash(op.bus.Log()));
}

// Cut at every transfer of a "/WRSN" run: a failure, and the unit's other
// fields in the flash or in the kept sector the failure names; the next
// write that goes through has them all, and nothing else changed.
class InfoCutOff : public ::testing::TestWithParam<const char*> {};

TEST_P(InfoCutOff, OtherFieldsSurvive) {
  Rig r({"FlashSize=40000"});
  Personalise(r);
  const auto start = r.board.Flash();
  const std::string ini = r.board.DeviceIni();
  auto reset = [&](uint32_t n, const std::vector<uint8_t>& flash) {
    r.ResetForCut(ini, GetParam(), n, flash);
  };
  auto serial = [&](const char* s) { return With(start, kZone + 0x10, Text16(s, 46)); };
  ASSERT_EQ(RunWith(r, {"/WRSN", "NEW"}), 1u);
  const auto total = static_cast<uint32_t>(r.board.log.size());
  r.board.keep_log = false;
  uint32_t passes = 0, restores = 0, refusals = 0;
  for (uint32_t n = 1; n <= total; ++n) {
    std::filesystem::remove(r.p.File(kKeptInfoSector));
    reset(n, start);
    const uint32_t result = r.board.Run({"/WRSN", "NEW"});
    const auto flash = r.board.Flash();
    ASSERT_LE(result, 1u);
    passes += result;
    ASSERT_TRUE(result == 0 || flash == serial("NEW")) << n;
    if (result != 1 && Sector(flash) != Sector(start) && Sector(flash) != Sector(serial("NEW"))) {
      ASSERT_TRUE(Same(ReadBytes(r.p.File(kKeptInfoSector)), 0, Sector(start))) << n;
      ASSERT_THAT(r.p.out,
                  HasSubstr("    Info_Sector_Kept_In: PDInfoZone.bin\nReturn_Value = 0x0\n"));
    }
    reset(0, flash);
    // Erased is no proof the kept sector is this unit's: it stays, and so does the flash.
    const bool erased = Sector(flash) == std::vector<uint8_t>(0x1000, 0xFF);
    const auto kept = erased ? ReadBytes(r.p.File(kKeptInfoSector)) : std::vector<uint8_t>{};
    const uint32_t again = r.board.Run({"/WRSN", "AGAIN"});
    if (erased) {
      ASSERT_THAT(r.p.out, HasSubstr("Info_Sector_Blank_Keep_File: PDInfoZone.bin\nReturn")) << n;
      ASSERT_TRUE(again == 0 && r.board.Flash() == flash) << n;
      ASSERT_TRUE(ReadBytes(r.p.File(kKeptInfoSector)) == kept && kept.size() == 0x2000) << n;
      ++refusals;
      continue;
    }
    ASSERT_EQ(again, 1u) << GetParam() << "=" << n << "\n" << r.p.out;
    restores +=
        r.p.out.find("    Info_Sector_Restored_From: PDInfoZone.bin\n") != std::string::npos;
    ASSERT_TRUE(r.board.Flash() == serial("AGAIN") && !FileExists(r.p.File(kKeptInfoSector))) << n;
  }
  EXPECT_GT(restores, 0u);
  EXPECT_GT(refusals, 0u);
  std::cout << "[ cut-off  ] " << GetParam() << ": " << total << " transfers, each cut once; "
            << passes << " passed over, " << restores << " put back from the kept sector, "
            << refusals << " left erased\n";
}

INSTANTIATE_TEST_SUITE_P(Scenario, InfoCutOff,
                         ::testing::Values("FailTransfer", "UnplugAtTransfer"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace pdflash::test
