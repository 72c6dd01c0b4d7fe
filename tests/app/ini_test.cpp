#include "core/ini.h"

#include <gtest/gtest.h>

#include <string>

#include "support/harness.h"

namespace pdflash {
namespace {

using test::ToolFixture;
using test::WriteFile;

TEST(ScanHex, ReadsLikeScanfHex) {
  const std::pair<const char*, uint32_t> read[] = {
      {"10", 0x10},  {" \t0x1f", 0x1F}, {"0X10", 0x10},    {"-1", 0xFFFFFFFF},
      {"+2", 2},     {"12G4", 0x12},     {"1124", 0x1124}};
  for (const auto& [text, value] : read) {
    uint32_t v = 0;
    EXPECT_TRUE(ScanHex(text, v)) << text;
    EXPECT_EQ(v, value) << text;
  }
  uint32_t v = 0;
  for (const char* refused : {"on", "", "-"}) EXPECT_FALSE(ScanHex(refused, v)) << refused;
}

class IniReader : public ::testing::Test {
 protected:
  uint32_t Int(const char* key, uint32_t def = 0xABCD) {
    return ReadIniInt(f.t.cwd, "Config", key, def, "Setting.ini");
  }
  void File(const std::string& text) { WriteFile(f.dir / "Setting.ini", text); }
  ToolFixture f;
};

TEST_F(IniReader, EntriesAndTheirQuirks) {
  File(
      "DbgMsg=7\n"  // before the section: ignored
      "junk [Config] junk\n"
      "PD1VID =2109\n"  // blank before '=': not an entry
      "PD1PID= 0107\n"  // blank after '=': skipped by the number scan
      "  LogFile=1\n"   // leading blank: not an entry
      "DeviceNum=\n"    // nothing after '=': passed over
      "DeviceNum=10\n"
      "DeviceNum=1\n"  // the first entry wins
      "WinMsg=1124\n"
      "; a comment line is simply not an entry\n"
      "dbgmsg=5\n"  // keys are case-sensitive
      "NoDowngrade=on\n"
      "Path=C:\\fw\\a b %d.bin\n"
      "Other=1 [2]\n"  // a '[' anywhere ends the section
      "OutputResult=1\n");
  EXPECT_EQ(Int("DbgMsg"), 0xABCDu);
  EXPECT_EQ(Int("PD1VID"), 0xABCDu);
  EXPECT_EQ(Int("PD1PID"), 0x0107u);
  EXPECT_EQ(Int("LogFile"), 0xABCDu);
  EXPECT_EQ(Int("DeviceNum"), 0x10u);
  EXPECT_EQ(Int("WinMsg"), 0x1124u);
  EXPECT_EQ(Int("dbgmsg"), 5u);
  EXPECT_EQ(Int("NoDowngrade"), 0xABCDu);  // no digits: the default
  EXPECT_EQ(Int("OutputResult"), 0xABCDu);
  std::string path;
  EXPECT_EQ(ReadIniString(f.t.cwd, "Config", "Path", path, 255, "NA", "Setting.ini"), 1);
  EXPECT_EQ(path, "C:\\fw\\a b %d.bin");
  EXPECT_EQ(ReadIniString(f.t.cwd, "Config", "Missing", path, 255, "NA", "Setting.ini"), 0);
  EXPECT_EQ(path, "NA");
}

TEST_F(IniReader, LongLinesAreReadInPiecesOf199) {
  // A long line is a first piece of 199 characters and further pieces; only
  // the first can be an entry, but a '[' in any piece ends the section.
  const std::string value(245, 'a');
  File("[Config]\nKey1=" + value + "\n" + std::string(199, 'x') + "Key2=5\nKey3=6\n" +
       std::string(199, 'x') + "[x]\nKey4=7\n");
  std::string got;
  EXPECT_EQ(ReadIniString(f.t.cwd, "Config", "Key1", got, 255, "NA", "Setting.ini"), 1);
  EXPECT_EQ(got, std::string(194, 'a'));  // 199 - "Key1="
  EXPECT_EQ(Int("Key2"), 0xABCDu);        // the tail of a line
  EXPECT_EQ(Int("Key3"), 6u);
  EXPECT_EQ(Int("Key4"), 0xABCDu);
}

TEST_F(IniReader, CrLfFilesAndMissingFiles) {
  File("[Config]\r\nPD1Bin=fw.bin\r\nDbgMsg=3\r\n");
  std::string got;
  ReadIniString(f.t.cwd, "Config", "PD1Bin", got, 255, "NA", "Setting.ini");
  EXPECT_EQ(got, "fw.bin");
  EXPECT_EQ(Int("DbgMsg"), 3u);
  EXPECT_EQ(ReadIniInt(f.t.cwd, "Config", "DbgMsg", 9, "nothing.ini"), 9u);
  // Text fields are cut to their size, never overrun.
  File("[Config]\nP=" + std::string(150, 'p') + "\n");
  ReadIniString(f.t.cwd, "Config", "P", got, 100, "NA", "Setting.ini");
  EXPECT_EQ(got.size(), 99u);
}

}  // namespace
}  // namespace pdflash
