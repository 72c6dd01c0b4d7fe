// The device information zone through the whole program: each field
// written and read back, "BBInfo.Txt", the rest of the sector kept byte for
// byte, and the kept copy of the sector that survives a cut write.
#include "ops/device_info.h"
#include "scenario/scenario_support.h"
#include "sim/pdsim.h"

namespace pdflash::test {
namespace {

constexpr uint32_t kZone = 0x3F000;
const std::string kOneAndThirty = "0123456789ABCDEFGHIJKLMNOPQRSTU";

std::vector<uint8_t> Text16(const std::string& s, size_t bytes, uint8_t pad = 0) {
  std::vector<uint8_t> b(bytes, pad);
  for (size_t i = 0; i < s.size() && 2 * i + 1 < bytes; ++i) b[2 * i] = uint8_t(s[i]), b[2 * i + 1] = 0;
  return b;
}

// A personalised unit: every field set, the product string padded with 0xFF.
void Personalise(Rig& r) {
  r.board.Load(kZone + 0x10, Text16("ABC", 46));
  r.board.Load(kZone + 0x40, Text16("Dock", 46, 0xFF));
  r.board.Load(kZone + 0x80, Text16(kOneAndThirty, 62));
  r.board.Load(kZone + 0xC0, Text16("V1", 46));
  r.board.Load(kZone + 0xFE, {0x12, 0x34});
}

uint32_t RunWith(Rig& r, const std::vector<std::string>& args, const std::string& settings = "") {
  r.p.Settings(settings + kBoardIds);
  r.before = r.board.Flash();
  return r.board.Run(args);
}

std::vector<uint8_t> With(std::vector<uint8_t> flash, uint32_t at, const std::vector<uint8_t>& b) {
  std::copy(b.begin(), b.end(), flash.begin() + at);
  return flash;
}

TEST(DeviceInfo, WriteChangesOnlyItsField) {
  const struct {
    std::vector<std::string> args;
    uint32_t offset;
    std::vector<uint8_t> bytes;
    std::string settings = "";
    std::string lines = "";
  } cases[] = {
      {{"/WRSN", "ABC"}, 0x10, Text16("ABC", 46), "DbgMsg=1\n",
       "  ----- SPI[03F000] -----\n  RdData[00]:"},
      {{"/WRSN", std::string(30, 'Z')}, 0x10, Text16(std::string(23, 'Z'), 46)},
      {{"/WRIPR", "Dock"}, 0x40, Text16("Dock", 46), "DbgMsg=1\n",
       "WriteInfo_Data[0x40]:\n44 \n00 \n6F \n"},
      {{"/WRISN", kOneAndThirty}, 0x80, Text16(kOneAndThirty, 62)},
      {{"/WRIVR", "V2.0"}, 0xC0, Text16("V2.0", 46)},
      {{"/WRBCD", "0123"}, 0xFE, {0x01, 0x23}},
      {{"/WRBCD", "12"}, 0xFE, {0x00, 0x12}},
      {{"/CLEAR"}, 0x40, std::vector<uint8_t>(0xC0, 0xFF)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : ""));
    Rig r;
    Personalise(r);
    EXPECT_EQ(RunWith(r, c.args, c.settings), 1u) << r.p.out;
    EXPECT_THAT(r.p.out, HasSubstr("    Write_PD[1]_Info_Exe ("));
    EXPECT_THAT(r.p.out, HasSubstr(c.lines));
    // The whole flash as it was, the field aside.
    EXPECT_TRUE(r.board.Flash() == With(r.before, kZone + c.offset, c.bytes));
    EXPECT_FALSE(FileExists(r.p.File(kKeptInfoSector)));
    EXPECT_FALSE(FileExists(r.p.File("BBInfo.Txt")));
  }
}

TEST(DeviceInfo, CheckPrintsComparesAndRecords) {
  const std::string bbinfo =
      "[Billboard]\nSerialNumber=ABC\niProduct=Dock\niSerialNumber=" + kOneAndThirty.substr(0, 23) +
      "\niVersion=V1\nbcdDevice=1234\n";
  const struct {
    std::vector<std::string> args;
    uint32_t result;
    std::string lines;  // from the box on; "" when no compare is made
  } cases[] = {
      {{"/CKSN", "ABC"}, 1, "=   Information_in_Flash:ABC\n" + std::string(41, '=') + "\n    Compare Match.\n"},
      {{"/CKSN"}, 1, "=   Information_in_flash:ABC\n" + std::string(41, '=') + "\nReturn_Value"},
      {{"/CKSN", "ABD"}, 0, "=   Information_in_Flash:ABC\n" + std::string(41, '=') + "\nCompare Error.\n"},
      // The text is the same; the 0xFF bytes after it are not zeros.
      {{"/CKIPR", "Dock"}, 0, "=   Information_in_Flash:Dock\n" + std::string(41, '=') + "\nCompare Error.\n"},
      {{"/CKISN"}, 1, "=   Information_in_flash:" + kOneAndThirty + "\n"},
      {{"/CKIVR", "V1"}, 1, "Information_in_Flash:V1\n"},
      // A first byte of 0 is no expected value.
      {{"/CKBCD", "0012"}, 1, "=   Information_in_flash:1234\n" + std::string(41, '=') + "\nReturn_Value"},
      {{"/CKBCD", "1234"}, 1, "=   Information_in_Flash:1234\n" + std::string(41, '=') + "\n    Compare Match.\n"},
      {{"/CKBCD", "1235"}, 0, "Compare Error.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : ""));
    Rig r;
    Personalise(r);
    EXPECT_EQ(RunWith(r, c.args), c.result) << r.p.out;
    EXPECT_THAT(r.p.out, HasSubstr("    Check_PD[1]_Info_Exe ("));
    EXPECT_THAT(r.p.out, HasSubstr(c.lines));
    const bool expected = c.args.size() > 1 && c.args[1] != "0012";
    EXPECT_EQ(FileExists(r.p.File("BBInfo.Txt")), expected);
    if (expected) {
      EXPECT_EQ(ReadFile(r.p.File("BBInfo.Txt")), bbinfo);
    }
    EXPECT_TRUE(r.Untouched());
  }
}

TEST(DeviceInfo, ClearKeepsTheSerialNumber) {
  Rig r;
  Personalise(r);
  ASSERT_EQ(RunWith(r, {"/CLEAR"}), 1u) << r.p.out;
  EXPECT_EQ(RunWith(r, {"/CKIPR"}), 1u);
  EXPECT_THAT(r.p.out, HasSubstr("=   Information_in_flash:\n=====")) << r.p.out;
  EXPECT_EQ(RunWith(r, {"/CKSN", "ABC"}), 1u);
  EXPECT_THAT(ReadFile(r.p.File("BBInfo.Txt")),
              HasSubstr("SerialNumber=ABC\niProduct=\niSerialNumber=\niVersion=\nbcdDevice=FFFF\n"));
}

TEST(DeviceInfo, RefusedWithoutTouchingTheZone) {
  // A 128 KiB part mirrors 0x20000 at 0x40000.
  Rig small({"FlashSize=20000"}, {}, false, false);
  EXPECT_EQ(RunWith(small, {"/WRSN", "ABC"}), 0u);
  EXPECT_THAT(small.p.out, HasSubstr("    Write_PD[1]_Info_Exe (3)\n    Size_Not_256KB.\nReturn"));
  EXPECT_TRUE(small.Untouched());

  // A code without a field: the size check and status write, then nothing.
  Rig r;
  Personalise(r);
  r.before = r.board.Flash();
  {
    BoardOp op(r);
    ASSERT_TRUE(op.open);
    op.bus.ClearLog();
    std::array<uint8_t, 128> value{};
    value.fill('A');
    EXPECT_EQ(WriteDeviceInfo(op.t, op.link, 1, 0, 0x0D, value.data()), 0u);
    const Log log = op.bus.Log();
    EXPECT_EQ(CountRequests(log, kWriteStatus), 1u);
    for (size_t i : Where(log, {kReadData}))
      EXPECT_NE(FlashAddress(log[i].setup) & ~0xFFFu, kZone) << i;
    EXPECT_FALSE(ChangesFlash(log));
  }
  EXPECT_TRUE(r.board.Flash() == r.before);
}

// A write that does not verify names the kept sector; the next write that
// finds the sector erased puts the other fields back.
TEST(DeviceInfo, KeptSectorBringsTheFieldsBack) {
  Rig probe;
  Personalise(probe);
  ASSERT_EQ(RunWith(probe, {"/WRSN", "NEW"}), 1u);
  const auto programs = Where(probe.board.log, {kProgram});

  Rig r({"FailTransfer=" + Hex(uint32_t(programs.at(2) + 1))});
  Personalise(r);
  const auto unit = r.board.Flash();
  const std::vector<uint8_t> sector(unit.begin() + kZone, unit.begin() + kZone + 0x1000);
  EXPECT_EQ(RunWith(r, {"/WRSN", "NEW"}), 0u);
  EXPECT_THAT(r.p.out, HasSubstr("WrRdCmp_Wr_Error\n"));
  EXPECT_THAT(r.p.out, HasSubstr("    Info_Sector_Kept_In: PDInfoZone.bin\nReturn_Value = 0x0\n"));
  const auto kept = ReadBytes(r.p.File(kKeptInfoSector));
  ASSERT_EQ(kept.size(), 0x2000u);
  EXPECT_TRUE(Same(kept, 0, sector));
  EXPECT_TRUE(Same(kept, 0x1000, With(sector, 0x10, Text16("NEW", 46))));
  EXPECT_FALSE(Same(r.board.Flash(), kZone, sector));

  WriteFile(r.board.dir() + "/device.ini", probe.board.DeviceIni());
  EXPECT_EQ(RunWith(r, {"/WRSN", "AGAIN"}), 1u) << r.p.out;
  EXPECT_THAT(r.p.out, HasSubstr("    Info_Sector_Restored_From: PDInfoZone.bin\n"));
  EXPECT_TRUE(r.board.Flash() == With(unit, kZone + 0x10, Text16("AGAIN", 46)));
  EXPECT_FALSE(FileExists(r.p.File(kKeptInfoSector)));
}

// A kept sector that does not fit this unit (another unit's, or any file of
// that name) is neither overwritten nor written into this unit.
TEST(DeviceInfo, ForeignKeptFileStopsTheWrite) {
  Rig r;
  Personalise(r);
  const auto other = Background(0x2000, 77);
  WriteBytes(r.p.File(kKeptInfoSector), other);
  EXPECT_EQ(RunWith(r, {"/WRSN", "NEW"}), 0u);
  EXPECT_THAT(r.p.out, HasSubstr("Protection : Info_Keep_File_In_Use: PDInfoZone.bin\nReturn"));
  EXPECT_TRUE(r.Untouched());
  EXPECT_TRUE(ReadBytes(r.p.File(kKeptInfoSector)) == other);
}

// The writing functions answer the challenge and go on only under the
// challenge VID, unless the setting skips that check.
TEST(DeviceInfo, ChallengeGatesTheWrite) {
  const struct {
    std::string settings;
    std::vector<std::string> keys;
    uint32_t result;
    const char* line;
    size_t answers;  // the answer, and the counter sent back to lock
  } cases[] = {
      {"NeedMathChallenge=1\n", {}, 0, "\t Not_Math-Challenge-Bin_Or_VID_wsn_80000000_2109\n", 2},
      {"NeedMathChallenge=81\n", {}, 1, "    Skip_Check_Math-Challenge-Bin_wsn\n", 1},
      {"NeedMathChallenge=1\nPD1RomVID=291A\n", {"RomVID=291A"}, 1, "    Write_PD[1]_Info_Exe (3)\n", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.settings);
    auto keys = c.keys;
    keys.insert(keys.end(), {"Mode=Rom", "ChallengeClient=1"});
    Rig r(keys);
    EXPECT_EQ(RunWith(r, {"/WRSN", "SN"}, c.settings), c.result) << r.p.out;
    EXPECT_THAT(r.p.out, HasSubstr(c.line));
    size_t answers = 0;
    for (const auto& t : r.board.log)
      answers += t.setup.bRequest == kRegisterRequest && t.setup.wValue == 0x000E && t.ok;
    EXPECT_EQ(answers, c.answers);
    EXPECT_EQ(ChangesFlash(r.board.log), c.result == 1);
  }
}

// What the board shows after a personalisation: the fields as text and the
// PD copies of both flashes.
TEST(DeviceInfo, PdsimShowsTheZone) {
  Rig r({"Flash2Size=40000"});
  r.board.Load(0x20000, Firmware(0xC800, 0x0E020300), 1, 2);
  ASSERT_EQ(RunWith(r, {"/CLEAR"}), 1u);
  ASSERT_EQ(RunWith(r, {"/WRSN", "SN-0042"}), 1u);
  ASSERT_EQ(RunWith(r, {"/WRBCD", "0312"}), 1u);
  std::string out, err;
  ASSERT_EQ(sim::RunPdsim({"show", r.board.dir()}, out, err), 0) << err;
  EXPECT_THAT(out, HasSubstr("  information zone at 03F000:\n"
                             "    serial number         \"SN-0042\"\n"
                             "    product string        (erased)\n"
                             "    serial-number string  (erased)\n"
                             "    version string        (erased)\n"
                             "    bcdDevice             0312\n"
                             "  second flash 40000 bytes, status 00/00\n"
                             "  PD copy 1 at 020000: valid, version 0E.02.03.00"));
}

}  // namespace
}  // namespace pdflash::test
