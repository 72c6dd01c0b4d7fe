#include "app/cmdline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/harness.h"

namespace pdflash {
namespace {

using test::ToolFixture;
using test::WriteFile;

struct Parsed {
  bool ok;
  std::string out;
};

Parsed Parse(ToolFixture& f, std::vector<std::string> args) {
  args.insert(args.begin(), "pdflash");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  f.console.out.clear();
  const bool ok = ParseCommandLine(f.t, static_cast<int>(argv.size()), argv.data());
  return {ok, f.console.out};
}

TEST(CommandLine, EverySwitchSelectsItsControlMode) {
  const std::pair<const char*, uint32_t> fixed[] = {
      {"/U", 0x10000},      {"/CKFW", 0x10100},   {"/F0", 0x40010},     {"/F1", 0x40001},
      {"/F2", 0x40002},     {"/F3", 0x40003},     {"/FD", 0x40040},     {"/FV", 0x40080},
      {"/FS0", 0x40210},    {"/FS1", 0x40201},    {"/FSD", 0x40240},    {"/FSV", 0x40280},
      {"/B0", 0x80010},     {"/B1", 0x80001},     {"/B2", 0x80002},     {"/B3", 0x80003},
      {"/BD", 0x80040},     {"/BV", 0x80080},     {"/BCDDEV", 0x41000}, {"/CKSN", 0x100400},
      {"/CKIPR", 0x100600}, {"/CKISN", 0x100800}, {"/CKIVR", 0x100a00}, {"/CKBCD", 0x100c00},
      {"/CLEAR", 0x100f00}, {"/RESET0", 0x400110}};
  for (const auto& [name, mode] : fixed) {
    ToolFixture f;
    const Parsed p = Parse(f, {name});
    EXPECT_TRUE(p.ok) << name;
    EXPECT_EQ(f.t.ControlMode, mode) << name;
    char line[40];
    std::snprintf(line, sizeof line, "    ControlMode=%X\r\n", mode);
    EXPECT_EQ(p.out, line) << name;
  }
  const char digits[] = "0123456789AB";
  for (uint32_t n = 0; n < 12; ++n) {
    for (bool high : {true, false}) {
      ToolFixture f;
      const std::string name = std::string("/GPIO") + digits[n] + (high ? "H" : "L");
      EXPECT_TRUE(Parse(f, {name}).ok) << name;
      EXPECT_EQ(f.t.ControlMode, 0x200001u + n * 0x1000 + (high ? 0x100u : 0u)) << name;
    }
  }
  for (const auto& [name, mode] :
       std::vector<std::pair<const char*, uint32_t>>{{"/WRSN", 0x100300},
                                                     {"/WRIPR", 0x100500},
                                                     {"/WRISN", 0x100700},
                                                     {"/WRIVR", 0x100900},
                                                     {"/WRBCD", 0x100b00}}) {
    ToolFixture f;
    EXPECT_TRUE(Parse(f, {name, "1"}).ok) << name;
    EXPECT_EQ(f.t.ControlMode, mode) << name;
  }
}

TEST(CommandLine, CaseAndExactMatch) {
  ToolFixture f;
  EXPECT_TRUE(Parse(f, {"/ckfw"}).ok);
  EXPECT_EQ(f.t.ControlMode, 0x10100u);
  for (const char* bad : {"/CKFWX", "/F", "CKFW", "/GPIOCH", ""}) {
    ToolFixture g;
    const Parsed p = Parse(g, {bad});
    EXPECT_FALSE(p.ok) << bad;
    EXPECT_EQ(p.out, "    Illegal_Parameter. ( Use_Capital )\n") << bad;
  }
  ToolFixture none;
  EXPECT_TRUE(Parse(none, {}).ok);
  EXPECT_EQ(none.console.out, "    ControlMode=0\r\n");
}

TEST(CommandLine, DeviceInformationValues) {
  ToolFixture sn;
  ASSERT_TRUE(Parse(sn, {"/WRSN", "ABC123"}).ok);
  const uint8_t expected[] = {0x41, 0, 0x42, 0, 0x43, 0, 0x31, 0, 0x32, 0, 0x33, 0, 0, 0};
  EXPECT_TRUE(std::equal(std::begin(expected), std::end(expected), sn.t.DeviceInfoArg.begin()));

  ToolFixture cut;
  ASSERT_TRUE(Parse(cut, {"/WRIPR", "AB\tCD"}).ok);
  EXPECT_EQ(cut.t.DeviceInfoArg[2], 'B');
  EXPECT_EQ(cut.t.DeviceInfoArg[4], 0);

  ToolFixture long_value;
  ASSERT_TRUE(Parse(long_value, {"/WRSN", std::string(70, 'x')}).ok);
  EXPECT_EQ(long_value.t.DeviceInfoArg[126], 'x');
  EXPECT_EQ(long_value.t.DeviceInfoArg[127], 0);

  ToolFixture bcd;
  ASSERT_TRUE(Parse(bcd, {"/WRBCD", "0123"}).ok);
  EXPECT_EQ(bcd.t.DeviceInfoArg[0], 0x01);
  EXPECT_EQ(bcd.t.DeviceInfoArg[1], 0x23);
  ToolFixture short_bcd;
  ASSERT_TRUE(Parse(short_bcd, {"/CKBCD", "12"}).ok);
  EXPECT_EQ(short_bcd.t.DeviceInfoArg[0], 0x00);
  EXPECT_EQ(short_bcd.t.DeviceInfoArg[1], 0x12);

  ToolFixture check_empty;
  EXPECT_TRUE(Parse(check_empty, {"/CKSN"}).ok);
  ToolFixture write_empty;
  const Parsed refused = Parse(write_empty, {"/WRSN"});
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(refused.out, "    Illegal_RwInfo_Parameter.\n");

  ToolFixture clear;
  ASSERT_TRUE(Parse(clear, {"/CLEAR"}).ok);
  for (uint8_t b : clear.t.DeviceInfoArg) EXPECT_EQ(b, 0xFF);
}

TEST(CommandLine, RegisterArguments) {
  ToolFixture rd;
  Parsed p = Parse(rd, {"/RDREG", "2a16"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(rd.t.RegAccessAddress, 0x2A16);
  EXPECT_EQ(p.out, "    Cmd: Read_Register_2A16\n    ControlMode=400410\r\n");

  ToolFixture rd_extra;
  p = Parse(rd_extra, {"/RDREG", "2A16", "1"});
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.out, "    Illegal_Read_Register_Parameter.\n");
  ToolFixture rd_short;
  EXPECT_FALSE(Parse(rd_short, {"/RDREG", "2A1"}).ok);
  // A character that is no hexadecimal digit would reach another register.
  ToolFixture rd_bad_digit;
  p = Parse(rd_bad_digit, {"/RDREG", "12G4"});
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.out, "    Illegal_Read_Register_Parameter.\n");

  ToolFixture wr;
  p = Parse(wr, {"/WRREG", "2A16", "1"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(wr.t.RegAccessValue, 0x01);
  EXPECT_EQ(p.out, "    Cmd: Write_Register_2A16_01\n    ControlMode=400810\r\n");
  ToolFixture wr3;
  ASSERT_TRUE(Parse(wr3, {"/WRREG", "2A16", "123"}).ok);
  EXPECT_EQ(wr3.t.RegAccessValue, 0x12);
  ToolFixture wr_missing;
  p = Parse(wr_missing, {"/WRREG", "2A16"});
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.out, "    Illegal_Write_Register_Parameter.\n");
}

TEST(CommandLine, WindowHandleFromTheSecondArgument) {
  ToolFixture f;
  const Parsed p = Parse(f, {"/CKFW", "/msgwnd:1A2B"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(f.t.out.hwnd, 0x1A2Bu);
  EXPECT_EQ(p.out, "    hWnd = 1A2B \n    ControlMode=10100\r\n");

  ToolFixture ini;
  WriteFile(ini.dir / "my.ini", "[Config]\n");
  ASSERT_TRUE(Parse(ini, {"/INI", "my.ini", "/msgwnd:1A2B"}).ok);
  EXPECT_EQ(ini.t.out.hwnd, 0u);
}

TEST(CommandLine, SettingsFileAndWorkingFolder) {
  ToolFixture f;
  WriteFile(f.dir / "board.ini", "[Config]\n");
  WriteFile(f.dir / "board.cfg", "[Config]\n");
  Parsed p = Parse(f, {"/INI", "board.ini"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(f.t.IniFile, "board.ini");
  EXPECT_EQ(p.out, "    New_INI: board.ini\n");
  EXPECT_EQ(f.t.ControlMode, 0u);

  for (const char* bad : {"board.cfg", "nothing.ini"}) {
    ToolFixture g;
    WriteFile(g.dir / "board.cfg", "[Config]\n");
    p = Parse(g, {"/INI", bad});
    EXPECT_FALSE(p.ok) << bad;
    EXPECT_EQ(p.out, "    Illegal_INI_FilePath.\n");
  }
  ToolFixture too_long;
  const std::string name = std::string(260, 'n') + ".ini";
  EXPECT_FALSE(Parse(too_long, {"/INI", name}).ok);

  ToolFixture dir;
  test::TempDir other;
  p = Parse(dir, {"/PATH", other.path()});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(dir.t.cwd, other.path());
  EXPECT_EQ(p.out, "    New_Path: " + other.path() + "\n");

  ToolFixture file;
  WriteFile(file.dir / "some.txt", "x");
  p = Parse(file, {"/PATH", "some.txt"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(file.t.cwd, file.dir.path());
  ToolFixture missing;
  p = Parse(missing, {"/PATH", "no/such/folder"});
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.out, "    Illegal_Working_Path.\n");
}

}  // namespace
}  // namespace pdflash
