#include "ops/companion_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "image/bytes.h"
#include "image/checksum.h"
#include "support/harness.h"
#include "tools/fwgen.h"

namespace pdflash {
namespace {

using test::ToolFixture;
using test::WriteBytes;

constexpr const char* kBox = "=========================================\n";

std::string HubBox(const char* version) {
  return std::string(kBox) + "=       Hub[1] Bin Version is " + version + "      =\n" + kBox;
}

TEST(GetDpBinVersion, HeaderFormalVersionAndTheDpIdentity) {
  ToolFixture fx;
  fwgen::DpFirmwareSpec s;
  s.version = 0x06010203;
  s.formal_version = 0x00000102;
  WriteBytes(fx.dir / "dp.bin", fwgen::MakeDpFirmware(s));
  fx.t.Dp[1].BinPath = "dp.bin";
  fx.t.set.DisplayFormalVer = 1;
  EXPECT_EQ(GetDpBinVersion(fx.t, 1), 0x06010203u);
  EXPECT_EQ(fx.t.Dp[1].BinVersion, 0x06010203u);
  EXPECT_EQ(fx.t.Dp[1].CurVid, 0x2109);
  EXPECT_EQ(fx.t.Dp[1].CurPid, 0x0605);
  EXPECT_EQ(fx.t.Dp[1].BinFormalVersion, 0x00000102u);
  EXPECT_EQ(fx.console.out, std::string(kBox) + "=    DP[1] Bin Version is 06.01.02.03   =\n" +
                                kBox + "=     Formal Version is 00.00.01.02     =\n" + kBox);

  fx.console.out.clear();
  fx.t.set.DisplayFormalVer = 0;
  s.vid = 0x1111;
  s.vid2 = 0x2222;
  WriteBytes(fx.dir / "dp.bin", fwgen::MakeDpFirmware(s));
  fx.t.set.PD1VID = 0x1111;  // the PD configuration does not count here
  EXPECT_EQ(GetDpBinVersion(fx.t, 1), 0u);
  EXPECT_EQ(fx.t.Dp[1].BinVersion, 0u);
  EXPECT_EQ(fx.console.out, "    DP_Bin_VID = 1111/2222\n");
  fx.t.set.DP1VID = 0x2222;
  EXPECT_EQ(GetDpBinVersion(fx.t, 1), s.version);
  EXPECT_EQ(fx.t.Dp[1].CurVid, 0x1111);
}

TEST(GetHubBinVersion, VersionPointersOfEveryChipFamily) {
  for (uint8_t chip : {0x18, 0x38, 0x45, 0x66, 0x8C, 0x90, 0x95, 0x98}) {
    ToolFixture fx;
    fwgen::HubFirmwareSpec s;
    s.chip = chip;
    s.version = 0x2219;
    s.header_byte2 = 0x30;
    WriteBytes(fx.dir / "hub.bin", fwgen::MakeHubFirmware(s));
    fx.t.Hub[1].BinPath = "hub.bin";
    // The nibble of header byte 2 is ORed into the low byte, not added.
    EXPECT_EQ(GetHubBinVersion(fx.t, 1), 0x221Bu) << std::hex << int(chip);
    EXPECT_EQ(fx.t.Hub[1].BinVersion, 0x221Bu);
    EXPECT_EQ(fx.console.out, HubBox("221B"));
  }
}

TEST(GetHubBinVersion, NotAHubFileAndBadIndex) {
  ToolFixture fx;
  EXPECT_EQ(GetHubBinVersion(fx.t, 0x10), 0u);
  fx.t.Hub[1].BinPath = "missing.bin";
  fx.t.Hub[1].BinVersion = 0x99;
  EXPECT_EQ(GetHubBinVersion(fx.t, 1), 0u);
  EXPECT_EQ(fx.t.Hub[1].BinVersion, 0u);
  auto b = fwgen::MakeHubFirmware({});
  b[1] = 0x91;  // marker right, chip unknown
  WriteBytes(fx.dir / "hub.bin", b);
  fx.t.Hub[1].BinPath = "hub.bin";
  EXPECT_EQ(GetHubBinVersion(fx.t, 1), 0u);
  b[0] = 0x02, b[1] = 0x90;  // chip right, marker wrong
  WriteBytes(fx.dir / "hub.bin", b);
  EXPECT_EQ(GetHubBinVersion(fx.t, 1), 0u);
  EXPECT_EQ(fx.console.out, "Illegal Parameter 10\n    Hub Bin is 00 00\n" + HubBox("0000") +
                                "    Hub Bin is 05 91\n" + HubBox("0000") +
                                "    Hub Bin is 02 90\n" + HubBox("0000"));
}

TEST(GetHubBinVersion, PointersPastTheFileReadAsZeros) {
  ToolFixture fx;
  fx.t.Hub[1].BinPath = "hub.bin";
  fwgen::HubFirmwareSpec s;
  s.header_byte2 = 0x70;

  auto b = fwgen::MakeHubFirmware(s);
  PutBe16(&b[0x8000], 0xFFFF);  // p = 0x12003, beyond the 0xA000-byte file
  WriteBytes(fx.dir / "hub.bin", b);
  EXPECT_EQ(GetHubBinVersion(fx.t, 1), 0x0007u);

  s.chip = 0x66;
  b = fwgen::MakeHubFirmware(s);
  b[0x3F80] = 0x10, b[0x3F81] = 0x00, b[0x3F82] = 0x00;  // 24 bits below 0x1DFFC: p wraps
  WriteBytes(fx.dir / "hub.bin", b);
  EXPECT_EQ(GetHubBinVersion(fx.t, 1), 0x0007u);

  s.chip = 0x90;
  s.version = 0x4321;
  b = fwgen::MakeHubFirmware(s);
  b.resize(fwgen::kHubImageStart + s.version_pos + 1);  // ends between the version bytes
  WriteBytes(fx.dir / "hub.bin", b);
  EXPECT_EQ(GetHubBinVersion(fx.t, 1), 0x0027u);
  b.resize(0x8001);  // the pointer itself lies past the end
  WriteBytes(fx.dir / "hub.bin", b);
  EXPECT_EQ(GetHubBinVersion(fx.t, 1), 0x0007u);
}

TEST(GetVmm6BinVersion, ReadsBothVersionParts) {
  ToolFixture fx;
  fwgen::Vmm6FirmwareSpec s;
  s.a = 2, s.b = 5, s.c = 17, s.d = 3;
  WriteBytes(fx.dir / "vmm6.bin", fwgen::MakeVmm6Firmware(s));
  fx.t.Vmm6[1].BinPath = "vmm6.bin";
  EXPECT_EQ(GetVmm6BinVersion(fx.t), 0x02051103u);
  EXPECT_EQ(fx.t.Vmm6[1].BinVersion, 0x02051103u);
  fx.t.Vmm6[1].BinPath = "missing.bin";
  EXPECT_EQ(GetVmm6BinVersion(fx.t), 0u);
  EXPECT_EQ(fx.console.out, std::string(kBox) + "=     VMM6 Bin Version:2.05.017 v03     =\n" +
                                kBox + kBox + "=     VMM6 Bin Version:0.00.000 v00     =\n" +
                                kBox);
}

std::vector<uint8_t> HubArea(const fwgen::HubFirmwareSpec& s) {
  auto b = fwgen::MakeHubFirmware(s);
  b.resize(fwgen::kHubImageStart);
  return b;
}

TEST(AddHubHeader2, BuildsTheDualHeaderLayout) {
  for (uint8_t chip : {0x90, 0x66}) {
    ToolFixture fx;
    fwgen::HubFirmwareSpec s;
    s.chip = chip;
    s.image_size = 0x9000;
    s.backup_header = false;
    auto area = HubArea(s);
    ASSERT_TRUE(AddHubHeader2(fx.t, area.data()));
    const uint8_t* hd1 = area.data();
    const uint8_t* hd2 = area.data() + 0x1000;
    EXPECT_EQ(hd1[0x1D], 0x80);
    EXPECT_EQ(Crc8(hd1, 0x1F), hd1[0x1F]);
    EXPECT_EQ(hd2[0x0C], chip == 0x66 ? 0x06 : 0x01);
    EXPECT_EQ(Be16(hd2 + 4), 0x0000);
    EXPECT_EQ(hd2[0x1C], 0x00);
    EXPECT_EQ(hd2[0x1D], 0xFF);
    EXPECT_EQ(Crc8(hd2, 0x1F), hd2[0x1F]);
    EXPECT_EQ(std::memcmp(hd1 + 1, hd2 + 1, 3), 0);  // chip code and nibble carried over
    EXPECT_EQ(std::memcmp(hd1 + 6, hd2 + 6, 2), 0);  // same length
    EXPECT_EQ(std::memcmp(area.data() + 0x1800, hd1, 32), 0);
    s.backup_header = s.header2 = true;  // as a file generated with both headers
    EXPECT_EQ(area, HubArea(s)) << std::hex << int(chip);
    EXPECT_EQ(fx.console.out,
              "        Add Hub_Header2_To_Buffer\n" +
                  std::string(chip == 0x66 ? "        Hub_KMHA, FW2_at_0x060000\n" : "") +
                  "        -----------------------------------\n"
                  "        - Hub_CopyLength_Must_Over_0x900C -\n"
                  "        -----------------------------------\n");
  }
}

TEST(AddHubHeader2, WarnsAboutShortCopiesOfTheHubImage) {
  ToolFixture fx;
  fx.t.Copy[0] = {0x0, 0x2000, 0x100};    // too short
  fx.t.Copy[3] = {0x0, 0x10000, 0x800C};  // exactly long enough
  fx.t.Copy[5] = {0x0, 0x3000, 0x10};     // not a hub destination
  fx.t.Copy[9] = {0x0, 0x10000, 0x800B};  // too short
  auto area = HubArea({});
  ASSERT_TRUE(AddHubHeader2(fx.t, area.data()));
  const std::string rule = "        ###################################\n";
  const std::string warn = "        # WARNING: Hub_Copy_Length_ERROR! #\n";
  const std::string block = rule + rule + warn + warn + warn + rule + rule;
  EXPECT_EQ(fx.console.out,
            "        Add Hub_Header2_To_Buffer\n"
            "        -----------------------------------\n"
            "        - Hub_CopyLength_Must_Over_0x800C -\n"
            "        -----------------------------------\n" +
                block + block);
}

TEST(AddHubHeader2, RefusesAndLeavesTheBufferAlone) {
  const struct {
    size_t offset;
    uint8_t value;
    const char* line;
  } cases[] = {
      {0x0000, 0x02, "        Chk:Data[0]_Not_0x05, Not Hub.\n"},
      {0x0003, 0x77, "        Chk:Data[0x20-1]_Not_Crc8.\n"},
      {0x1005, 0x00, "\t     Chk:Data[0x1005]_Is_00.\n"},
      {0x101F, 0x7E, "\t     Chk:Data[0x101F]_Is_7E.\n"},
  };
  for (const auto& c : cases) {
    ToolFixture fx;
    auto area = HubArea({});
    area[c.offset] = c.value;
    const auto before = area;
    EXPECT_FALSE(AddHubHeader2(fx.t, area.data()));
    EXPECT_EQ(area, before);
    EXPECT_EQ(fx.console.out, c.line);
  }
}

}  // namespace
}  // namespace pdflash
