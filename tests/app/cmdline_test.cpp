#include "app/cmdline.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/harness.h"

namespace pdflash {
namespace {

using test::ToolFixture;

struct Parsed {
  std::unique_ptr<ToolFixture> fx = std::make_unique<ToolFixture>();
  bool ok = false;
  std::string out;
  const Tool& t() const { return fx->t; }
};

// A fresh tool whose folder holds board.ini, board.cfg and some.txt.
Parsed Parse(std::vector<std::string> args) {
  Parsed p;
  for (const char* name : {"board.ini", "board.cfg", "some.txt"})
    test::WriteFile(p.fx->dir / name, "[Config]\n");
  args.insert(args.begin(), "pdflash");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  p.ok = ParseCommandLine(p.fx->t, static_cast<int>(argv.size()), argv.data());
  p.out = p.fx->console.out;
  return p;
}

std::string ModeLine(uint32_t mode) {
  char line[40];
  std::snprintf(line, sizeof line, "    ControlMode=%X\r\n", mode);
  return line;
}

TEST(CommandLine, EverySwitchSelectsItsControlMode) {
  // The writing device-information switches need a value.
  const std::pair<const char*, uint32_t> fixed[] = {
      {"/U", 0x10000},      {"/CKFW", 0x10100},   {"/F0", 0x40010},     {"/F1", 0x40001},
      {"/F2", 0x40002},     {"/F3", 0x40003},     {"/FD", 0x40040},     {"/FV", 0x40080},
      {"/FS0", 0x40210},    {"/FS1", 0x40201},    {"/FSD", 0x40240},    {"/FSV", 0x40280},
      {"/B0", 0x80010},     {"/B1", 0x80001},     {"/B2", 0x80002},     {"/B3", 0x80003},
      {"/BD", 0x80040},     {"/BV", 0x80080},     {"/BCDDEV", 0x41000}, {"/CKSN", 0x100400},
      {"/CKIPR", 0x100600}, {"/CKISN", 0x100800}, {"/CKIVR", 0x100a00}, {"/CKBCD", 0x100c00},
      {"/CLEAR", 0x100f00}, {"/RESET0", 0x400110}, {"/WRSN", 0x100300}, {"/WRIPR", 0x100500},
      {"/WRISN", 0x100700}, {"/WRIVR", 0x100900}, {"/WRBCD", 0x100b00}, {"/ckfw", 0x10100}};
  for (const auto& [name, mode] : fixed) {
    const bool value = std::string(name).rfind("/WR", 0) == 0;
    const Parsed p = value ? Parse({name, "1"}) : Parse({name});
    EXPECT_TRUE(p.ok) << name;
    EXPECT_EQ(p.t().ControlMode, mode) << name;
    EXPECT_EQ(p.out, ModeLine(mode)) << name;
  }
  const char digits[] = "0123456789AB";
  for (uint32_t n = 0; n < 12; ++n)
    for (bool high : {true, false}) {
      const std::string name = std::string("/GPIO") + digits[n] + (high ? "H" : "L");
      const Parsed p = Parse({name});
      EXPECT_TRUE(p.ok) << name;
      EXPECT_EQ(p.t().ControlMode, 0x200001u + n * 0x1000 + (high ? 0x100u : 0u)) << name;
    }
  EXPECT_EQ(Parse({}).out, ModeLine(0));
}

TEST(CommandLine, RefusalsSayWhy) {
  const std::string illegal = "    Illegal_Parameter. ( Use_Capital )\n",
                    rd = "    Illegal_Read_Register_Parameter.\n",
                    wr = "    Illegal_Write_Register_Parameter.\n",
                    ini = "    Illegal_INI_FilePath.\n";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"/CKFWX"}, illegal}, {{"/F"}, illegal}, {{"CKFW"}, illegal}, {{"/GPIOCH"}, illegal},
      {{""}, illegal}, {{"/WRSN"}, "    Illegal_RwInfo_Parameter.\n"},
      {{"/RDREG", "2A16", "1"}, rd}, {{"/RDREG", "2A1"}, rd},
      // A character that is no hexadecimal digit would reach another register.
      {{"/RDREG", "12G4"}, rd}, {{"/WRREG", "2A16"}, wr}, {{"/INI", "board.cfg"}, ini},
      {{"/INI", "nothing.ini"}, ini}, {{"/INI", std::string(260, 'n') + ".ini"}, ini},
      {{"/PATH", "no/such/folder"}, "    Illegal_Working_Path.\n"}};
  for (const auto& [args, line] : cases) {
    const Parsed p = Parse(args);
    EXPECT_FALSE(p.ok) << args[0];
    EXPECT_EQ(p.out, line) << args[0];
  }
}

TEST(CommandLine, DeviceInformationValues) {
  using B = std::vector<uint8_t>;
  const std::tuple<std::vector<std::string>, size_t, B> cases[] = {
      {{"/WRSN", "ABC123"}, 0, {0x41, 0, 0x42, 0, 0x43, 0, 0x31, 0, 0x32, 0, 0x33, 0, 0, 0}},
      {{"/WRIPR", "AB\tCD"}, 2, {'B', 0, 0}},  // cut at the first unprintable
      {{"/WRSN", std::string(70, 'x')}, 126, {'x', 0}},
      {{"/WRBCD", "0123"}, 0, {0x01, 0x23}},
      {{"/CKBCD", "12"}, 0, {0x00, 0x12}},
      {{"/CKSN"}, 0, B(128, 0)},
      {{"/CLEAR"}, 0, B(128, 0xFF)}};
  for (const auto& [args, at, bytes] : cases) {
    const Parsed p = Parse(args);
    ASSERT_TRUE(p.ok) << args.back();
    EXPECT_EQ(B(p.t().DeviceInfoArg.begin() + at, p.t().DeviceInfoArg.begin() + at + bytes.size()),
              bytes)
        << args.back();
  }
}

TEST(CommandLine, RegisterWindowSettingsAndPathArguments) {
  Parsed p = Parse({"/RDREG", "2a16"});
  EXPECT_EQ(p.t().RegAccessAddress, 0x2A16);
  EXPECT_EQ(p.out, "    Cmd: Read_Register_2A16\n" + ModeLine(0x400410));
  p = Parse({"/WRREG", "2A16", "1"});
  EXPECT_EQ(p.t().RegAccessValue, 0x01);
  EXPECT_EQ(p.out, "    Cmd: Write_Register_2A16_01\n" + ModeLine(0x400810));
  EXPECT_EQ(Parse({"/WRREG", "2A16", "123"}).t().RegAccessValue, 0x12);

  p = Parse({"/CKFW", "/msgwnd:1A2B"});
  EXPECT_EQ(p.t().out.hwnd, 0x1A2Bu);
  EXPECT_EQ(p.out, "    hWnd = 1A2B \n" + ModeLine(0x10100));
  p = Parse({"/INI", "board.ini", "/msgwnd:1A2B"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.t().out.hwnd, 0u);
  EXPECT_EQ(p.t().IniFile, "board.ini");
  EXPECT_EQ(p.t().ControlMode, 0u);
  EXPECT_EQ(p.out, "    New_INI: board.ini\n");

  test::TempDir other;
  p = Parse({"/PATH", other.path()});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.t().cwd, other.path());
  EXPECT_EQ(p.out, "    New_Path: " + other.path() + "\n");
  p = Parse({"/PATH", "some.txt"});  // a file: accepted, nothing changes
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.t().cwd, p.fx->dir.path());
}

}  // namespace
}  // namespace pdflash
