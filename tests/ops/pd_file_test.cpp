#include "ops/pd_file.h"

#include <gtest/gtest.h>

#include <vector>

#include "image/bytes.h"
#include "support/harness.h"
#include "tools/fwgen.h"

namespace pdflash {
namespace {

using fwgen::MakePdFirmware;
using fwgen::PdFirmwareSpec;
using test::ToolFixture;
using test::WriteBytes;

constexpr const char* kBox = "=========================================\n";

// A fixture whose PD record 1 names pd.bin in the temp folder.
struct PdFile : ToolFixture {
  PdFile() { t.Pd[1].BinPath = "pd.bin"; }
  void Write(const std::vector<uint8_t>& bytes) { WriteBytes(dir / "pd.bin", bytes); }
  void Write(const PdFirmwareSpec& s) { Write(MakePdFirmware(s)); }
};

TEST(GetPdBinVersion, AcceptedFileSetsVersionAndIds) {
  PdFile fx;
  PdFirmwareSpec s;
  s.version = 0x0E010203;
  s.pid = 0x0107;
  fx.Write(s);
  fx.t.Pd[1].CurVid = 0xAAAA;
  EXPECT_EQ(GetPdBinVersion(fx.t, 1), 0x0E010203u);
  EXPECT_EQ(fx.t.Pd[1].BinVersion, 0x0E010203u);
  EXPECT_EQ(fx.t.Pd[1].CurVid, 0x2109);
  EXPECT_EQ(fx.t.Pd[1].CurPid, 0x0107);
  EXPECT_EQ(fx.console.out,
            std::string(kBox) + "=    PD[1] Bin Version is 0E.01.02.03   =\n" + kBox);
}

TEST(GetPdBinVersion, IdentityRule) {
  struct Case {
    uint16_t vid, vid2, configured;
    bool accepted;
  } cases[] = {
      {0x2109, 0x0000, 0x0000, true}, {0x1234, 0x2109, 0x0000, true},
      {0x1234, 0x5678, 0x1234, true}, {0x1234, 0x5678, 0x5678, true},
      {0x4444, 0x4444, 0x0001, true}, {0x1234, 0x5678, 0x0001, false},
      {0x1234, 0x0000, 0x0000, true},  // an unset configuration matches an empty VID2
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IdentityAccepts(c.vid, c.vid2, c.configured), c.accepted)
        << std::hex << c.vid << "/" << c.vid2;
    PdFile fx;
    PdFirmwareSpec s;
    s.vid = c.vid;
    s.vid2 = c.vid2;
    s.version = 0x0D010100;
    fx.Write(s);
    fx.t.set.PD1VID = c.configured;
    const uint32_t v = GetPdBinVersion(fx.t, 1);
    EXPECT_EQ(v, c.accepted ? 0x0D010100u : 0u);
    EXPECT_EQ(fx.t.Pd[1].CurVid, c.accepted ? c.vid : 0);
    if (!c.accepted) {
      char line[64];
      std::snprintf(line, sizeof line, "    PD_Bin_VID = %04X/%04X\n", c.vid, c.vid2);
      EXPECT_EQ(fx.console.out, line);
    }
  }
}

TEST(GetPdBinVersion, DebugShowsTheIdsBeforeTheVerdict) {
  PdFile fx;
  PdFirmwareSpec s;
  s.vid = 0x1111;
  s.vid2 = 0x2222;
  fx.Write(s);
  fx.t.set.DbgMsg = 1;
  fx.t.Pd[1].BinVersion = 0x12345678;  // a stale value must not survive a rejection
  EXPECT_EQ(GetPdBinVersion(fx.t, 1), 0u);
  EXPECT_EQ(fx.t.Pd[1].BinVersion, 0u);
  EXPECT_EQ(fx.console.out, "    PD_Bin_VID = 1111/2222\n    PD_Bin_VID = 1111/2222\n");
}

TEST(GetPdBinVersion, MissingFileReadsAsZeros) {
  PdFile fx;
  fx.t.set.DisplayFormalVer = 1;  // no formal-version search follows a zero version
  fx.t.Pd[1].CurVid = 0x2109;
  fx.t.Pd[1].CurPid = 0x0107;
  EXPECT_EQ(GetPdBinVersion(fx.t, 1), 0u);
  EXPECT_EQ(fx.t.Pd[1].CurVid, 0);
  EXPECT_EQ(fx.t.Pd[1].CurPid, 0);
  EXPECT_EQ(fx.console.out,
            std::string(kBox) + "=    PD[1] Bin Version is 00.00.00.00   =\n" + kBox);
}

TEST(GetPdBinVersion, ShortFileReadsZerosPastItsEnd) {
  PdFile fx;
  auto b = MakePdFirmware({});
  b.resize(0x1005);  // two version bytes, nothing after
  fx.Write(b);
  EXPECT_EQ(GetPdBinVersion(fx.t, 1), 0x0E010000u);  // VID = VID2 = 0
}

TEST(GetPdBinVersion, FormalVersionFollowsTheBox) {
  PdFile fx;
  PdFirmwareSpec s;
  s.version = 0x0E010100;
  s.formal_version = 0x01020304;
  fx.Write(s);
  fx.t.set.DisplayFormalVer = 1;
  EXPECT_EQ(GetPdBinVersion(fx.t, 1), 0x0E010100u);
  EXPECT_EQ(fx.t.Pd[1].BinFormalVersion, 0x01020304u);
  EXPECT_EQ(fx.console.out, std::string(kBox) + "=    PD[1] Bin Version is 0E.01.01.00   =\n" +
                                kBox + "=     Formal Version is 01.02.03.04     =\n" + kBox);
}

TEST(GetFormalVersion, SearchWindows) {
  struct Case {
    uint32_t offset;
    bool found;
  } cases[] = {{0x1000, true}, {0x1037, true}, {0x1038, false}, {0x0FFF, false},
               {0x4000, true}, {0x4037, true}, {0x4038, false}, {0x2000, false}};
  for (const Case& c : cases) {
    PdFile fx;
    PdFirmwareSpec s;
    s.formal_version = 0xA1B2C3D4;
    s.formal_offset = c.offset;
    auto b = MakePdFirmware(s);
    fx.Write(b);
    fx.t.set.DisplayFormalVer = 1;
    EXPECT_EQ(GetFormalVersion(fx.t, kFormalPdFile, 1), c.found ? 1u : 0u) << std::hex << c.offset;
    EXPECT_EQ(fx.t.Pd[1].BinFormalVersion, c.found ? 0xA1B2C3D4u : 0u) << std::hex << c.offset;
    EXPECT_EQ(fx.console.out.empty(), !c.found);
  }
}

TEST(GetFormalVersion, FirstMatchWinsAndTheFirstWindowComesFirst) {
  PdFile fx;
  PdFirmwareSpec s;
  s.formal_version = 0x00000002;
  s.formal_offset = 0x4010;
  auto b = MakePdFirmware(s);
  const uint8_t first[8] = {0, 0, 0, 1, 0x66, 0x6D, 0xAB, 0x56};
  std::copy(first, first + 8, b.begin() + 0x1030);
  fx.Write(b);
  fx.t.set.DisplayFormalVer = 1;
  EXPECT_EQ(GetFormalVersion(fx.t, kFormalPdFile, 1), 1u);
  EXPECT_EQ(fx.t.Pd[1].BinFormalVersion, 1u);
}

TEST(GetFormalVersion, RefusalsAndTheDpFile) {
  PdFile fx;
  // Switched off: nothing is read, and that counts as found.
  EXPECT_EQ(GetFormalVersion(fx.t, kFormalPdFile, 1), 1u);
  EXPECT_EQ(fx.console.out, "");
  fx.t.set.DisplayFormalVer = 1;

  EXPECT_EQ(GetFormalVersion(fx.t, kFormalPdFile, 1), 0u);
  EXPECT_EQ(fx.console.out, "Protection : FW_Open_Fail.\n");

  fx.console.out.clear();
  fx.Write(std::vector<uint8_t>(0x20001, 0x02));
  EXPECT_EQ(GetFormalVersion(fx.t, kFormalPdFile, 1), 0u);
  EXPECT_EQ(fx.console.out, "Protection : FW_Size_128K_Over.\n");

  fx.console.out.clear();
  PdFirmwareSpec s;
  s.formal_version = 0x01010101;
  auto b = MakePdFirmware(s);
  b[0] = 0x03;
  fx.Write(b);
  EXPECT_EQ(GetFormalVersion(fx.t, kFormalPdFile, 1), 0u);
  EXPECT_EQ(fx.console.out, "Protection : FW_Data[0]_Error.\n");

  // Selector 0x40 reads the DP converter's file and fills its record.
  fx.console.out.clear();
  fwgen::DpFirmwareSpec dp;
  dp.formal_version = 0x05060708;
  WriteBytes(fx.dir / "dp.bin", fwgen::MakeDpFirmware(dp));
  fx.t.Dp[1].BinPath = "dp.bin";
  EXPECT_EQ(GetFormalVersion(fx.t, kFormalDpFile, 1), 1u);
  EXPECT_EQ(fx.t.Dp[1].BinFormalVersion, 0x05060708u);
  EXPECT_EQ(fx.t.Pd[1].BinFormalVersion, 0u);
}

TEST(GetPdBinFlag, ReadsTheFlagWordOnlyWithItsMarker) {
  PdFile fx;
  PdFirmwareSpec s;
  s.flag = 0x80000001;
  fx.Write(s);
  fx.t.Pd[1].BinVersion = 0x0E010100;
  EXPECT_EQ(GetPdBinFlag(fx.t, 1), 0x0E010100u);  // the file version, untouched
  EXPECT_EQ(fx.t.Pd[1].BinFlag, 0x80000001u);
  EXPECT_EQ(fx.console.out, "    PD_Bin_FLAG = 80000001\n");

  fx.console.out.clear();
  auto b = MakePdFirmware(s);
  b[0x1022] = 'g';  // "FLAg"
  fx.Write(b);
  EXPECT_EQ(GetPdBinFlag(fx.t, 1), 0x0E010100u);
  EXPECT_EQ(fx.t.Pd[1].BinFlag, 0u);
  EXPECT_EQ(fx.console.out, "    PD_Bin_FLAG_Not_Found\n");

  fx.console.out.clear();
  fx.t.Pd[1].BinPath = "missing.bin";
  fx.t.Pd[1].BinFlag = 7;
  GetPdBinFlag(fx.t, 1);
  EXPECT_EQ(fx.t.Pd[1].BinFlag, 0u);
  EXPECT_EQ(fx.console.out, "    PD_Bin_FLAG_Not_Found\n");
}

TEST(CheckPdBin, CompatibilityTable) {
  struct Row {
    uint16_t chip;
    std::vector<uint8_t> fids;
    uint32_t size;
  } rows[] = {{0x0102, {0x07, 0x08}, 0x8000},  {0x0103, {0x09, 0x0A}, 0x8000},
              {0x0104, {0x0B}, 0xC000},        {0x0105, {0x0C}, 0xC000},
              {0x0106, {0x0D}, 0x8000},        {0x0107, {0x0E}, 0xC800},
              {0x0108, {0xA1, 0xB1}, 0x10000}, {0x0109, {0xA2, 0xB2}, 0x10000}};
  ToolFixture fx;
  for (const Row& r : rows) {
    fx.t.Pd[1].ProjectId = uint32_t{r.chip} << 16 | 0x1234;
    for (uint8_t fid : r.fids) {
      EXPECT_EQ(CheckPdBin(fx.t, 1, fid, r.size), 1u) << std::hex << r.chip << " " << int(fid);
      EXPECT_EQ(CheckPdBin(fx.t, 1, fid, r.size + 0x800), 0u);
      EXPECT_EQ(CheckPdBin(fx.t, 1, fid, r.size - 0x800), 0u);
    }
    // No other FID fits this chip (test files aside).
    for (int fid = 0; fid < 0x100; ++fid) {
      const uint8_t eff = fid < 0xA0 ? (fid & 0x0F) : static_cast<uint8_t>(fid);
      const bool listed = std::find(r.fids.begin(), r.fids.end(), eff) != r.fids.end();
      if (listed || eff == 0x00 || eff == 0x0F) continue;
      EXPECT_EQ(CheckPdBin(fx.t, 1, static_cast<uint8_t>(fid), r.size), 0u)
          << std::hex << r.chip << " " << fid;
    }
  }
  EXPECT_EQ(fx.console.out, "");
  // Below 0xA0 only the low nibble counts.
  fx.t.Pd[1].ProjectId = 0x01070000;
  EXPECT_EQ(CheckPdBin(fx.t, 1, 0x3E, 0xC800), 1u);
  fx.t.Pd[1].ProjectId = 0x01080000;
  EXPECT_EQ(CheckPdBin(fx.t, 1, 0xA1, 0xC800), 0u);
}

TEST(CheckPdBin, TestFilesAndOverrides) {
  ToolFixture fx;
  fx.t.Pd[1].ProjectId = 0x01080000;
  // 0x1F is test file 0x0F; 0xAF is its own FID, not a test file.
  EXPECT_EQ(CheckPdBin(fx.t, 1, 0x1F, 0x1234), 1u);
  EXPECT_EQ(CheckPdBin(fx.t, 1, 0x00, 0x1234), 1u);
  EXPECT_EQ(CheckPdBin(fx.t, 1, 0xAF, 0x10000), 0u);
  EXPECT_EQ(fx.console.out, "    Test_Bin_File, No_Check.\n    Test_Bin_File, No_Check.\n");

  fx.console.out.clear();
  fx.t.Pd[1].ProjectId = 0x7777'0000;  // a chip outside the table
  fx.t.set.SecondSPIUpdateOnly = 1;
  fx.t.set.SkipJumpRom = 1;
  fx.t.set.SkipCheckBin = 1;
  EXPECT_EQ(CheckPdBin(fx.t, 1, 0x0F, 0), 1u);
  EXPECT_EQ(fx.console.out,
            "    Test_Bin_File, No_Check.\n"
            "    Write_2nd_SPI, No_Check.\n"
            "    FW_Code_Update, No_Check.\n"
            "    Skip_Check_Bin\n");

  for (int which = 0; which < 3; ++which) {
    ToolFixture one;
    one.t.set.SecondSPIUpdateOnly = which == 0;
    one.t.set.SkipJumpRom = which == 1;
    one.t.set.SkipCheckBin = which == 2;
    EXPECT_EQ(CheckPdBin(one.t, 1, 0xA1, 0x8000), 1u) << which;
  }
}

}  // namespace
}  // namespace pdflash
