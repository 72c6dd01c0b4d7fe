// Backup of the PD firmware area and raw dumps of the first and second
// flash: files, texts, limits, and the port select of the second flash.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ops/pd_backup.h"
#include "scenario/scenario_support.h"

namespace pdflash::test {
namespace {

using ::testing::HasSubstr;

constexpr uint16_t kPortSelect = 0x2BFD;

std::vector<uint8_t> Slice(const std::vector<uint8_t>& b, uint32_t from, uint32_t n) {
  return std::vector<uint8_t>(b.begin() + from, b.begin() + from + n);
}

// The transfer number (from 1) of the k-th accepted request of a kind.
uint32_t TransferOf(const std::vector<sim::TransferRecord>& log, uint8_t request, size_t k) {
  for (size_t i = 0; i < log.size(); ++i)
    if (log[i].setup.bRequest == request && k-- == 0) return static_cast<uint32_t>(i + 1);
  return 0;
}

// The image size comes from the PID the device shows when the backup runs,
// that is its ROM PID; copy 2 sits where that size puts it.
TEST(Backup, FilesAndCopyLines) {
  struct Case {
    const char* name;
    std::string ids;                // settings before the board's IDs
    std::vector<std::string> keys;  // device.ini
    uint32_t image_size;            // of the copies on the board
    bool copy1, copy2;
    uint32_t n;  // bytes in PDFWBackup.bin
  };
  const std::vector<Case> cases = {
      {"pid_0107", "PD1RomPID=0107\n", {"RomPID=0107"}, 0xC800, true, true, 0xC800},
      {"pid_0106",
       "PD1PID=0106\nPD1RomPID=0106\n",
       {"Identity=B0", "AppPID=0106", "RomPID=0106"},
       0x8000,
       true,
       true,
       0x8000},
      {"other_pid", "", {}, 0x10000, true, true, 0x10000},
      {"blank_copy_1", "PD1RomPID=0107\n", {"RomPID=0107"}, 0xC800, false, true, 0xC800},
      // Copies of another size do not count at the size the PID gives.
      {"other_pid_50K_copies", "", {}, 0xC800, true, true, 0x10000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Program p;
    SimBoard board(p);
    board.Init(c.keys);
    board.Load(0, Background(0x80000));
    board.LoadFirmware(Firmware(c.image_size, 0x0E010100), c.copy1, c.copy2);
    if (!c.copy1) board.Load(0x20000, std::vector<uint8_t>(c.image_size, 0xFF));
    const auto flash = board.Flash();
    p.Settings(c.ids + kBoardIds + "BackUpOnly=1\n");
    EXPECT_EQ(board.Run(), 1u) << p.out;
    EXPECT_THAT(p.out, HasSubstr("\nPD[1]_FW_Backup_Start...\n"));
    EXPECT_THAT(p.out, HasSubstr("\r    reading...99%\r                    \r"));
    EXPECT_THAT(p.out, HasSubstr("=    PD_FW_Backup_PASS.   =\n"));
    const bool sized = c.image_size == c.n;
    EXPECT_EQ(p.out.find("    Firmware_1_OK ...\n") != std::string::npos, sized && c.copy1);
    EXPECT_EQ(p.out.find("    Firmware_2_OK ...\n") != std::string::npos, sized && c.copy2);
    EXPECT_TRUE(ReadBytes(p.File("PDFWBackup.bin")) == Slice(flash, 0x20000, c.n));
    EXPECT_TRUE(ReadBytes(p.File("PDFWBackupAll.bin")) == Slice(flash, 0x20000, 0x20000));
    EXPECT_FALSE(ChangesFlash(board.log));
    EXPECT_TRUE(board.Flash() == flash);
  }
}

// A failed read ends the reading; both files are still written with what was
// read (zeros after the failure), and the backup fails.
TEST(Backup, ReadFailureStillWritesTheFiles) {
  Program p;
  SimBoard board(p);
  board.Init();
  board.LoadFirmware(Firmware(0xC800, 0x0E010100), true, true);
  p.Settings(std::string(kBoardIds) + "BackUpOnly=1\n");
  ASSERT_EQ(board.Run(), 1u) << p.out;
  const uint32_t cut = TransferOf(board.log, kReadData, 100);

  Program q;
  SimBoard cut_board(q);
  cut_board.Init({"FailTransfer=" + Hex(cut)});
  cut_board.LoadFirmware(Firmware(0xC800, 0x0E010100), true, true);
  const auto flash = cut_board.Flash();
  q.Settings(std::string(kBoardIds) + "BackUpOnly=1\n");
  EXPECT_EQ(cut_board.Run(), 0u) << q.out;
  EXPECT_THAT(q.out, HasSubstr("Read_Data_FAIL\nProtection : SPI_Backup_Read_Fail.\n"));
  EXPECT_THAT(q.out, HasSubstr("=    PD_FW_Backup_FAIL.   =\n"));
  auto expected = Slice(flash, 0x20000, 0x20000);
  std::fill(expected.begin() + 100 * 32, expected.end(), 0x00);
  EXPECT_TRUE(ReadBytes(q.File("PDFWBackupAll.bin")) == expected);
  EXPECT_EQ(ReadBytes(q.File("PDFWBackup.bin")).size(), 0x10000u);
}

TEST(FlashDump, SizesAndLimits) {
  struct Case {
    const char* name;
    std::string megabits;  // FlashDumpOnly, hexadecimal
    std::vector<std::string> keys;
    uint32_t file_size;  // 0: refused, no file
  };
  const std::vector<Case> cases = {
      {"whole_4Mbit_part", "4", {}, 0x80000},
      {"beyond_the_part_wraps", "8", {}, 0x100000},
      {"128Mbit", "80", {"FlashSize=1000000"}, 0x1000000},
      {"129Mbit", "81", {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Program p;
    SimBoard board(p);
    board.Init(c.keys);
    const auto flash_size = static_cast<uint32_t>(board.Flash().size());
    board.Load(0, Background(flash_size));
    const auto flash = board.Flash();
    p.Settings(std::string(kBoardIds) + "FlashDumpOnly=" + c.megabits + "\n");
    const uint32_t result = board.Run();
    EXPECT_FALSE(ChangesFlash(board.log));
    if (c.file_size == 0) {
      EXPECT_EQ(result, 0u);
      EXPECT_THAT(
          p.out,
          HasSubstr(
              "\nPD[1]_Flash_Dump_129M_Bits_Start...\nProtection : FlashDump_Size_16512K_Over.\n"
              "Return_Value = 0x0\n"));
      EXPECT_FALSE(FileExists(p.File("PDFlash1Dump.bin")));
      continue;
    }
    EXPECT_EQ(result, 1u) << p.out;
    EXPECT_THAT(p.out, HasSubstr("    Write_to_File: PDFlash1Dump.bin\n"));
    EXPECT_THAT(p.out, HasSubstr("=    PD_Flash1_Dump_OK.   =\n"));
    const auto dump = ReadBytes(p.File("PDFlash1Dump.bin"));
    ASSERT_EQ(dump.size(), c.file_size);
    // Addresses wrap at the size of the part.
    for (uint32_t at = 0; at < c.file_size; at += flash_size)
      EXPECT_TRUE(std::equal(flash.begin(), flash.end(), dump.begin() + at)) << Hex(at);
  }
}

// A failed piece ends the dump; the file still has the full size, unread
// bytes as 0xFF. The piece's own progress line comes between the failed
// request's line and the refusal.
TEST(FlashDump, ReadFailureKeepsTheFileSize) {
  Program p;
  SimBoard board(p);
  board.Init({"Mode=Rom"});
  board.Load(0, Background(0x80000));
  p.Settings(std::string(kBoardIds) + "FlashDumpOnly=4\n");
  ASSERT_EQ(board.Run(), 1u) << p.out;
  const uint32_t cut = TransferOf(board.log, kReadData, 64);  // the piece at 0x800

  Program q;
  SimBoard cut_board(q);
  cut_board.Init({"Mode=Rom", "FailTransfer=" + Hex(cut)});
  cut_board.Load(0, Background(0x80000));
  q.Settings(std::string(kBoardIds) + "FlashDumpOnly=4\n");
  EXPECT_EQ(cut_board.Run(), 0u) << q.out;
  EXPECT_THAT(q.out, HasSubstr("\r    reading...00%Read_Data_FAIL\n\r    reading...00%Protection : "
                               "SPI_Backup_Read_Fail.\n"
                               "\r                    \r    Write_to_File: PDFlash1Dump.bin\n"));
  EXPECT_THAT(q.out, HasSubstr("=   PD_Flash1_Dump_FAIL.  =\n"));
  auto expected = Background(0x80000);
  std::fill(expected.begin() + 64 * 32, expected.end(), 0xFF);
  EXPECT_TRUE(ReadBytes(q.File("PDFlash1Dump.bin")) == expected);
}

// A dump of 0 megabits cannot be asked for in the settings (0 selects
// nothing); called directly it writes an empty file and fails.
TEST(FlashDump, ZeroMegabitsGivesAnEmptyFile) {
  Program p;
  SimBoard board(p);
  board.Init({"Mode=Rom"});
  BoardOp op(p, board);
  ASSERT_TRUE(op.Open()) << p.console.out;
  EXPECT_EQ(PdFlashDump(op.t, op.link, 1, 0, 0), 0u);
  EXPECT_TRUE(FileExists(p.File("PDFlash1Dump.bin")));
  EXPECT_TRUE(ReadBytes(p.File("PDFlash1Dump.bin")).empty());
  EXPECT_THAT(p.console.out, HasSubstr("=   PD_Flash1_Dump_FAIL.  =\n"));
  EXPECT_EQ(CountRequests(op.log(), kReadData), 0u);
}

// Function test 0x86 dumps 4 Mbit of the second flash; the first flash is
// selected again whatever happened.
TEST(FlashDump2, SecondFlashThroughFunctionTest86) {
  struct Case {
    const char* name;
    std::vector<std::string> keys;
    bool fail_select;
    uint32_t result;
    const char* line;
    std::vector<uint8_t> selects;  // accepted writes of the port select
  };
  const std::vector<Case> cases = {
      {"dual_port_chip", {"Flash2Size=80000"}, false, 1, "=    PD_Flash2_Dump_OK.   =\n", {1, 0}},
      {"other_chip", {"Identity=B0"}, false, 0, "Protection : Not_ZIRUR_Chip.\n", {0}},
      {"select_fails", {"Flash2Size=80000"}, true, 0, "Protection : Select_2nd_SPI_Fail.\n", {0}},
  };
  uint32_t select_transfer = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Program p;
    SimBoard board(p);
    auto keys = c.keys;
    if (c.fail_select) keys.push_back("FailTransfer=" + Hex(select_transfer));
    board.Init(keys);
    board.Load(0, Background(0x80000, 1));
    if (board.DeviceIni().find("Flash2Size=80000") != std::string::npos)
      board.Load(0, Background(0x80000, 2), 1, 2);
    const auto flash1 = board.Flash();
    p.Settings(std::string(kBoardIds) + "FuncTestOnly=86\n");
    EXPECT_EQ(board.Run(), c.result) << p.out;
    EXPECT_THAT(p.out, HasSubstr("Device_Function_Test_0x86\n"));
    EXPECT_THAT(p.out, HasSubstr("\nPD[1]_Flash_Dump2_4M_Bits_Start...\n"));
    EXPECT_THAT(p.out, HasSubstr(c.line));
    EXPECT_THAT(p.out, HasSubstr("s\n    Select_1st_SPI\n\n===========================\n"));
    EXPECT_EQ(RegisterWrites(board.log, kPortSelect), c.selects);
    EXPECT_EQ(RegisterWrites(board.log, kPortSelect, false).back(), 0);
    EXPECT_EQ(FileExists(p.File("PDFlash2Dump.bin")), c.result == 1);
    if (c.result == 1) {
      EXPECT_TRUE(ReadBytes(p.File("PDFlash2Dump.bin")) == Background(0x80000, 2));
      select_transfer = 0;
      for (size_t i = 0; i < board.log.size() && !select_transfer; ++i)
        if (board.log[i].setup.bRequest == kRegisterRequest &&
            (board.log[i].setup.wValue >> 8) == (kPortSelect & 0xFF) &&
            board.log[i].setup.wIndex == kPortSelect >> 8)
          select_transfer = static_cast<uint32_t>(i + 1);
    }
    EXPECT_FALSE(ChangesFlash(board.log));
    EXPECT_TRUE(board.Flash() == flash1);
  }
}

}  // namespace
}  // namespace pdflash::test
