// Every refusal of the update happens before the flash is touched: the board
// keeps every byte, and the run ends in failure with the refusal's line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "image/checksum.h"
#include "ops/pd_update.h"
#include "scenario/scenario_support.h"

namespace pdflash::test {
namespace {

using ::testing::HasSubstr;

struct RefusalCase {
  const char* name;
  // Turns a good 50 KiB file into the refused one; returns the expected line.
  std::function<std::string(std::vector<uint8_t>& file)> spoil;
  std::string settings = "";
  bool size_marker_in_flash = false;  // copy 1 starts with 0x05
  bool update_box = true;             // the update itself ran and shows its box
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
  *os << c.name;
}

class UpdateRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(UpdateRefusal, FlashStaysByteIdentical) {
  const RefusalCase& c = GetParam();
  Program p;
  SimBoard board(p);
  board.Init();
  board.Load(0, Background(0x80000));
  board.LoadFirmware(Firmware(0xC800, 0x0E010100, 5), true, true);
  if (c.size_marker_in_flash) board.Load(0x20000, {0x05});
  const auto before = board.Flash();
  auto file = Firmware(0xC800, 0x0E010200, 9);
  const std::string line = c.spoil(file);
  WriteBytes(p.File("new.bin"), file);
  // The first entry of a key wins: the case's settings go first.
  p.Settings(c.settings + kBoardIds + "PD1Bin=new.bin\n");

  EXPECT_EQ(board.Run(), 0u) << p.out;
  EXPECT_THAT(p.out, HasSubstr(line));
  EXPECT_EQ(p.out.find("=    PD_FW_Update_FAIL.   =\n") != std::string::npos, c.update_box)
      << p.out;
  EXPECT_THAT(p.out, HasSubstr("Return_Value = 0x0\n"));
  EXPECT_FALSE(ChangesFlash(board.log));
  EXPECT_TRUE(board.Flash() == before);
}

INSTANTIATE_TEST_SUITE_P(
    Scenario, UpdateRefusal,
    ::testing::Values(
        RefusalCase{"larger_than_128K",
                    [](auto& f) {
                      f.resize(0x20001, 0x00);
                      return std::string("Protection : PDFW_Size_128K_Over.\n");
                    }},
        // A file that passes the chip check only because the check is skipped
        // would reach into the other copy's area.
        RefusalCase{"larger_than_a_copy_area",
                    [](auto& f) {
                      f.resize(0x18000, 0x00);
                      StampCrc16(f.data(), 0x18000);
                      return std::string("Protection : PDFW_Size_96K_Over.\n");
                    },
                    "SkipCheckBin=1\n"},
        RefusalCase{"marker",
                    [](auto& f) {
                      f[0] = 0x03;
                      StampCrc16(f.data(), static_cast<uint32_t>(f.size()));
                      return std::string("Protection : PDFW_Data[0]_Error.\n");
                    }},
        RefusalCase{"image_of_another_chip",
                    [](auto& f) {
                      f = Firmware(0x8000, 0x0D010200);
                      return std::string(
                          "Protection: Bin_Not_Match:PJID=01070000, FID=D, Size=8000\n");
                    }},
        // FID bytes from 0xA0 compare whole but print as their low nibble.
        RefusalCase{"fid_A1_of_the_64K_chip",
                    [](auto& f) {
                      f = Firmware(0x10000, 0xA1010200);
                      return std::string(
                          "Protection: Bin_Not_Match:PJID=01070000, FID=1, Size=10000\n");
                    }},
        RefusalCase{"right_size_wrong_fid",
                    [](auto& f) {
                      f = Firmware(0xC800, 0x0C010200);
                      return std::string(
                          "Protection: Bin_Not_Match:PJID=01070000, FID=C, Size=C800\n");
                    }},
        RefusalCase{"crc16",
                    [](auto& f) {
                      f[0x2000] ^= 0x01;
                      const uint16_t crc = GetCrc16(f.data(), static_cast<int32_t>(f.size() - 2));
                      return "Protection: Bin_CRC16=" + Hex(crc, 4) + "\n";
                    }},
        RefusalCase{"size_marker_in_copy_1",
                    [](auto&) { return std::string("Protection : SPI_Size_Error.\n"); }, "", true},
        RefusalCase{"more_than_one_device",
                    [](auto&) { return std::string("PD_Tool_Only_Support_1_Device_Number.\n"); },
                    "DeviceNum=2\n", false, false},
        RefusalCase{"device_not_found", [](auto&) { return std::string("Search_Fail\n"); },
                    "PD1VID=1234\nPD1PID=5678\nPD1RomVID=1234\nPD1RomPID=5679\n", false, false}),
    [](const auto& info) { return std::string(info.param.name); });

// The loader checked that the file opens; if it is gone when the update
// reads it, the update still refuses before any flash request.
TEST(UpdateRefusalOp, FileThatNoLongerOpens) {
  Program p;
  SimBoard board(p);
  board.Init({"Mode=Rom"});
  board.LoadFirmware(Firmware(0xC800, 0x0E010100), true, true);
  const auto before = board.Flash();
  {
    BoardOp op(p, board);
    ASSERT_TRUE(op.Open()) << p.console.out;
    op.t.Pd[1].BinPath = "gone.bin";
    EXPECT_EQ(PdFwUpdate(op.t, op.link, 1, 0), 0u);
    EXPECT_FALSE(ChangesFlash(op.log()));
  }
  EXPECT_THAT(p.console.out, HasSubstr("Protection : FW_Open_Fail.\n"));
  EXPECT_THAT(p.console.out, HasSubstr("=    PD_FW_Update_FAIL.   =\n"));
  EXPECT_TRUE(board.Flash() == before);
}

// Only the third version byte counts: a file that is newer in the second
// byte is still refused, one that is older there passes.
TEST(UpdateNoDowngrade, ThirdVersionByteDecides) {
  struct Case {
    uint32_t file, device;
    bool refused;
  };
  for (const Case& c : {Case{0x0E010100, 0x0E000200, true}, Case{0x0E000300, 0x0E050200, false},
                        Case{0x0E000200, 0x0E010200, false}}) {
    SCOPED_TRACE(Hex(c.file, 8) + " over " + Hex(c.device, 8));
    Program p;
    SimBoard board(p);
    // The guard compares with the firmware that ran before the switch, not
    // with the version the ROM code reports (35000100 here).
    board.Init();
    const auto old_fw = Firmware(0xC800, c.device, 5);
    board.LoadFirmware(old_fw, true, true);
    const auto image = Firmware(0xC800, c.file, 9);
    WriteBytes(p.File("new.bin"), image);
    p.Settings(std::string(kBoardIds) + "PD1Bin=new.bin\nNoDowngrade=1\n");
    const auto before = board.Flash();
    const uint32_t result = board.Run();
    const std::string refusal =
        "No_Downgrade, Bin=" + Hex(c.file, 8) + ", Dev=" + Hex(c.device, 8) + "\n";
    if (c.refused) {
      EXPECT_EQ(result, 0u);
      EXPECT_THAT(p.out, HasSubstr(refusal));
      EXPECT_TRUE(board.Flash() == before);
    } else {
      EXPECT_EQ(result, 1u) << p.out;
      EXPECT_EQ(p.out.find("No_Downgrade"), std::string::npos);
      EXPECT_TRUE(Same(board.Flash(), 0x20000, image) && Same(board.Flash(), 0x30000, image));
    }
  }
}

}  // namespace
}  // namespace pdflash::test
