#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "core/bytes.h"
#include "image/checksum.h"
#include "image/hub_image.h"
#include "ops/dp.h"
#include "ops/hub.h"
#include "ops/vmm6.h"
#include "support/harness.h"
#include "tools/fwgen.h"

namespace pdflash {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr const char* kRule = "=========================================\n";

std::string Box(const std::string& middle) {
  return kRule + middle + "\n" + kRule;
}

struct Files : test::ToolFixture {
  void Put(const std::string& name, const Bytes& b) {
    test::WriteBytes(dir / name, b);
    t.Hub[1].BinPath = t.Dp[1].BinPath = t.Vmm6[1].BinPath = name;
  }
};

TEST(GetDpBinVersion, HeaderFormalVersionAndTheDpIdentity) {
  Files fx;
  fx.Put("dp.bin", fwgen::MakeDpFirmware({.version = 0x06010203, .formal_version = 0x0102}));
  fx.t.set.DisplayFormalVer = 1;
  EXPECT_EQ(GetDpBinVersion(fx.t, 1), 0x06010203u);
  EXPECT_EQ(fx.t.Dp[1].BinVersion, 0x06010203u);
  EXPECT_EQ(fx.t.Dp[1].CurPid, 0x0605);
  EXPECT_EQ(fx.t.Dp[1].BinFormalVersion, 0x00000102u);
  fx.Put("dp.bin", fwgen::MakeDpFirmware({.vid = 0x1111, .vid2 = 0x2222}));
  fx.t.set.DisplayFormalVer = 0;
  fx.t.set.PD1VID = 0x1111;  // the PD configuration does not count here
  EXPECT_EQ(GetDpBinVersion(fx.t, 1), 0u);
  EXPECT_EQ(fx.t.Dp[1].BinVersion, 0u);
  EXPECT_EQ(fx.console.out, Box("=    DP[1] Bin Version is 06.01.02.03   =") +
                                "=     Formal Version is 00.00.01.02     =\n" + kRule +
                                "    DP_Bin_VID = 1111/2222\n");
  fx.t.set.DP1VID = 0x2222;
  EXPECT_EQ(GetDpBinVersion(fx.t, 1), 0x05010100u);
  EXPECT_EQ(fx.t.Dp[1].CurVid, 0x1111);
}

TEST(GetHubBinVersion, VersionPointersOfEveryFamilyFilesThatAreNoHubPointersPastTheEnd) {
  for (uint8_t chip : {0x18, 0x38, 0x45, 0x66, 0x8C, 0x90, 0x95, 0x98}) {
    Files fx;  // the high nibble of header byte 2 is ORed into the low byte
    fx.Put("hub.bin",
           fwgen::MakeHubFirmware({.chip = chip, .version = 0x2219, .header_byte2 = 0x30}));
    EXPECT_EQ(GetHubBinVersion(fx.t, 1), 0x221Bu) << std::hex << int(chip);
    EXPECT_EQ(fx.t.Hub[1].BinVersion, 0x221Bu);
    EXPECT_EQ(fx.console.out, Box("=       Hub[1] Bin Version is 221B      ="));
  }
  Files fx;
  EXPECT_EQ(GetHubBinVersion(fx.t, 0x10), 0u);
  fx.t.Hub[1].BinPath = "missing.bin";
  fx.t.Hub[1].BinVersion = 0x99;
  EXPECT_EQ(GetHubBinVersion(fx.t, 1), 0u);
  EXPECT_EQ(fx.t.Hub[1].BinVersion, 0u);
  auto b = fwgen::MakeHubFirmware({});
  b[1] = 0x91;  // marker right, chip unknown
  fx.Put("hub.bin", b);
  EXPECT_EQ(GetHubBinVersion(fx.t, 1), 0u);
  b[0] = 0x02, b[1] = 0x90;  // chip right, marker wrong
  fx.Put("hub.bin", b);
  EXPECT_EQ(GetHubBinVersion(fx.t, 1), 0u);
  const std::string none = Box("=       Hub[1] Bin Version is 0000      =");
  EXPECT_EQ(fx.console.out, "Illegal Parameter 10\n    Hub Bin is 00 00\n" + none +
                                "    Hub Bin is 05 91\n" + none + "    Hub Bin is 02 90\n" + none);

  // Pointers past the end of the file read zeros.
  b = fwgen::MakeHubFirmware({.header_byte2 = 0x70});
  PutBe16(&b[0x8000], 0xFFFF);  // p = 0x12003, beyond the 0xA000-byte file
  fx.Put("hub.bin", b);
  EXPECT_EQ(GetHubBinVersion(fx.t, 1), 0x0007u);
  b = fwgen::MakeHubFirmware({.chip = 0x66, .header_byte2 = 0x70});
  b[0x3F80] = 0x10, b[0x3F81] = 0x00, b[0x3F82] = 0x00;  // 24 bits below 0x1DFFC: p wraps
  fx.Put("hub.bin", b);
  EXPECT_EQ(GetHubBinVersion(fx.t, 1), 0x0007u);
  b = fwgen::MakeHubFirmware({.version = 0x4321, .header_byte2 = 0x70});
  b.resize(fwgen::kHubImageStart + 0x6104 + 1);  // ends between the version bytes
  fx.Put("hub.bin", b);
  EXPECT_EQ(GetHubBinVersion(fx.t, 1), 0x0027u);
  b.resize(0x8001);  // the pointer itself lies past the end
  fx.Put("hub.bin", b);
  EXPECT_EQ(GetHubBinVersion(fx.t, 1), 0x0007u);
}

TEST(GetVmm6BinVersion, ReadsBothVersionParts) {
  Files fx;
  fx.Put("vmm6.bin", fwgen::MakeVmm6Firmware({.a = 2, .b = 5, .c = 17, .d = 3}));
  EXPECT_EQ(GetVmm6BinVersion(fx.t), 0x02051103u);
  EXPECT_EQ(fx.t.Vmm6[1].BinVersion, 0x02051103u);
  fx.t.Vmm6[1].BinPath = "missing.bin";
  EXPECT_EQ(GetVmm6BinVersion(fx.t), 0u);
  EXPECT_EQ(fx.console.out, Box("=     VMM6 Bin Version:2.05.017 v03     =") +
                                Box("=     VMM6 Bin Version:0.00.000 v00     ="));
}

Bytes HubArea(const fwgen::HubFirmwareParams& s) {
  auto b = fwgen::MakeHubFirmware(s);
  b.resize(fwgen::kHubImageStart);
  return b;
}

TEST(AddHubHeader2, BuildsTheDualHeaderLayout) {
  for (uint8_t chip : {0x90, 0x66}) {
    test::ToolFixture fx;
    auto area = HubArea({.chip = chip, .image_size = 0x9000, .backup_header = false});
    ASSERT_TRUE(AddHubHeader2(fx.t.out, area.data(), fx.t.Copy));
    const uint8_t* hd2 = area.data() + 0x1000;
    EXPECT_EQ(hd2[0x0C], chip == 0x66 ? 0x06 : 0x01);  // firmware 2 at 0x10000 or 0x60000
    EXPECT_EQ(Crc8(hd2, 0x1F), hd2[0x1F]);
    // The same as a file generated with both headers.
    EXPECT_EQ(area, HubArea({.chip = chip, .image_size = 0x9000, .header2 = true}));
    EXPECT_EQ(fx.console.out,
              "        Add Hub_Header2_To_Buffer\n" +
                  std::string(chip == 0x66 ? "        Hub_KMHA, FW2_at_0x060000\n" : "") +
                  "        -----------------------------------\n"
                  "        - Hub_CopyLength_Must_Over_0x900C -\n"
                  "        -----------------------------------\n");
  }
}

TEST(AddHubHeader2, WarnsAboutShortCopiesAndRefusesBadHeaders) {
  test::ToolFixture fx;
  fx.t.Copy[0] = {0x0, 0x2000, 0x100};    // too short
  fx.t.Copy[3] = {0x0, 0x10000, 0x800C};  // exactly long enough
  fx.t.Copy[5] = {0x0, 0x3000, 0x10};     // not a hub destination
  fx.t.Copy[9] = {0x0, 0x10000, 0x800B};  // too short
  auto area = HubArea({});
  ASSERT_TRUE(AddHubHeader2(fx.t.out, area.data(), fx.t.Copy));
  const std::string rule = "        ###################################\n";
  const std::string warn = "        # WARNING: Hub_Copy_Length_ERROR! #\n";
  const std::string block = rule + rule + warn + warn + warn + rule + rule;
  EXPECT_EQ(fx.console.out,
            "        Add Hub_Header2_To_Buffer\n"
            "        -----------------------------------\n"
            "        - Hub_CopyLength_Must_Over_0x800C -\n"
            "        -----------------------------------\n" +
                block + block);

  const std::tuple<size_t, uint8_t, const char*> cases[] = {
      {0x0000, 0x02, "        Chk:Data[0]_Not_0x05, Not Hub.\n"},
      {0x0003, 0x77, "        Chk:Data[0x20-1]_Not_Crc8.\n"},
      {0x1005, 0x00, "\t     Chk:Data[0x1005]_Is_00.\n"},
      {0x101F, 0x7E, "\t     Chk:Data[0x101F]_Is_7E.\n"},
  };
  for (const auto& [offset, value, line] : cases) {
    test::ToolFixture one;
    area = HubArea({});
    area[offset] = value;
    const auto before = area;
    EXPECT_FALSE(AddHubHeader2(one.t.out, area.data(), one.t.Copy));
    EXPECT_EQ(area, before);
    EXPECT_EQ(one.console.out, line);
  }
}

}  // namespace
}  // namespace pdflash
