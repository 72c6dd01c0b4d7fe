// Settings, switches and files as a careless or hostile user gives them, and
// outputs that cannot be written: the run refuses before any device work, or
// says what it could not write, and never replaces a good file with a bad one.
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "scenario/scenario_support.h"
#include "sim/pdsim.h"

namespace pdflash::test {
namespace {

namespace fs = std::filesystem;
using ::testing::Not;

// Lines that must appear, in this order.
void ExpectInOrder(const std::string& out, const std::vector<std::string>& lines) {
  size_t at = 0;
  for (const auto& line : lines) {
    const size_t found = out.find(line, at);
    EXPECT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << out;
    if (found != std::string::npos) at = found + line.size();
  }
}

// A refused run touches no device at all.
void ExpectRefusedBeforeDevice(Rig& r, uint32_t result, const std::vector<std::string>& lines) {
  EXPECT_EQ(result, 0u) << r.p.out;
  ExpectInOrder(r.p.out, lines);
  EXPECT_TRUE(r.board.log.empty()) << r.board.log.size() << " transfers";
  EXPECT_TRUE(r.Untouched());
}

TEST(HostileSettings, NumbersThatDoNotFitTheirFieldAreRefused) {
  struct Case {
    std::string line;
    std::string refusal;  // empty: accepted
  };
  for (const Case& c : std::vector<Case>{
           // Cut to 8 bits this would be 0: an update instead of a dump.
           {"FlashDumpOnly=100\n", "FlashDumpOnly=100"},
           {"DeviceNum=101\n", "DeviceNum=101"},
           {"PD1VID=FFFFFFFF2109\n", "PD1VID=FFFFFFFF2109"},
           {"PD1PID=-FEF9\n", "PD1PID=-FEF9"},
           {"WinMsg=100000000\n", "WinMsg=100000000"},
           {"Sign0Product=10000\n", "Sign0Product=10000"},
           {"Copy9Len= -1\n", "Copy9Len= -1"},
           // What fits reads as before: leading zeros, a prefix, a minus zero.
           {"FlashDumpOnly=0000000004\nDbgMsg=-0\nWinMsg=0xFFFFFFFF\n", ""}}) {
    SCOPED_TRACE(c.line);
    Rig r;
    const uint32_t result = r.Run(c.line);
    if (c.refusal.empty()) {
      EXPECT_EQ(result, 1u) << r.p.out;
      EXPECT_THAT(r.p.out, HasSubstr("=    PD_Flash1_Dump_OK.   =\n"));
      continue;
    }
    ExpectRefusedBeforeDevice(
        r, result,
        {"Protection : Setting_Value_Out_Of_Range: " + c.refusal + "\n", "Setting File Error, Exit\n",
         "Return_Value = 0x0\n"});
  }
}

// Only the first piece of a line longer than 199 characters can be an entry.
TEST(HostileSettings, TheTailOfALongLineIsNoEntry) {
  Rig r;
  const auto foreign = Firmware(0x8000, 0x0D010100);  // a firmware for another chip
  const uint32_t result = r.Run(std::string(199, '-') + "SkipCheckBin=1\n", foreign);
  EXPECT_EQ(result, 0u) << r.p.out;
  EXPECT_THAT(r.p.out, Not(HasSubstr("    Skip_Check_Bin\n")));
  EXPECT_THAT(r.p.out, HasSubstr("Protection: Bin_Not_Match:"));
  EXPECT_TRUE(r.Untouched());
}

TEST(HostileSwitches, RegisterTyposAreRefused) {
  using A = std::vector<std::string>;
  for (const A& args : {A{"/WRREG", "2A1G", "5A"}, A{"/WRREG", "2A16", "G5"},
                        A{"/WRREG", "2A16", ""}, A{"/RDREG", "ZZZZ"}, A{"/RDREG", "2A 6"}}) {
    SCOPED_TRACE(args[0] + " " + args[1]);
    Rig r;
    r.p.Settings(std::string("RWRegEnable=1\n") + kBoardIds);
    const uint32_t result = r.board.Run(args);
    const std::string refusal = args[0] == "/RDREG" ? "    Illegal_Read_Register_Parameter.\n"
                                                    : "    Illegal_Write_Register_Parameter.\n";
    ExpectRefusedBeforeDevice(r, result,
                              {refusal, "    Get_Control_Mode_Input_Fail", "Setting File Error, Exit\n"});
    EXPECT_THAT(r.p.out, Not(HasSubstr("Cmd: ")));
  }
}

#ifndef _WIN32
// A program path past 259 characters is kept whole: its own folder's settings
// run and its own folder gets Result.txt, not a parent's.
TEST(HostilePaths, ALongToolPathIsNeverCut) {
  Program p;
  std::string deep = p.dir.path();
  for (char c : {'a', 'b', 'c'}) deep += std::string(100, c) + "/";
  fs::create_directories(deep);
  p.host.exe_path = deep + "pdflash";
  ASSERT_GT(p.host.exe_path.size(), 300u);
  WriteFile(deep + "Setting.ini", "[Config]\nOutputResult=1\nReturnZeroAsOK=1\nSetBinFlagOnly=1\n");
  // Where a cut path would land.
  const std::string cut = p.host.exe_path.substr(0, 259);
  const std::string parent = cut.substr(0, cut.find_last_of('/') + 1);
  WriteFile(parent + "Setting.ini", "[Config]\nOutputResult=1\n");
  EXPECT_EQ(p.Run(), 1u) << p.out;  // the settings error, mapped by ReturnZeroAsOK
  EXPECT_THAT(p.out, HasSubstr("ToolPath   = " + p.host.exe_path + "\n"));
  EXPECT_THAT(p.out, HasSubstr("WorkingDir = " + deep + "\n"));
  EXPECT_EQ(ReadFile(deep + "Result.txt"), "0x00000001");
  EXPECT_FALSE(FileExists(parent + "Result.txt"));
}

// Neither a FIFO nor a directory is a file: each is refused as one that
// cannot be opened, instead of blocking the run or reading as nothing.
TEST(HostilePaths, InputsThatAreNotRegularFiles) {
  struct Case {
    const char* name;
    std::string settings, path;  // path: made a FIFO or a directory
    bool fifo;
    std::vector<std::string> lines;
  };
  const std::string pd_fail = "Protection : FW_Open_Fail: thing\n";
  for (const Case& c : std::vector<Case>{
           {"pd_file_fifo", "PD1Bin=thing\n", "thing", true, {pd_fail}},
           {"pd_file_directory", "PD1Bin=thing\n", "thing", false, {pd_fail}},
           {"dp_file_directory", "PDDPShareSPI=1\nPD1Bin=new.bin\nDP1Bin=thing\n", "thing", false,
            {pd_fail}},
           {"settings_fifo", "", "Setting.ini", true,
            {"Protection : Setting_File_Open_Fail: Setting.ini (not a regular file)\n"}},
           {"settings_directory", "", "Setting.ini", false,
            {"Protection : Setting_File_Open_Fail: Setting.ini (not a regular file)\n"}},
           {"text_file_fifo", "FuncTestOnly=1\nTextFilePath=thing\n", "thing", true,
            {"  Text File Open Error!\n", "Return_Value = 0x0\n"}},
           {"text_file_directory", "FuncTestOnly=2\nTextFilePath=thing\n", "thing", false,
            {"  Text File Open Error!\n", "Return_Value = 0x0\n"}}}) {
    SCOPED_TRACE(c.name);
    Rig r;
    r.p.Settings(c.settings + kBoardIds);
    WriteBytes(r.p.File("new.bin"), Firmware(0xC800, 0x0E010200));
    const std::string path = r.p.File(c.path);
    fs::remove(path);
    if (c.fifo)
      ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    else
      fs::create_directory(path);
    EXPECT_EQ(r.board.Run(), 0u) << r.p.out;
    ExpectInOrder(r.p.out, c.lines);
    EXPECT_TRUE(r.board.log.empty());
    EXPECT_TRUE(r.Untouched());
  }
}
#endif

// A 4 GiB file is too big, not a small file whose size wrapped.
TEST(HostilePaths, SizesPast32BitsAreTooBig) {
  struct Case {
    std::string settings, refusal;
  };
  for (const Case& c : {Case{"", "Protection : PDFW_Size_4194336K_Over.\n"},
                        Case{"DownloadImageOnly=1\n", "Protection : Image_Size_4194336K_Over.\n"}}) {
    SCOPED_TRACE(c.refusal);
    Rig r;
    const std::string file = r.p.File("new.bin");
    WriteBytes(file, Firmware(0xC800, 0x0E010200, 9));
    std::error_code ec;
    fs::resize_file(file, (uint64_t{1} << 32) + 0x8000, ec);  // sparse where it can be
    if (ec) GTEST_SKIP() << "no room for a 4 GiB file: " << ec.message();
    r.p.Settings(c.settings + kBoardIds + "PD1Bin=new.bin\n");
    EXPECT_EQ(r.board.Run(), 0u) << r.p.out;
    EXPECT_THAT(r.p.out, HasSubstr(c.refusal));
    EXPECT_TRUE(r.Untouched());
    fs::remove(file);
  }
}

// "/CKFW" cannot answer "no update needed" for a file its reader rejects.
TEST(HostileFiles, FirmwareCheckFailsOnARejectedFile) {
  fwgen::PdFirmwareParams foreign;
  foreign.vid = 0x1234;
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    std::string line;
  };
  for (const Case& c : std::vector<Case>{
           // Zeros pass the identity rule, but hold no image.
           {"empty", {}, "=    PD[1] Bin Version is 00.00.00.00   =\n"},
           {"random", Background(0xC800, 3), "    PD_Bin_VID = "},
           {"foreign_vid", fwgen::MakePdFirmware(foreign), "    PD_Bin_VID = 1234/0000\n"}}) {
    SCOPED_TRACE(c.name);
    Rig r;
    WriteBytes(r.p.File("new.bin"), c.file);
    r.p.Settings(std::string(kBoardIds) + "PD1Bin=new.bin\n");
    EXPECT_EQ(r.board.Run({"/CKFW"}), 0u) << r.p.out;
    ExpectInOrder(r.p.out, {"Need_FW_Update_Mode(0)? Need(1), No_Need(3)\n", c.line,
                            "Return_Value = 0x0\n"});
  }
}

#ifndef _WIN32
// Writes that fail: the file's temporary is a link to a device that is
// always full.
void Full(const std::string& path) {
  fs::remove(path);
  fs::create_symlink("/dev/full", path);
}
#endif

// A backup or dump that fails half-way keeps the previous good file; what was
// read is kept beside it under a name that says it is partial.
TEST(FailedOutputs, AFailedBackupKeepsThePreviousOne) {
  struct Case {
    std::string settings;
    size_t read;  // the read request that fails
    std::vector<std::string> files;
  };
  for (const Case& c : {Case{"BackUpOnly=1\n", 100, {"PDFWBackup.bin", "PDFWBackupAll.bin"}},
                        Case{"FlashDumpOnly=4\n", 64, {"PDFlash1Dump.bin"}}}) {
    SCOPED_TRACE(c.settings);
    Rig good;
    ASSERT_EQ(good.Run(c.settings), 1u) << good.p.out;
    Rig r({"FailTransfer=" + Hex(uint32_t(Where(good.board.log, {kReadData}).at(c.read) + 1))});
    for (const auto& f : c.files) WriteFile(r.p.File(f), "previous " + f);
    EXPECT_EQ(r.Run(c.settings), 0u) << r.p.out;
    EXPECT_THAT(r.p.out, HasSubstr("Protection : SPI_Backup_Read_Fail.\n"));
    for (const auto& f : c.files) {
      const std::string partial = f.substr(0, f.size() - 4) + ".partial.bin";
      EXPECT_THAT(r.p.out, HasSubstr("    Partial_Data_Kept: " + partial + "\n"));
      EXPECT_EQ(ReadFile(r.p.File(f)), "previous " + f);
      EXPECT_TRUE(FileExists(r.p.File(partial)));
      EXPECT_FALSE(FileExists(r.p.File(f + ".tmp")));
    }
    // Zeros where copy 2 was never read must not pass for a valid copy.
    EXPECT_THAT(r.p.out, Not(HasSubstr("_OK ...\n")));
    EXPECT_TRUE(r.Untouched());
  }
}

#ifndef _WIN32
// A full disk: one line names the file, the previous file stays, and the exit
// code still carries the result.
TEST(FailedOutputs, FullDiskIsSaidAndLosesNothing) {
  struct Case {
    std::string settings, input, full, file;  // full: the path that cannot take data
    uint32_t result;
  };
  for (const Case& c : std::vector<Case>{
           {"OutputResult=1\nReadVerOnly=1\n", "", "Result.txt.tmp", "Result.txt", 1},
           // A progress marker takes the place of its own name.
           {"OutputProgress=1\nCleanFlashOnly=1\n", "y", "010.txt", "010.txt", 1},
           {"BackUpOnly=1\n", "", "PDFWBackupAll.bin.tmp", "PDFWBackupAll.bin", 0},
           {"FlashDumpOnly=1\n", "", "PDFlash1Dump.bin.tmp", "PDFlash1Dump.bin", 0},
           {"CreateCRC16Only=10\n", "", "ASIC_SPI_CRC.bin.tmp", "ASIC_SPI_CRC.bin", 0}}) {
    SCOPED_TRACE(c.settings);
    Rig r;
    WriteBytes(r.p.File("ASIC_SPI.bin"), Background(0x4000, 4));
    const bool marker = c.full == c.file;
    if (!marker) WriteFile(r.p.File(c.file), "previous");
    Full(r.p.File(c.full));
    EXPECT_EQ(r.Run(c.settings, {}, c.input), c.result) << r.p.out;
    EXPECT_THAT(r.p.out, HasSubstr("Protection : File_Write_Fail: " + c.file + "\n"));
    if (!marker) {
      EXPECT_EQ(ReadFile(r.p.File(c.file)), "previous");
    }
    EXPECT_THAT(r.p.out, HasSubstr("Return_Value = 0x" + Hex(c.result) + "\n"));
  }
}
#endif

// The clean flash calls the whole 256 KiB blank only when every byte is.
TEST(CleanFlash, DataPastTheFirstBytesOfASectorIsFound) {
  Rig r({"FlashStatus2=40", "FlashSize=80000"});  // a protected part ignores the erase
  std::vector<uint8_t> blank(0x80000, 0xFF);
  blank[0x1028] = 0x5A;
  r.board.Load(0, blank);
  EXPECT_EQ(r.Run("CleanFlashOnly=1\n", {}, "y"), 0u) << r.p.out;
  ExpectInOrder(r.p.out, {"  Check Empty ...\n", "Clean_Flash_001020_Not_0xFF\n",
                          "=  PD_Clean_Flash_Failed. =\n"});
}

#ifndef _WIN32
// The virtual board's state that cannot be saved is said on the standard
// error stream of the program itself.
TEST(VirtualBoard, AFailedStateSaveIsReported) {
  TempDir dir;
  std::string out, err;
  ASSERT_EQ(sim::RunPdsim({"init", dir / "board"}, out, err), 0) << err;
  fs::create_symlink(dir / "missing/state.ini", dir / "board/state.ini");
  const std::string command = "PDFLASH_SIM='" + dir / "board" + "' '" PDFLASH_BINARY_DIR
                              "/pdflash' /NOSUCH > '" + dir / "out.txt" + "' 2> '" +
                              dir / "err.txt" + "' < /dev/null";
  const int rc = std::system(command.c_str());
  EXPECT_NE(rc, -1);
  EXPECT_THAT(ReadFile(dir / "out.txt"), HasSubstr("Return_Value = 0x0\n"));
  EXPECT_THAT(ReadFile(dir / "out.txt"), Not(HasSubstr("state not saved")));
  EXPECT_EQ(ReadFile(dir / "err.txt"), "PDFLASH_SIM: state not saved: state.ini cannot be written\n");
}
#endif

}  // namespace
}  // namespace pdflash::test
