// The hub firmware in the shared flash as "/F1" and ReadSPIHubFWOnly read
// it: which header and firmware count, how the version is put together, and
// lengths and pointers from the flash that do not fit.
#include "core/bytes.h"
#include "image/checksum.h"
#include "ops/hub.h"
#include "scenario/scenario_support.h"

namespace pdflash::test {
namespace {

using fwgen::HubFirmwareParams;

// Header 1 and 2 with firmware 1 (version 0101) at 0x2000 and firmware 2
// (version 0202) at 0x10000.
std::vector<uint8_t> TwoFirmwares() {
  auto file = fwgen::MakeHubFirmware({.version = 0x0101, .header2 = true});
  const auto other = fwgen::MakeHubFirmware({.version = 0x0202, .header2 = true, .seed = 7});
  std::copy(other.begin() + 0x10000, other.end(), file.begin() + 0x10000);
  return file;
}

struct HubCase {
  std::vector<uint8_t> flash;  // at 0
  std::string settings;        // "/F1" runs the switch
  uint32_t result;
  std::vector<std::string> lines, absent = {};
};

std::vector<HubCase> Cases() {
  const std::string sel1 = "ReadSPIHubFWOnly=1\nDbgMsg=1\n";
  auto bad_fw2 = TwoFirmwares(), bad_hd1 = TwoFirmwares();
  bad_fw2[0x10100] ^= 1;
  bad_hd1[0x1F] ^= 0xFF;
  auto no_hd1 = bad_hd1;
  no_hd1[0x1800] = 0x00;
  // Firmware 1 claims 0x58000 bytes: more than the reader's buffer.
  auto long_fw = fwgen::MakeHubFirmware({});
  long_fw[0x0D] = 0x05;
  long_fw[0x1F] = Crc8(long_fw.data(), 0x1F);
  // The version pointer points past the image's end (0xFFF0 + 4).
  auto far = fwgen::MakeHubFirmware({});
  PutBe16(&far[0x2000 + 0x6000], 0xFFF0);
  PutLe32(&far[0x2000 + 0x8000 - 4], Crc32(&far[0x2000], 0x8000 - 4));
  return {
      {TwoFirmwares(), "/F1", 0x0202,
       {"\n    Hub1_Get_SPI0_Version_Start...\n", "    Get_Hub_1_SPI_FW2_Version = 0202\n"},
       {"FW1_Version"}},
      {TwoFirmwares(), sel1, 0x0101,
       {"    Read_Firmware1_Adr_Len = 0x2000, 0x8000\n", "    Get_Hub_1_SPI_FW1_Version = 0101\n"},
       {"Read_Firmware2"}},
      {bad_fw2, "/F1\nDbgMsg=1\n", 0x0101,
       {"    HD2_Exist...\n    SPI_1000 = 05,90,", "    Get_Hub_1_SPI_FW1_Version = 0101\n"}},
      // Selector 2 without header 2 reads no firmware at all.
      {fwgen::MakeHubFirmware({}), "ReadSPIHubFWOnly=2\nDbgMsg=1\n", 0,
       {"\n    Hub1_Get_SPI2_Version_Start...\n"}, {"Read_Firmware", "HD2_Exist"}},
      {bad_hd1, sel1, 0x0101,
       {"    SPI_1800 = 05,90,00,00,20,00,80,00-FF,80,FF,", "    Get_Hub_1_SPI_FW1_Version = 0101\n"}},
      {no_hd1, "/F1", 0, {"HD1_Not_Found\n"}},
      {fwgen::MakeHubFirmware({.chip = 0x8C, .version_pos = 0x5000}), "/F1", 0,
       {"Protection : Not_Support_Flash_Type.\n"}},
      // The flash reader adds the header nibble: 0x221F + 3 (the file reader ORs it).
      {fwgen::MakeHubFirmware({.version = 0x221F, .header_byte2 = 0x30}), "/F1", 0x2222,
       {"    Get_Hub_1_SPI_FW1_Version = 2222\n"}},
      {long_fw, "/F1", 0, {"Protection : Hub_FW1_Length_0x58000_Over_0x40000.\n"}, {"Version = "}},
      {far, "/F1", 0, {"Protection : Hub_Version_At_0xFFF4_Outside_FW1.\n"}, {"Version = "}},
      // Chip 0x66 keeps firmware 2 at 0x60000 and a 24-bit pointer.
      {fwgen::MakeHubFirmware(
           {.chip = 0x66, .version = 0x0345, .version_pos = 0x5000, .header2 = true}),
       "/F1", 0x0345, {"    Get_Hub_1_SPI_FW2_Version = 0345\n"}},
  };
}

TEST(HubFlashVersion, HeadersFirmwaresAndVersions) {
  for (const HubCase& c : Cases()) {
    SCOPED_TRACE(c.lines.at(0));
    Rig r({"FlashSize=80000"});
    r.board.Load(0, c.flash);
    const bool f1 = c.settings.rfind("/F1", 0) == 0;
    r.p.Settings((f1 ? c.settings.substr(3) : c.settings) + kBoardIds);
    EXPECT_EQ(r.board.Run(f1 ? std::vector<std::string>{"/F1"} : std::vector<std::string>{}),
              c.result)
        << r.p.out;
    for (const auto& l : c.lines) EXPECT_THAT(r.p.out, HasSubstr(l));
    for (const auto& l : c.absent) EXPECT_THAT(r.p.out, ::testing::Not(HasSubstr(l)));
    EXPECT_FALSE(ChangesFlash(r.board.log));
    // Nothing beyond the header area and the firmware the headers name.
    for (size_t i : Where(r.board.log, {kReadData}))
      EXPECT_LT(FlashAddress(r.board.log[i].setup), 0x70000u);
  }
}

// Hub 2 of two hubs sharing one flash keeps its headers one header further.
TEST(HubFlashVersion, SecondHubOfASharedFlash) {
  Rig r;
  auto hub1 = fwgen::MakeHubFirmware({});
  const auto hub2 = fwgen::MakeHubFirmware({.version = 0x0777});
  // Only hub 2's backup header is valid; it names firmware at 0x10000.
  uint8_t* hd = &hub1[0x1820];
  std::copy_n(hub2.begin(), 0x20, hd);
  hd[0x0C] = 0x01, hd[0x04] = 0x00, hd[0x1F] = Crc8(hd, 0x1F);
  r.board.Load(0, hub1);
  r.board.Load(0x10000, std::vector<uint8_t>(hub2.begin() + 0x2000, hub2.end()));
  BoardOp op(r);
  ASSERT_TRUE(op.open);
  op.t.set.Hub1Hub2ShareSPI = 1;
  EXPECT_EQ(GetHubSpiVersion(op.t, op.link, 2, 0, 0), 1u) << r.p.console.out;
  EXPECT_EQ(op.t.Hub[2].FwVersion, 0x0777u);
  EXPECT_EQ(op.t.Hub[2].CurVid, 0x2109);
  EXPECT_EQ(op.t.Hub[2].CurPid, 0x2817);
}

}  // namespace
}  // namespace pdflash::test
