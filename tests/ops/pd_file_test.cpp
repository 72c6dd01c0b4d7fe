#include "ops/pd_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "image/checksum.h"
#include "image/pd_image.h"
#include "support/harness.h"
#include "tools/fwgen.h"

namespace pdflash {
namespace {

using fwgen::MakePdFirmware;
using fwgen::PdFirmwareParams;

constexpr const char* kBox = "=========================================\n";

// PD record 1 names pd.bin in the temp folder.
struct PdFile : test::ToolFixture {
  PdFile() { t.Pd[1].BinPath = "pd.bin"; }
  void Raw(const std::vector<uint8_t>& bytes) { test::WriteBytes(dir / "pd.bin", bytes); }
  void Write(const PdFirmwareParams& s) { Raw(MakePdFirmware(s)); }
};

TEST(GetPdBinVersion, VersionIdsFormalVersionAndAMissingFileReadAsZeros) {
  PdFile fx;
  fx.Write({.version = 0x0E010203, .pid = 0x0108, .formal_version = 0x01020304});
  fx.t.set.DisplayFormalVer = 1;
  EXPECT_EQ(GetPdBinVersion(fx.t, 1), 0x0E010203u);
  EXPECT_EQ(fx.t.Pd[1].BinVersion, 0x0E010203u);
  EXPECT_EQ(fx.t.Pd[1].CurVid, 0x2109);
  EXPECT_EQ(fx.t.Pd[1].CurPid, 0x0108);
  EXPECT_EQ(fx.t.Pd[1].BinFormalVersion, 0x01020304u);
  fx.t.Pd[1].BinPath = "missing.bin";  // and no formal-version search after a zero version
  EXPECT_EQ(GetPdBinVersion(fx.t, 1), 0u);
  EXPECT_EQ(fx.t.Pd[1].CurVid, 0);
  EXPECT_EQ(fx.t.Pd[1].CurPid, 0);
  EXPECT_EQ(fx.console.out, kBox + std::string("=    PD[1] Bin Version is 0E.01.02.03   =\n") +
                                kBox + "=     Formal Version is 01.02.03.04     =\n" + kBox + kBox +
                                "=    PD[1] Bin Version is 00.00.00.00   =\n" + kBox);
  auto b = MakePdFirmware({});
  b.resize(0x1005);  // two version bytes, nothing after: VID = VID2 = 0
  fx.Raw(b);
  fx.t.Pd[1].BinPath = "pd.bin";
  fx.t.set.DisplayFormalVer = 0;
  EXPECT_EQ(GetPdBinVersion(fx.t, 1), 0x0E010000u);
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
    fx.Write({.vid = c.vid, .vid2 = c.vid2});
    fx.t.set.PD1VID = c.configured;
    fx.t.Pd[1].BinVersion = 0x12345678;  // a stale value must not survive a rejection
    EXPECT_EQ(GetPdBinVersion(fx.t, 1), c.accepted ? 0x0E010100u : 0u);
    EXPECT_EQ(fx.t.Pd[1].BinVersion, c.accepted ? 0x0E010100u : 0u);
    EXPECT_EQ(fx.t.Pd[1].CurVid, c.accepted ? c.vid : 0);
    if (c.accepted) continue;
    fx.t.set.DbgMsg = 1;  // the IDs come before the verdict too
    GetPdBinVersion(fx.t, 1);
    EXPECT_EQ(fx.console.out,
              "    PD_Bin_VID = 1234/5678\n    PD_Bin_VID = 1234/5678\n"
              "    PD_Bin_VID = 1234/5678\n");
  }
}

TEST(GetFormalVersion, SearchWindowsAndTheFirstMatch) {
  const uint32_t offsets[] = {0x1000, 0x1037, 0x4000, 0x4037, 0x0FFF, 0x1038, 0x2000, 0x4038};
  for (size_t i = 0; i < 8; ++i) {
    const uint32_t offset = offsets[i];
    const bool found = i < 4;  // inside one of the two windows
    PdFile fx;
    fx.Write({.formal_version = 0xA1B2C3D4, .formal_offset = offset});
    fx.t.set.DisplayFormalVer = 1;
    EXPECT_EQ(GetFormalVersion(fx.t, kFormalPdFile, 1), found ? 1u : 0u) << std::hex << offset;
    EXPECT_EQ(fx.t.Pd[1].BinFormalVersion, found ? 0xA1B2C3D4u : 0u) << std::hex << offset;
    EXPECT_EQ(fx.console.out.empty(), !found);
  }
  PdFile fx;
  auto b = MakePdFirmware({.formal_version = 2, .formal_offset = 0x4010});
  const uint8_t first[8] = {0, 0, 0, 1, 0x66, 0x6D, 0xAB, 0x56};
  std::copy(first, first + 8, b.begin() + 0x1030);
  fx.Raw(b);
  fx.t.set.DisplayFormalVer = 1;
  EXPECT_EQ(GetFormalVersion(fx.t, kFormalPdFile, 1), 1u);
  EXPECT_EQ(fx.t.Pd[1].BinFormalVersion, 1u);
}

TEST(GetFormalVersion, RefusalsAndTheDpFile) {
  PdFile fx;
  EXPECT_EQ(GetFormalVersion(fx.t, kFormalPdFile, 1), 1u);  // switched off: nothing read
  fx.t.set.DisplayFormalVer = 1;
  EXPECT_EQ(GetFormalVersion(fx.t, kFormalPdFile, 1), 0u);
  fx.Raw(std::vector<uint8_t>(0x20001, 0x02));
  EXPECT_EQ(GetFormalVersion(fx.t, kFormalPdFile, 1), 0u);
  auto b = MakePdFirmware({.formal_version = 0x01010101});
  b[0] = 0x03;
  fx.Raw(b);
  EXPECT_EQ(GetFormalVersion(fx.t, kFormalPdFile, 1), 0u);
  EXPECT_EQ(fx.console.out,
            "Protection : FW_Open_Fail.\nProtection : FW_Size_128K_Over.\n"
            "Protection : FW_Data[0]_Error.\n");
  test::WriteBytes(fx.dir / "dp.bin", fwgen::MakeDpFirmware({.formal_version = 0x05060708}));
  fx.t.Dp[1].BinPath = "dp.bin";
  EXPECT_EQ(GetFormalVersion(fx.t, kFormalDpFile, 1), 1u);
  EXPECT_EQ(fx.t.Dp[1].BinFormalVersion, 0x05060708u);
  EXPECT_EQ(fx.t.Pd[1].BinFormalVersion, 0u);
}

TEST(CheckPdBin, TestFilesAndOverrides) {
  test::ToolFixture fx;
  fx.t.Pd[1].ProjectId = 0x01080000;
  EXPECT_EQ(CheckPdBin(fx.t, 1, 0x1F, 0x1234), 1u);
  EXPECT_EQ(CheckPdBin(fx.t, 1, 0x00, 0x1234), 1u);
  EXPECT_EQ(CheckPdBin(fx.t, 1, 0xAF, 0x10000), 0u);  // its own FID, not a test file
  EXPECT_EQ(fx.console.out, "    Test_Bin_File, No_Check.\n    Test_Bin_File, No_Check.\n");
  std::string out;
  for (int which = 0; which < 4; ++which) {  // each override alone, then all three
    test::ToolFixture one;
    one.t.Pd[1].ProjectId = 0x7777'0000;  // a chip outside the table
    one.t.set.SecondSPIUpdateOnly = which == 0 || which == 3;
    one.t.set.SkipJumpRom = which == 1 || which == 3;
    one.t.set.SkipCheckBin = which == 2 || which == 3;
    EXPECT_EQ(CheckPdBin(one.t, 1, 0xA1, 0x8000), 1u) << which;
    out = one.console.out;
  }
  EXPECT_EQ(out,
            "    Write_2nd_SPI, No_Check.\n    FW_Code_Update, No_Check.\n    Skip_Check_Bin\n");
}

// The example set that mkfirmware writes: the PD files read as their names
// say, and a size probe on the device, smaller sizes first, finds each one's size.
TEST(ExampleFirmware, PdFilesReadAsTheirNamesSay) {
  PdFile fx;
  int files = 0;
  for (const auto& f : fwgen::ExampleSet()) {
    if (f.name.rfind("pd_", 0) != 0) continue;
    ++files;
    fx.Raw(f.bytes);
    EXPECT_EQ(GetPdBinVersion(fx.t, 1), std::stoul(f.name.substr(f.name.find("_v") + 2, 8), 0, 16));
    const uint32_t size = std::stoul(f.name.substr(3)) * 1024;  // "pd_50k_..."
    EXPECT_EQ(f.bytes.size(), size) << f.name;
    for (uint32_t n : {0x8000u, 0xC000u, 0xC800u, 0x10000u})
      EXPECT_EQ(n <= size && Crc16Trailer(f.bytes.data(), n), n == size) << f.name << " " << n;
  }
  EXPECT_EQ(files, 5);
}

}  // namespace
}  // namespace pdflash
