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

void FixHeaderCrc(std::vector<uint8_t>& file, uint32_t at) {
  file[at + 0x1F] = Crc8(&file[at], 0x1F);
}

void FixImageCrc(std::vector<uint8_t>& file, uint32_t at, uint32_t size) {
  PutLe32(&file[at + size - 4], Crc32(&file[at], size - 4));
}

// Header 1 and 2 with firmware 1 (version 0101) at 0x2000 and firmware 2
// (version 0202) at 0x10000.
std::vector<uint8_t> TwoFirmwares(HubFirmwareParams p = {}) {
  p.header2 = true;
  p.version = 0x0101;
  auto file = fwgen::MakeHubFirmware(p);
  p.version = 0x0202;
  p.seed = 7;
  const auto other = fwgen::MakeHubFirmware(p);
  std::copy(other.begin() + 0x10000, other.end(), file.begin() + 0x10000);
  return file;
}

struct HubCase {
  const char* name;
  std::vector<uint8_t> flash;  // at 0
  std::string settings;
  const char* sw;  // command-line switch, or none
  uint32_t result;
  std::vector<std::string> lines;
  std::vector<std::string> absent = {};
};

std::vector<HubCase> Cases() {
  std::vector<HubCase> cases;
  cases.push_back({"f1_takes_firmware_2",
                   TwoFirmwares(),
                   "",
                   "/F1",
                   0x0202,
                   {"\n    Hub1_Get_SPI0_Version_Start...\n",
                    "    Get_Hub_1_SPI_FW2_Version = 0202\n"},
                   {"FW1_Version"}});
  cases.push_back({"selector_1_reads_firmware_1_only",
                   TwoFirmwares(),
                   "ReadSPIHubFWOnly=1\nDbgMsg=1\n",
                   nullptr,
                   0x0101,
                   {"    Read_Firmware1_Adr_Len = 0x2000, 0x8000\n",
                    "    Get_Hub_1_SPI_FW1_Version = 0101\n"},
                   {"Read_Firmware2"}});
  auto bad_fw2 = TwoFirmwares();
  bad_fw2[0x10100] ^= 1;
  cases.push_back({"bad_firmware_2_falls_back_to_firmware_1",
                   bad_fw2,
                   "DbgMsg=1\n",
                   "/F1",
                   0x0101,
                   {"    HD2_Exist...\n    SPI_1000 = 05,90,", "    Get_Hub_1_SPI_FW1_Version = 0101\n"}});
  cases.push_back({"selector_2_without_header_2_stops",
                   fwgen::MakeHubFirmware({}),
                   "ReadSPIHubFWOnly=2\nDbgMsg=1\n",
                   nullptr,
                   0,
                   {"\n    Hub1_Get_SPI2_Version_Start...\n"},
                   {"Read_Firmware", "HD2_Exist"}});
  auto bad_hd1 = TwoFirmwares();
  bad_hd1[0x1F] ^= 0xFF;
  cases.push_back({"bad_header_1_uses_the_backup",
                   bad_hd1,
                   "ReadSPIHubFWOnly=1\nDbgMsg=1\n",
                   nullptr,
                   0x0101,
                   {"    SPI_1800 = 05,90,00,00,20,00,80,00-FF,80,FF,",
                    "    Get_Hub_1_SPI_FW1_Version = 0101\n"}});
  auto no_hd1 = bad_hd1;
  no_hd1[0x1800] = 0x00;
  cases.push_back({"no_header_1", no_hd1, "", "/F1", 0, {"HD1_Not_Found\n"}});
  HubFirmwareParams ksd;
  ksd.chip = 0x8C;
  ksd.version_pos = 0x5000;
  cases.push_back({"chip_8C_is_not_read_from_flash",
                   fwgen::MakeHubFirmware(ksd),
                   "",
                   "/F1",
                   0,
                   {"Protection : Not_Support_Flash_Type.\n"}});
  // The flash reader adds the header nibble: 0x221F + 3 = 0x2222.
  HubFirmwareParams sum;
  sum.version = 0x221F;
  sum.header_byte2 = 0x30;
  cases.push_back({"nibble_is_added",
                   fwgen::MakeHubFirmware(sum),
                   "",
                   "/F1",
                   0x2222,
                   {"    Get_Hub_1_SPI_FW1_Version = 2222\n"}});
  // Firmware 1 claims 0x58000 bytes: more than the reader's buffer.
  auto long_fw = fwgen::MakeHubFirmware({});
  long_fw[0x0D] = 0x05;
  FixHeaderCrc(long_fw, 0);
  cases.push_back({"length_over_the_buffer",
                   long_fw,
                   "",
                   "/F1",
                   0,
                   {"Protection : Hub_FW1_Length_0x58000_Over_0x40000.\n"},
                   {"Version = "}});
  // The version pointer points past the image's end (0xFFF0 + 4).
  auto far = fwgen::MakeHubFirmware({});
  PutBe16(&far[0x2000 + 0x6000], 0xFFF0);
  FixImageCrc(far, 0x2000, 0x8000);
  cases.push_back({"version_outside_the_image",
                   far,
                   "",
                   "/F1",
                   0,
                   {"Protection : Hub_Version_At_0xFFF4_Outside_FW1.\n"},
                   {"Version = "}});
  // Firmware 2 of chip 0x66 sits at 0x60000 and keeps a 24-bit pointer.
  HubFirmwareParams kmha;
  kmha.chip = 0x66;
  kmha.version = 0x0345;
  kmha.version_pos = 0x5000;
  kmha.header2 = true;
  cases.push_back({"chip_66_firmware_2",
                   fwgen::MakeHubFirmware(kmha),
                   "",
                   "/F1",
                   0x0345,
                   {"    Get_Hub_1_SPI_FW2_Version = 0345\n"}});
  return cases;
}

TEST(HubFlashVersion, HeadersFirmwaresAndVersions) {
  for (const HubCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    Rig r({"FlashSize=80000"});
    r.board.Load(0, c.flash);
    r.p.Settings(c.settings + kBoardIds);
    EXPECT_EQ(r.board.Run(c.sw ? std::vector<std::string>{c.sw} : std::vector<std::string>{}),
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

// The file reader ORs the same nibble in: 0x221F | 3.
TEST(HubFlashVersion, FileReaderOrsTheNibble) {
  Program p;
  HubFirmwareParams sum;
  sum.version = 0x221F;
  sum.header_byte2 = 0x30;
  WriteBytes(p.File("hub.bin"), fwgen::MakeHubFirmware(sum));
  p.Settings(std::string(kBoardIds) + "PD1Bin=hub.bin\nHubPDShareSPI=1\nHub1Bin=hub.bin\n");
  EXPECT_EQ(p.Run({"/B1"}), 0x221Fu) << p.out;
}

// Hub 2 of two hubs sharing one flash keeps its headers one header further.
TEST(HubFlashVersion, SecondHubOfASharedFlash) {
  Rig r;
  auto hub1 = fwgen::MakeHubFirmware({});
  HubFirmwareParams two;
  two.version = 0x0777;
  auto hub2 = fwgen::MakeHubFirmware(two);
  std::copy_n(hub2.begin() + 0x2000, 0x8000, hub1.begin() + 0x2000);
  std::copy_n(hub2.begin(), 0x20, hub1.begin() + 0x1820);  // only its backup is valid
  r.board.Load(0, hub1);
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
