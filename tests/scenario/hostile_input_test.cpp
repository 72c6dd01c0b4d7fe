// Settings, switches and files as a careless or hostile user gives them, and
// outputs that cannot be written: refused before any device work, or said,
// and never a good file replaced by a bad one.
#include <sys/stat.h>

#include <cstdlib>
#include <functional>

#include "scenario/scenario_support.h"
#include "sim/pdsim.h"

namespace pdflash::test {
namespace {

namespace fs = std::filesystem;
using Setup = std::function<void(Rig&)>;

struct Case {
  std::string name, settings;  // ahead of the board's IDs and PD1Bin=new.bin
  std::vector<std::string> args;
  Setup setup;
  uint32_t result;
  std::vector<std::string> lines;  // in this order
  bool device = false;             // any transfer at all
  std::string input = "", keep = "";  // keep: a file that must still hold "previous"
};

Case Refused(const std::string& entry) {
  return {entry, entry + "\n", {}, {}, 0,
          {"Protection : Setting_Value_Out_Of_Range: " + entry + "\n", "Setting File Error, Exit\n"}};
}
Case RegisterTypo(const std::vector<std::string>& args, const char* line) {
  return {args[1], "RWRegEnable=1\n", args, {}, 0, {line, "    Get_Control_Mode_Input_Fail"}};
}
Setup File(const std::string& name, const std::vector<uint8_t>& bytes) {
  return [=](Rig& r) { WriteBytes(r.p.File(name), bytes); };
}
Setup Protected(std::vector<uint8_t> data = {}) {  // the part ignores the erase
  return [=](Rig& r) {
    r.board.Init({"FlashStatus2=40"});
    if (!data.empty()) r.board.Load(0x1028, data);
  };
}
#ifndef _WIN32
Setup NotAFile(const std::string& name, bool fifo) {
  return [=](Rig& r) {
    fs::remove(r.p.File(name));
    fifo ? (void)mkfifo(r.p.File(name).c_str(), 0600) : (void)fs::create_directory(r.p.File(name));
  };
}
// "previous" in `file`; the write goes to a device that is always full.
Setup Full(const std::string& file, const std::string& path, Setup more = {}) {
  return [=](Rig& r) {
    if (more) more(r);
    if (!file.empty()) WriteFile(r.p.File(file), "previous");
    fs::create_symlink("/dev/full", r.p.File(path));
  };
}
#endif

std::vector<Case> Cases() {
  fwgen::PdFirmwareParams foreign;
  foreign.vid = 0x1234;
  const auto huge = [](Rig& r) { fs::resize_file(r.p.File("new.bin"), (1ull << 32) + 0x8000); };
  std::vector<Case> v = {
      // Cut to 8 bits, 100 would be 0: an update instead of a dump.
      Refused("FlashDumpOnly=100"), Refused("DeviceNum=101"), Refused("PD1VID=FFFFFFFF2109"),
      Refused("PD1PID=-FEF9"), Refused("Copy9Len= -1"),
      {"fits", "FlashDumpOnly=0000000004\nDbgMsg=-0\nWinMsg=0xFFFFFFFF\n", {}, {}, 1,
       {"=    PD_Flash1_Dump_OK.   =\n"}, true},
      // The tail of a long line is no entry: the foreign file stays checked.
      {"long_line", std::string(199, '-') + "SkipCheckBin=1\n", {},
       File("new.bin", Firmware(0x8000, 0x0D010100)), 0, {"Protection: Bin_Not_Match:"}, true},
      RegisterTypo({"/WRREG", "2A1G", "5A"}, "    Illegal_Write_Register_Parameter.\n"),
      RegisterTypo({"/WRREG", "2A16", "G5"}, "    Illegal_Write_Register_Parameter.\n"),
      RegisterTypo({"/RDREG", "ZZZZ"}, "    Illegal_Read_Register_Parameter.\n"),
      {"4GiB", "", {}, huge, 0, {"Protection : PDFW_Size_4194336K_Over.\n"}, true},
      // "/CKFW" has no answer for a file its reader rejects (zeros pass the
      // identity rule, but hold no image).
      {"ckfw_empty", "", {"/CKFW"}, File("new.bin", {}), 0,
       {"=    PD[1] Bin Version is 00.00.00.00   =\n", "Return_Value = 0x0\n"}, true},
      {"ckfw_foreign", "", {"/CKFW"}, File("new.bin", fwgen::MakePdFirmware(foreign)), 0,
       {"    PD_Bin_VID = 1234/0000\n", "Return_Value = 0x0\n"}, true},
      {"clean_flash", "CleanFlashOnly=1\n", {}, Protected({0x5A}), 0,
       {"Clean_Flash_001020_Not_0xFF\n", "=  PD_Clean_Flash_Failed. =\n"}, true, "y"}};
#ifndef _WIN32
  const std::string open_fail = "Protection : FW_Open_Fail: x\n";
  const std::vector<Case> posix = {
      {"pd_fifo", "PD1Bin=x\n", {}, NotAFile("x", true), 0, {open_fail}},
      {"dp_directory", "PDDPShareSPI=1\nDP1Bin=x\n", {}, NotAFile("x", false), 0, {open_fail}},
      {"settings_fifo", "", {}, NotAFile("Setting.ini", true), 0,
       {"Protection : Setting_File_Open_Fail: Setting.ini (not a regular file)\n"}},
      {"text_fifo", "FuncTestOnly=1\nTextFilePath=x\n", {}, NotAFile("x", true), 0,
       {"  Text File Open Error!\n"}},
      {"text_directory", "FuncTestOnly=2\nTextFilePath=x\n", {}, NotAFile("x", false), 0,
       {"  Text File Open Error!\n"}},
      {"full_result", "OutputResult=1\nReadVerOnly=1\n", {}, Full("Result.txt", "Result.txt.tmp"), 1,
       {"Return_Value = 0x1\n", "Protection : File_Write_Fail: Result.txt\n"}, true, "", "Result.txt"},
      {"full_marker", "OutputProgress=1\nCleanFlashOnly=1\n", {}, Full("", "010.txt", Protected()), 1,
       {"Protection : File_Write_Fail: 010.txt\n", "=   PD_Clean_Flash_Done.  =\n"}, true, "y"},
      {"full_backup", "BackUpOnly=1\n", {}, Full("PDFWBackupAll.bin", "PDFWBackupAll.bin.tmp"), 0,
       {"Protection : File_Write_Fail: PDFWBackupAll.bin\n", "=    PD_FW_Backup_FAIL.   =\n"}, true,
       "", "PDFWBackupAll.bin"},
      {"full_image", "CreateCRC16Only=10\n", {},
       Full("ASIC_SPI_CRC.bin", "ASIC_SPI_CRC.bin.tmp", File("ASIC_SPI.bin", Background(0x4000))), 0,
       {"Protection : File_Write_Fail: ASIC_SPI_CRC.bin\n"}, false, "", "ASIC_SPI_CRC.bin"}};
  v.insert(v.end(), posix.begin(), posix.end());
#endif
  return v;
}

TEST(Hostile, RefusedSaidAndNothingLost) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    Rig r;
    WriteBytes(r.p.File("new.bin"), Firmware(0xC800, 0x0E010200));
    r.p.Settings(c.settings + kBoardIds + "PD1Bin=new.bin\n");
    if (c.setup) c.setup(r);
    const auto before = r.board.Flash();
    r.p.console.input = c.input;
    EXPECT_EQ(r.board.Run(c.args), c.result) << r.p.out;
    for (size_t i = 0, at = 0; i < c.lines.size() && at != std::string::npos; ++i)
      EXPECT_NE(at = r.p.out.find(c.lines[i], at), std::string::npos) << c.lines[i] << r.p.out;
    EXPECT_EQ(!r.board.log.empty(), c.device);
    EXPECT_TRUE(r.board.Flash() == before);
    EXPECT_TRUE(c.keep.empty() || ReadFile(r.p.File(c.keep)) == "previous");
  }
}

#ifndef _WIN32
// Cut at 259 characters, the tool path would name a parent folder, run its
// settings and write its Result.txt.
TEST(Hostile, ALongToolPathIsNeverCut) {
  Program p;
  const std::string deep = p.dir.path() + std::string(100, 'a') + "/" + std::string(100, 'b') + "/" +
                           std::string(100, 'c') + "/";
  fs::create_directories(deep);
  p.host.exe_path = deep + "pdflash";
  const std::string cut = p.host.exe_path.substr(0, 259), parent = cut.substr(0, cut.rfind('/') + 1);
  WriteFile(deep + "Setting.ini", "[Config]\nOutputResult=1\nReturnZeroAsOK=1\nSetBinFlagOnly=1\n");
  WriteFile(parent + "Setting.ini", "[Config]\nOutputResult=1\n");
  EXPECT_EQ(p.Run(), 1u) << p.out;
  EXPECT_THAT(p.out, HasSubstr("ToolPath   = " + p.host.exe_path + "\nWorkingDir = " + deep + "\n"));
  EXPECT_EQ(ReadFile(deep + "Result.txt"), "0x00000001");
  EXPECT_FALSE(FileExists(parent + "Result.txt"));
}

// A board state that could not be saved is said on the program's standard
// error, apart from the lines a controlling application reads.
TEST(Hostile, AFailedStateSaveIsReported) {
  TempDir dir;
  std::string out, err;
  ASSERT_EQ(sim::RunPdsim({"init", dir / "board"}, out, err), 0) << err;
  fs::create_symlink(dir / "missing/state.ini", dir / "board/state.ini");
  const std::string command = "PDFLASH_SIM='" + dir / "board" + "' '" PDFLASH_BINARY_DIR
                              "/pdflash' /NOSUCH >'" + dir / "out" + "' 2>'" + dir / "err" + "'";
  EXPECT_NE(std::system(command.c_str()), -1);
  EXPECT_THAT(ReadFile(dir / "out"), HasSubstr("Return_Value = 0x0\n"));
  EXPECT_EQ(ReadFile(dir / "err"), "PDFLASH_SIM: state not saved: state.ini cannot be written\n");
}
#endif

}  // namespace
}  // namespace pdflash::test
