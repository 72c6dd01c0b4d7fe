// Backup of the PD firmware area and raw dumps of the first and second
// flash: files, texts, limits, and the port select of the second flash.
#include "image/flash_map.h"
#include "scenario/scenario_support.h"

namespace pdflash::test {
namespace {

// The image size comes from the PID the device shows when the backup runs,
// that is its ROM PID; copy 2 sits where that size puts it.
TEST(Backup, FilesAndCopyLines) {
  struct Case {
    const char* name;
    std::string ids;                // settings before the board's IDs
    std::vector<std::string> keys;  // device.ini
    uint32_t image_size;            // of the copies on the board
    bool copy1;
    uint32_t n;  // bytes in PDFWBackup.bin
  };
  const std::vector<std::string> none, pid_0107 = {"RomPID=0107"},
                                       pid_0106 = {"Identity=B0", "AppPID=0106", "RomPID=0106"};
  for (const Case& c : std::vector<Case>{
           {"pid_0107", "PD1RomPID=0107\n", pid_0107, 0xC800, true, 0xC800},
           {"pid_0106", "PD1PID=0106\nPD1RomPID=0106\n", pid_0106, 0x8000, true, 0x8000},
           {"other_pid", "", none, 0x10000, true, 0x10000},
           {"blank_copy_1", "PD1RomPID=0107\n", pid_0107, 0xC800, false, 0xC800},
           // Copies of another size do not count at the size the PID gives.
           {"other_pid_50K_copies", "", none, 0xC800, true, 0x10000}}) {
    SCOPED_TRACE(c.name);
    Rig r(c.keys, Firmware(c.image_size, 0x0E010100), c.copy1);
    if (!c.copy1) r.board.Load(0x20000, std::vector<uint8_t>(c.image_size, 0xFF));
    EXPECT_EQ(r.Run(c.ids + "BackUpOnly=1\n"), 1u) << r.p.out;
    EXPECT_THAT(r.p.out, HasSubstr("\nPD[1]_FW_Backup_Start...\n"));
    EXPECT_THAT(r.p.out, HasSubstr("\r    reading...99%\r                    \r"));
    EXPECT_THAT(r.p.out, HasSubstr("=    PD_FW_Backup_PASS.   =\n"));
    const bool sized = c.image_size == c.n;
    EXPECT_EQ(r.p.out.find("    Firmware_1_OK ...\n") != std::string::npos, sized && c.copy1);
    EXPECT_EQ(r.p.out.find("    Firmware_2_OK ...\n") != std::string::npos, sized);
    EXPECT_TRUE(ReadBytes(r.p.File("PDFWBackup.bin")) == Slice(r.before, 0x20000, c.n));
    EXPECT_TRUE(ReadBytes(r.p.File("PDFWBackupAll.bin")) == Slice(r.before, 0x20000, 0x20000));
    EXPECT_TRUE(r.Untouched());
  }
}

// A failed read ends the reading; what was read is kept at full size, with
// filler after it, under the partial names beside the previous good files,
// and the operation fails. The DP converter's backup inside the PD backup
// does the same.
TEST(BackupDump, ReadFailureKeepsPartialDataAndThePreviousFiles) {
  using Names = std::vector<const char*>;
  struct Case {
    std::string settings;
    long read;  // the read request that fails; from the end if negative
    std::string lines;
    uint32_t from, size;  // size 0: the partial file is not compared
    uint8_t fill;
    const char* file;
    Names previous = {"PDFWBackup.bin", "PDFWBackupAll.bin", "PDFlash1Dump.bin"};
  };
  for (const Case& c :
       {Case{"BackUpOnly=1\n", 100,
             "Read_Data_FAIL\nProtection : SPI_Backup_Read_Fail.\n\r                    \r"
             "    Partial_Data_Kept: PDFWBackup.partial.bin\n"
             "    Partial_Data_Kept: PDFWBackupAll.partial.bin\n",  // zeros pass no copy's CRC
             0x20000, 0x20000, 0x00, "PDFWBackupAll.partial.bin"},
        // The piece's own progress line comes between the failure and the refusal.
        Case{"FlashDumpOnly=4\n", 64,
             "\r    reading...00%Read_Data_FAIL\n\r    reading...00%Protection : "
             "SPI_Backup_Read_Fail.\n\r                    \r    Write_to_File: PDFlash1Dump.bin\n"
             "    Partial_Data_Kept: PDFlash1Dump.partial.bin\n",
             0, 0x80000, 0xFF, "PDFlash1Dump.partial.bin"},
        Case{"BackUpOnly=1\nPDDPShareSPI=1\n", -50,
             "    Partial_Data_Kept: DPFWBackupAll.partial.bin\n\n" + std::string(27, '=') +
                 "\n=    DP_FW_Backup_FAIL.   =\n",
             0, 0, 0, "DPFWBackupAll.partial.bin", Names{"DPFWBackup.bin", "DPFWBackupAll.bin"}}}) {
    SCOPED_TRACE(c.settings);
    Rig uncut;
    ASSERT_EQ(uncut.Run(c.settings), 1u) << uncut.p.out;
    const auto reads = Where(uncut.board.log, {kReadData});
    const size_t read = c.read < 0 ? reads.size() - size_t(-c.read) : size_t(c.read);
    Rig r({"FailTransfer=" + Hex(uint32_t(reads.at(read) + 1))});
    for (const char* f : c.previous) WriteFile(r.p.File(f), "previous");
    EXPECT_EQ(r.Run(c.settings), 0u) << r.p.out;
    for (const char* f : c.previous) EXPECT_EQ(ReadFile(r.p.File(f)), "previous");
    EXPECT_THAT(r.p.out, HasSubstr(c.lines));
    EXPECT_THAT(r.p.out, HasSubstr("_FAIL.  "));
    EXPECT_FALSE(ReadBytes(r.p.File(c.file)).empty());
    if (!c.size) continue;
    auto expected = Slice(r.before, c.from, c.size);
    std::fill(expected.begin() + read * 32, expected.end(), c.fill);
    EXPECT_TRUE(ReadBytes(r.p.File(c.file)) == expected);
    if (c.from) {  // the backup's image file too, at the size the PID gives
      EXPECT_TRUE(ReadBytes(r.p.File("PDFWBackup.partial.bin")) == Slice(expected, 0, 0x10000));
    }
  }
}

// The DP family comes from the image ends: when they cannot be read, no
// backup of a guessed layout takes the real names.
TEST(BackupDump, DpLayoutUnreadKeepsThePreviousFiles) {
  const std::string settings = "BackUpOnly=1\nPDDPShareSPI=1\n";
  Rig uncut;
  ASSERT_EQ(uncut.Run(settings), 1u) << uncut.p.out;
  const size_t end = Find(uncut.board.log, [](const auto& r) {
    return r.setup.bRequest == kReadData && FlashAddress(r.setup) == kDpEnd96;
  });
  ASSERT_LT(end, uncut.board.log.size());
  Rig r({FailAt(end)});
  for (const char* f : {"DPFWBackup.bin", "DPFWBackupAll.bin"}) WriteFile(r.p.File(f), "previous");
  EXPECT_EQ(r.Run(settings), 0u);
  EXPECT_THAT(r.p.out, HasSubstr("Protection : SPI_Backup_Read_Fail.\n\n" + std::string(27, '=') +
                                 "\n=    DP_FW_Backup_FAIL.   =\n"));
  EXPECT_THAT(r.p.out, ::testing::Not(HasSubstr("Should_Be_")));
  for (const char* f : {"DPFWBackup.bin", "DPFWBackupAll.bin"})
    EXPECT_EQ(ReadFile(r.p.File(f)), "previous");
  EXPECT_FALSE(FileExists(r.p.File("DPFWBackup.partial.bin")));
}

TEST(FlashDump, SizesAndLimits) {
  struct Case {
    std::string megabits;  // FlashDumpOnly, hexadecimal
    std::vector<std::string> keys;
    uint32_t file_size;  // 0: refused, no file
  };
  for (const Case& c : {Case{"4", {}, 0x80000}, Case{"8", {}, 0x100000},  // wraps at the part's end
                        Case{"80", {"FlashSize=1000000"}, 0x1000000}, Case{"81", {}, 0}}) {
    SCOPED_TRACE(c.megabits);
    Rig r(c.keys);
    const uint32_t result = r.Run("FlashDumpOnly=" + c.megabits + "\n");
    EXPECT_TRUE(r.Untouched());
    EXPECT_EQ(FileExists(r.p.File("PDFlash1Dump.bin")), c.file_size != 0);
    if (c.file_size == 0) {
      EXPECT_EQ(result, 0u);
      EXPECT_THAT(r.p.out, HasSubstr("\nPD[1]_Flash_Dump_129M_Bits_Start...\nProtection : "
                                     "FlashDump_Size_16512K_Over.\nReturn_Value = 0x0\n"));
      continue;
    }
    EXPECT_EQ(result, 1u) << r.p.out;
    EXPECT_THAT(r.p.out, HasSubstr("    Write_to_File: PDFlash1Dump.bin\n"));
    EXPECT_THAT(r.p.out, HasSubstr("=    PD_Flash1_Dump_OK.   =\n"));
    const auto dump = ReadBytes(r.p.File("PDFlash1Dump.bin"));
    ASSERT_EQ(dump.size(), c.file_size);
    for (uint32_t at = 0; at < c.file_size; at += uint32_t(r.before.size()))
      EXPECT_TRUE(std::equal(r.before.begin(), r.before.end(), dump.begin() + at)) << Hex(at);
  }
}

// Function test 0x86 dumps 4 Mbit of the second flash; the first flash is
// selected again whatever happened.
TEST(FlashDump2, SecondFlashThroughFunctionTest86) {
  struct Case {
    std::vector<std::string> keys;
    bool fail_select;
    uint32_t result;
    const char* line;
    std::vector<uint8_t> selects;  // accepted writes of the port select
  };
  size_t select = 0;  // transfer number of the first port select of the good run
  for (const Case& c :
       {Case{{"Flash2Size=80000"}, false, 1, "=    PD_Flash2_Dump_OK.   =\n", {1, 0}},
        Case{{"Identity=B0"}, false, 0, "Protection : Not_ZIRUR_Chip.\n", {0}},
        Case{{"Flash2Size=80000"}, true, 0, "Protection : Select_2nd_SPI_Fail.\n", {0}}}) {
    SCOPED_TRACE(c.line);
    auto keys = c.keys;
    keys.push_back("FailTransfer=" + Hex(c.fail_select ? select : 0));
    Rig r(keys);
    if (c.result == 1) r.board.Load(0, Background(0x80000, 2), 1, 2);
    EXPECT_EQ(r.Run("FuncTestOnly=86\n"), c.result) << r.p.out;
    EXPECT_THAT(r.p.out, HasSubstr("Device_Function_Test_0x86\n"));
    EXPECT_THAT(r.p.out, HasSubstr("\nPD[1]_Flash_Dump2_4M_Bits_Start...\n"));
    EXPECT_THAT(r.p.out, HasSubstr(c.line));
    EXPECT_THAT(r.p.out, HasSubstr("s\n    Select_1st_SPI\n\n===========================\n"));
    const auto writes = RegisterWrites(r.board.log, kPortSelect);
    EXPECT_EQ(Taken(r.board.log, writes), c.selects);
    EXPECT_TRUE(!writes.empty() && r.board.log[writes.back()].data[0] == 0);  // the last one tried
    EXPECT_EQ(FileExists(r.p.File("PDFlash2Dump.bin")), c.result == 1);
    if (c.result == 1) {
      EXPECT_TRUE(ReadBytes(r.p.File("PDFlash2Dump.bin")) == Background(0x80000, 2));
      select = writes.at(0) + 1;
    }
    EXPECT_TRUE(r.Untouched());
  }
}

}  // namespace
}  // namespace pdflash::test
