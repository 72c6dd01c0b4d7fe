#include "ops/pd_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "support/harness.h"
#include "tools/fwgen.h"

namespace pdflash {
namespace {

using fwgen::MakePdFirmware;
using fwgen::PdFirmwareSpec;
using test::ToolFixture;

constexpr const char* kBox = "=========================================\n";

// PD record 1 names pd.bin in the temp folder.
struct PdFile : ToolFixture {
  PdFile() { t.Pd[1].BinPath = "pd.bin"; }
  void Write(const std::vector<uint8_t>& bytes) { test::WriteBytes(dir / "pd.bin", bytes); }
  void Write(const PdFirmwareSpec& s) { Write(MakePdFirmware(s)); }
};

TEST(GetPdBinVersion, AcceptedFileSetsVersionIdsAndFormalVersion) {
  PdFile fx;
  PdFirmwareSpec s;
  s.version = 0x0E010203;
  s.pid = 0x0108;
  s.formal_version = 0x01020304;
  fx.Write(s);
  fx.t.set.DisplayFormalVer = 1;
  EXPECT_EQ(GetPdBinVersion(fx.t, 1), 0x0E010203u);
  EXPECT_EQ(fx.t.Pd[1].BinVersion, 0x0E010203u);
  EXPECT_EQ(fx.t.Pd[1].CurVid, 0x2109);
  EXPECT_EQ(fx.t.Pd[1].CurPid, 0x0108);
  EXPECT_EQ(fx.t.Pd[1].BinFormalVersion, 0x01020304u);
  EXPECT_EQ(fx.console.out, std::string(kBox) + "=    PD[1] Bin Version is 0E.01.02.03   =\n" +
                                kBox + "=     Formal Version is 01.02.03.04     =\n" + kBox);
}

TEST(GetPdBinVersion, IdentityRule) {
  const struct {
    uint16_t vid, vid2, configured;
    bool accepted;
  } cases[] = {
      {0x2109, 0x0000, 0x0000, true}, {0x1234, 0x2109, 0x0000, true},
      {0x1234, 0x5678, 0x1234, true}, {0x1234, 0x5678, 0x5678, true},
      {0x4444, 0x4444, 0x0001, true}, {0x1234, 0x5678, 0x0001, false},
      {0x1234, 0x0000, 0x0000, true},  // an unset configuration matches an empty VID2
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IdentityAccepts(c.vid, c.vid2, c.configured), c.accepted) << std::hex << c.vid;
    PdFile fx;
    PdFirmwareSpec s;
    s.vid = c.vid;
    s.vid2 = c.vid2;
    s.version = 0x0D010100;
    fx.Write(s);
    fx.t.set.PD1VID = c.configured;
    fx.t.Pd[1].BinVersion = 0x12345678;  // a stale value must not survive a rejection
    EXPECT_EQ(GetPdBinVersion(fx.t, 1), c.accepted ? 0x0D010100u : 0u);
    EXPECT_EQ(fx.t.Pd[1].BinVersion, c.accepted ? 0x0D010100u : 0u);
    EXPECT_EQ(fx.t.Pd[1].CurVid, c.accepted ? c.vid : 0);
    if (c.accepted) continue;
    EXPECT_EQ(fx.console.out, "    PD_Bin_VID = 1234/5678\n");
    fx.console.out.clear();
    fx.t.set.DbgMsg = 1;  // the IDs come before the verdict too
    GetPdBinVersion(fx.t, 1);
    EXPECT_EQ(fx.console.out, "    PD_Bin_VID = 1234/5678\n    PD_Bin_VID = 1234/5678\n");
  }
}

TEST(GetPdBinVersion, MissingFileAndBytesPastTheEndReadAsZeros) {
  PdFile fx;
  fx.t.set.DisplayFormalVer = 1;  // no formal-version search follows a zero version
  fx.t.Pd[1].CurVid = 0x2109;
  fx.t.Pd[1].CurPid = 0x0107;
  EXPECT_EQ(GetPdBinVersion(fx.t, 1), 0u);
  EXPECT_EQ(fx.t.Pd[1].CurVid, 0);
  EXPECT_EQ(fx.t.Pd[1].CurPid, 0);
  EXPECT_EQ(fx.console.out,
            std::string(kBox) + "=    PD[1] Bin Version is 00.00.00.00   =\n" + kBox);

  auto b = MakePdFirmware({});
  b.resize(0x1005);  // two version bytes, nothing after: VID = VID2 = 0
  fx.Write(b);
  fx.t.set.DisplayFormalVer = 0;
  EXPECT_EQ(GetPdBinVersion(fx.t, 1), 0x0E010000u);
}

TEST(GetFormalVersion, SearchWindowsAndTheFirstMatch) {
  for (const auto& [offset, found] :
       {std::pair{0x1000u, true}, {0x1037u, true}, {0x1038u, false}, {0x0FFFu, false},
        {0x4000u, true}, {0x4037u, true}, {0x4038u, false}, {0x2000u, false}}) {
    PdFile fx;
    PdFirmwareSpec s;
    s.formal_version = 0xA1B2C3D4;
    s.formal_offset = offset;
    fx.Write(s);
    fx.t.set.DisplayFormalVer = 1;
    EXPECT_EQ(GetFormalVersion(fx.t, kFormalPdFile, 1), found ? 1u : 0u) << std::hex << offset;
    EXPECT_EQ(fx.t.Pd[1].BinFormalVersion, found ? 0xA1B2C3D4u : 0u) << std::hex << offset;
    EXPECT_EQ(fx.console.out.empty(), !found);
  }
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
  EXPECT_EQ(GetFormalVersion(fx.t, kFormalPdFile, 1), 1u);  // switched off: nothing read
  fx.t.set.DisplayFormalVer = 1;
  EXPECT_EQ(GetFormalVersion(fx.t, kFormalPdFile, 1), 0u);
  fx.Write(std::vector<uint8_t>(0x20001, 0x02));
  EXPECT_EQ(GetFormalVersion(fx.t, kFormalPdFile, 1), 0u);
  PdFirmwareSpec s;
  s.formal_version = 0x01010101;
  auto b = MakePdFirmware(s);
  b[0] = 0x03;
  fx.Write(b);
  EXPECT_EQ(GetFormalVersion(fx.t, kFormalPdFile, 1), 0u);
  EXPECT_EQ(fx.console.out,
            "Protection : FW_Open_Fail.\nProtection : FW_Size_128K_Over.\n"
            "Protection : FW_Data[0]_Error.\n");

  fwgen::DpFirmwareSpec dp;
  dp.formal_version = 0x05060708;
  test::WriteBytes(fx.dir / "dp.bin", fwgen::MakeDpFirmware(dp));
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
  auto b = MakePdFirmware(s);
  b[0x1022] = 'g';  // "FLAg"
  fx.Write(b);
  GetPdBinFlag(fx.t, 1);
  EXPECT_EQ(fx.t.Pd[1].BinFlag, 0u);
  fx.t.Pd[1].BinPath = "missing.bin";
  fx.t.Pd[1].BinFlag = 7;
  GetPdBinFlag(fx.t, 1);
  EXPECT_EQ(fx.t.Pd[1].BinFlag, 0u);
  EXPECT_EQ(fx.console.out,
            "    PD_Bin_FLAG = 80000001\n    PD_Bin_FLAG_Not_Found\n    PD_Bin_FLAG_Not_Found\n");
}

TEST(CheckPdBin, CompatibilityTable) {
  const struct {
    uint16_t chip;
    std::vector<uint8_t> fids;
    uint32_t size;
  } rows[] = {{0x0102, {0x07, 0x08}, 0x8000},  {0x0103, {0x09, 0x0A}, 0x8000},
              {0x0104, {0x0B}, 0xC000},        {0x0105, {0x0C}, 0xC000},
              {0x0106, {0x0D}, 0x8000},        {0x0107, {0x0E}, 0xC800},
              {0x0108, {0xA1, 0xB1}, 0x10000}, {0x0109, {0xA2, 0xB2}, 0x10000}};
  ToolFixture fx;
  for (const auto& r : rows) {
    fx.t.Pd[1].ProjectId = uint32_t{r.chip} << 16 | 0x1234;
    for (uint8_t fid : r.fids) {
      EXPECT_EQ(CheckPdBin(fx.t, 1, fid, r.size), 1u) << std::hex << r.chip << " " << int(fid);
      EXPECT_EQ(CheckPdBin(fx.t, 1, fid, r.size + 0x800), 0u);
      EXPECT_EQ(CheckPdBin(fx.t, 1, fid, r.size - 0x800), 0u);
    }
    // No other FID fits this chip (test files aside); below 0xA0 only the low nibble counts.
    for (int fid = 0; fid < 0x100; ++fid) {
      const uint8_t eff = fid < 0xA0 ? (fid & 0x0F) : static_cast<uint8_t>(fid);
      const bool listed = std::find(r.fids.begin(), r.fids.end(), eff) != r.fids.end();
      if (eff == 0x00 || eff == 0x0F) continue;
      EXPECT_EQ(CheckPdBin(fx.t, 1, static_cast<uint8_t>(fid), r.size), listed ? 1u : 0u)
          << std::hex << r.chip << " " << fid;
    }
  }
  EXPECT_EQ(fx.console.out, "");
}

TEST(CheckPdBin, TestFilesAndOverrides) {
  ToolFixture fx;
  fx.t.Pd[1].ProjectId = 0x01080000;
  // 0x1F is test file 0x0F; 0xAF is its own FID, not a test file.
  EXPECT_EQ(CheckPdBin(fx.t, 1, 0x1F, 0x1234), 1u);
  EXPECT_EQ(CheckPdBin(fx.t, 1, 0x00, 0x1234), 1u);
  EXPECT_EQ(CheckPdBin(fx.t, 1, 0xAF, 0x10000), 0u);
  fx.t.Pd[1].ProjectId = 0x7777'0000;  // a chip outside the table
  fx.t.set.SecondSPIUpdateOnly = 1;
  fx.t.set.SkipJumpRom = 1;
  fx.t.set.SkipCheckBin = 1;
  EXPECT_EQ(CheckPdBin(fx.t, 1, 0x0F, 0), 1u);
  EXPECT_EQ(fx.console.out,
            "    Test_Bin_File, No_Check.\n    Test_Bin_File, No_Check.\n"
            "    Test_Bin_File, No_Check.\n    Write_2nd_SPI, No_Check.\n"
            "    FW_Code_Update, No_Check.\n    Skip_Check_Bin\n");
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
