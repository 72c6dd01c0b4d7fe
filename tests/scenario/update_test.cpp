// The firmware update end to end: which copy is written first, what the
// flash holds afterwards, what the controlling application sees, and the
// refusals (of the downloads too) that come before any write.
#include "image/checksum.h"
#include "ops/pd_backup.h"
#include "ops/pd_update.h"
#include "scenario/scenario_support.h"

namespace pdflash::test {
namespace {

struct OrderCase {
  const char* name;
  ChipKind chip;
  bool copy1, copy2, other_size;  // old firmware in the copies; copy 1 valid for another size
  uint32_t first;
};

void PrintTo(const OrderCase& c, std::ostream* os) { *os << c.name; }

class UpdateOrder : public ::testing::TestWithParam<OrderCase> {};

// The copy that is not valid first, the valid one last, each erased whole
// (the sector the image ends in too) before it is written.
TEST_P(UpdateOrder, InvalidCopyFirstValidCopyLastAndNothingElseChanges) {
  const OrderCase& c = GetParam();
  const uint32_t size = c.chip.size, second = c.first == 0x20000 ? Copy2(size) : 0x20000;
  Rig r(c.chip.keys, Firmware(size, c.chip.version, 5), c.copy1, c.copy2);
  if (c.other_size) r.board.Load(0x20000, Firmware(0x8000, 0x0D010100, 6));
  const auto image = Firmware(size, c.chip.version + 0x100, 9);
  EXPECT_EQ(r.Run("OutputProgress=3\n", image), 1u) << r.p.out;
  const std::string rule = "===========================\n";
  EXPECT_THAT(r.p.out,
              HasSubstr(rule + "=    PD_FW_Update_PASS.   =\n" + rule + "Return_Value = 0x1\n"));
  EXPECT_EQ(r.p.out.find("    Firmware_1_OK ...\n") != std::string::npos, c.copy1 && !c.other_size);
  EXPECT_LT(r.p.out.find("    Write_FW_to_" + Hex(c.first) + " ...\n"),
            r.p.out.find("    Write_FW_to_" + Hex(second) + " ...\n"));

  std::vector<std::pair<uint8_t, uint32_t>> expected, wire;
  for (uint32_t target : {c.first, second}) {
    for (uint32_t o = 0; o < size; o += 0x1000) expected.push_back({kSectorErase, target + o});
    for (uint32_t o = 0; o < size; o += 64) expected.push_back({kProgram, target + o});
  }
  for (size_t i : Where(r.board.log, {kSectorErase, kProgram}))
    wire.push_back({r.board.log[i].setup.bRequest, FlashAddress(r.board.log[i].setup)});
  EXPECT_TRUE(wire == expected);

  auto flash = r.before;
  for (uint32_t target : {0x20000u, Copy2(size)}) {
    std::fill_n(flash.begin() + target, (size + 0xFFF) & ~0xFFFu, 0xFF);
    std::copy(image.begin(), image.end(), flash.begin() + target);
  }
  EXPECT_TRUE(r.board.Flash() == flash);
  // 10 + 15 + 30 for the first copy, 15 + 30 for the second.
  ExpectProgress(r.p, {10, 25, 55, 70, 100});

  // The operation's own time on the board's clock, from its first flash request.
  int minutes = -1, seconds = -1;
  const size_t at = r.p.out.find("    Use_Time = ");
  ASSERT_NE(at, std::string::npos);
  ASSERT_EQ(std::sscanf(r.p.out.c_str() + at, "    Use_Time = %dm %ds\n", &minutes, &seconds), 2);
  EXPECT_LT(seconds, 60);
  const Log& log = r.board.log;
  EXPECT_NEAR(minutes * 60 + seconds,
              (log.back().time_us - log[Where(log, {kFlashCommand}).at(0)].time_us) / 1e6, 1.0);
}

INSTANTIATE_TEST_SUITE_P(
    Scenario, UpdateOrder,
    ::testing::Values(OrderCase{"K32_copy1_valid", kChip32K, true, false, false, 0x28000},
                      OrderCase{"K32_only_copy2_valid", kChip32K, false, true, false, 0x20000},
                      OrderCase{"K50_both_valid", kChip50K, true, true, false, 0x30000},
                      OrderCase{"K50_blank", kChip50K, false, false, false, 0x20000},
                      // Copy 1 boots as a 32 KiB image: it is rewritten last.
                      OrderCase{"K50_copy1_other_size", kChip50K, false, true, true, 0x30000},
                      OrderCase{"K64_copy1_valid", kChip64K, true, false, false, 0x30000}),
    [](const auto& info) { return std::string(info.param.name); });

// Every refusal of the update, the direct download and the image download
// comes before the flash is touched: the run fails, the flash keeps every byte.
TEST(Refusal, BeforeTheFlashIsTouched) {
  const auto good = Firmware(0xC800, 0x0E010200, 9);
  auto big = good, area = good, marker = good, crc = good, size_marker = good;
  big.resize(0x20001, 0x00);
  area.resize(0x18000, 0x00);
  StampCrc16(area.data(), 0x18000);
  marker[0] = 0x03;
  StampCrc16(marker.data(), 0xC800);
  crc[0x2000] ^= 0x01;
  size_marker[0] = 0x05;
  const std::string update = "=    PD_FW_Update_FAIL.   =\n", dd = "DirectDownload=1\n",
                    download = "=   PD_FW_Download_FAIL.  =\n", di = "DownloadImageOnly=1\n",
                    image = "=   Image_Download_FAIL.  =\n",
                    no_match = "Protection: Bin_Not_Match:",
                    bad_crc = "Protection: Bin_CRC16=" + Hex(GetCrc16(crc.data(), 0xC800 - 2), 4);
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    std::string settings, line, box;  // no box: the operation does not start
    std::vector<uint8_t> old = Firmware(0xC800, 0x0E010100, 5);
  };
  for (const Case& c : std::vector<Case>{
           {"larger_than_128K", big, "", "Protection : PDFW_Size_128K_Over.\n", update},
           // Passes the chip check only because it is skipped; would reach into copy 2.
           {"larger_than_a_copy_area", area, "SkipCheckBin=1\n",
            "Protection : PDFW_Size_96K_Over.\n", update},
           {"marker", marker, "", "Protection : PDFW_Data[0]_Error.\n", update},
           {"other_chip", Firmware(0x8000, 0x0D010200), "",
            no_match + "PJID=01070000, FID=D, Size=8000\n", update},
           // FID bytes from 0xA0 compare whole but print as their low nibble.
           {"fid_A1", Firmware(0x10000, 0xA1010200), "",
            no_match + "PJID=01070000, FID=1, Size=10000\n", update},
           {"wrong_fid", Firmware(0xC800, 0x0C010200), "",
            no_match + "PJID=01070000, FID=C, Size=C800\n", update},
           {"crc16", crc, "", bad_crc, update},
           // Newer in the second version byte, older in the third; the device's
           // version is the firmware's, not the ROM code's 35000100.
           {"downgrade", Firmware(0xC800, 0x0E010100), "NoDowngrade=1\n",
            "No_Downgrade, Bin=0E010100, Dev=0E000200\n", update, Firmware(0xC800, 0x0E000200)},
           {"size_marker_in_copy_1", good, "", "Protection : SPI_Size_Error.\n", update,
            size_marker},
           {"more_than_one_device", good, "DeviceNum=2\n",
            "PD_Tool_Only_Support_1_Device_Number.\n", ""},
           {"not_found", good, "PD1VID=1234\nPD1PID=5678\nPD1RomVID=1234\nPD1RomPID=5679\n",
            "Search_Fail\n", ""},
           {"download_crc", crc, dd, bad_crc, download},
           // The PID is the one the ROM code reports.
           {"download_other_chip", Firmware(0x8000, 0x0D010200), dd,
            no_match + "PID=1107, FID=D, Size=8000\n", download},
           {"download_marker", std::vector<uint8_t>(0xC800, 0), dd,
            "Protection : PDFW_Data[0]_Error.\n", download},
           // An empty image would leave nothing but an erased chip.
           {"image_empty", std::vector<uint8_t>(), di, "Protection : FW_Size_0K_Error.\n", image},
           {"image_above_4MiB", std::vector<uint8_t>(0x400001, 0x5A), di,
            "Protection : Image_Size_4096K_Over.\n", image}}) {
    SCOPED_TRACE(c.name);
    Rig r({}, c.old);
    EXPECT_EQ(r.Run(c.settings, c.file), 0u) << r.p.out;
    EXPECT_THAT(r.p.out, HasSubstr(c.line));
    EXPECT_EQ(r.p.out.find(c.box.empty() ? update : c.box) != std::string::npos, !c.box.empty());
    EXPECT_THAT(r.p.out, HasSubstr("Return_Value = 0x0\n"));
    EXPECT_TRUE(r.Untouched());
  }
}

// Paths a whole run cannot reach, called directly: the PD file gone by the
// time the update reads it (refused before any flash request), and a dump of
// 0 megabits, which the settings cannot ask for (failure: the empty file is
// kept as a partial one, a previous dump stays).
TEST(DirectCall, FileGoneAndEmptyDump) {
  Rig r({"Mode=Rom"});
  WriteFile(r.p.File("PDFlash1Dump.bin"), "previous");
  {
    BoardOp op(r);
    ASSERT_TRUE(op.open) << r.p.console.out;
    op.t.Pd[1].BinPath = "gone.bin";
    EXPECT_EQ(PdFwUpdate(op.t, op.link, 1, 0), 0u);
    EXPECT_EQ(PdFlashDump(op.t, op.link, 1, 0, 0), 0u);
    EXPECT_TRUE(Where(op.bus.Log(), {kReadData, kChipErase, kSectorErase, kProgram}).empty());
  }
  EXPECT_THAT(r.p.console.out, HasSubstr("Protection : FW_Open_Fail.\n"));
  EXPECT_THAT(r.p.console.out, HasSubstr("=   PD_Flash1_Dump_FAIL.  =\n"));
  EXPECT_EQ(ReadFile(r.p.File("PDFlash1Dump.bin")), "previous");
  EXPECT_TRUE(FileExists(r.p.File("PDFlash1Dump.partial.bin")));
  EXPECT_TRUE(ReadBytes(r.p.File("PDFlash1Dump.partial.bin")).empty());
  EXPECT_TRUE(r.board.Flash() == r.before);
}

// Only the third version byte counts: older in the second byte, or equal in
// the third, still passes.
TEST(UpdateNoDowngrade, ThirdVersionByteDecides) {
  for (auto [file, device] :
       {std::pair{0x0E000300u, 0x0E050200u}, std::pair{0x0E000200u, 0x0E010200u}}) {
    Rig r({}, Firmware(0xC800, device, 5));
    const auto image = Firmware(0xC800, file, 9);
    EXPECT_EQ(r.Run("NoDowngrade=1\n", image), 1u) << r.p.out;
    EXPECT_EQ(r.p.out.find("No_Downgrade"), std::string::npos);
    EXPECT_TRUE(BothCopies(r.board.Flash(), image));
  }
}

}  // namespace
}  // namespace pdflash::test
