#include "core/output.h"

#include <gtest/gtest.h>

#include "support/harness.h"

namespace pdflash {
namespace {

using test::FileExists;
using test::ReadFile;
using test::ToolFixture;

TEST(LogPrint, ChoosesTheLogFileAndAppends) {
  struct Case {
    uint8_t setting;
    const char* file;
  } cases[] = {{1, "pddebug.log"}, {4, "pddebug.log"}, {2, "pddebug2.log"}, {3, "pddebug3.log"}};
  for (const auto& c : cases) {
    ToolFixture f;
    f.t.set.LogFile = c.setting;
    LogPrint(f.t.out, "\r    Writing...%02d%%", 50);
    LogPrint(f.t.out, "line %s\n", "two");
    EXPECT_EQ(f.console.out, "\r    Writing...50%line two\n");
    EXPECT_EQ(ReadFile(f.dir / c.file), f.console.out) << c.file;
  }
  ToolFixture none;  // no log file; a message is cut at 499 characters
  LogPrint(none.t.out, "%s", std::string(600, 'z').c_str());
  EXPECT_EQ(none.console.out, std::string(499, 'z'));
  EXPECT_FALSE(FileExists(none.dir / "pddebug.log"));
}

TEST(FormatText, RefusesWhatDoesNotFit) {
  char buf[8];
  EXPECT_EQ(FormatText(buf, sizeof buf, "%03d.txt", 50), 7);
  EXPECT_STREQ(buf, "050.txt");
  EXPECT_EQ(FormatText(buf, sizeof buf, "%03d.txt", 1000), -1);
  EXPECT_STREQ(buf, "");
}

TEST(ReportProgress, LineMessageAndMarkerFile) {
  ToolFixture f;
  f.t.set.OutputProgress = 7;
  f.t.out.hwnd = 0x1A2B;
  f.t.out.ProgressTotal = 200;
  ReportProgress(f.t.out, 50);
  EXPECT_EQ(f.console.out, "Progress = 025\n");
  ASSERT_EQ(f.host.posted.size(), 1u);
  EXPECT_EQ(f.host.posted[0].hwnd, 0x1A2Bu);
  EXPECT_EQ(f.host.posted[0].msg, 0x464u);
  EXPECT_EQ(f.host.posted[0].lparam, 25);
  EXPECT_EQ(ReadFile(f.dir / "025.txt"), "025.txt");
  ReportProgress(f.t.out, 50);  // append mode
  EXPECT_EQ(ReadFile(f.dir / "025.txt"), "025.txt025.txt");

  ReportProgress(f.t.out, 300);
  EXPECT_EQ(f.console.out, "Progress = 025\nProgress = 025\nProgress = 150\n");
  EXPECT_TRUE(FileExists(f.dir / "150.txt"));
}

TEST(ReportProgress, SilentWithoutWindowOrTotal) {
  ToolFixture f;
  f.t.set.OutputProgress = 4;  // window only, but no "/msgwnd:"
  ReportProgress(f.t.out, 100);
  EXPECT_EQ(f.console.out, "");
  EXPECT_TRUE(f.host.posted.empty());
  f.t.set.OutputProgress = 3;
  f.t.out.ProgressTotal = 0;
  ReportProgress(f.t.out, 100);
  EXPECT_EQ(f.console.out, "");
  f.t.out.ProgressTotal = 100;
  AddProgress(f.t.out, 10);
  AddProgress(f.t.out, 15);
  EXPECT_EQ(f.t.out.ProgressCounter, 25u);
  EXPECT_EQ(f.console.out, "Progress = 010\nProgress = 025\n");
}

TEST(HexDump, GroupsOfEightBytes) {
  ToolFixture f;
  uint8_t b[32];
  for (int i = 0; i < 32; ++i) b[i] = static_cast<uint8_t>(i);
  HexDump(f.t.out, b, 32);
  EXPECT_EQ(f.console.out,
            " = 0001020304050607-08090a0b0c0d0e0f-1011121314151617-18191a1b1c1d1e1f\n");
  f.console.out.clear();
  HexDump(f.t.out, b, 8);
  HexDump(f.t.out, b, 20);
  EXPECT_EQ(f.console.out, " = 0001020304050607\n  Output_Length_Error\n");
}

TEST(UseTime, MinutesAndSecondsOfTheTimeOfDay) {
  ToolFixture f;
  const uint32_t start = TimeOfDaySeconds(f.t.out);
  f.clock.SleepMs(125 * 1000);
  PrintUseTime(f.t.out, start);
  EXPECT_EQ(f.console.out, "    Use_Time = 2m 5s\n");
}

}  // namespace
}  // namespace pdflash
