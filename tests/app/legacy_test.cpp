#include <gtest/gtest.h>

#include "app/legacy.h"
#include "support/harness.h"

namespace pdflash {
namespace {

using test::ToolFixture;

constexpr const char* kWarning =
    "****************************************\n"
    "*         Legacy driver exists         *\n"
    "*     Please remove legacy KMX tools   *\n"
    "****************************************\n";
constexpr const char* kQuestion =
    "Do you want to run quick uninstall driver only now? \n'Y' to continue, others to quit. ";
constexpr const char* kFailed =
    "Remove driver failed, please reference User Guide v0.4\n"
    "to uninstall driver from Windows Device Manager.\n\n";

TEST(LegacyDriver, WarnsOnlyWithoutRemovalMode) {
  ToolFixture f;
  f.t.set.Checklibusb = 1;
  f.host.extra_paths = {"D:\\SDRV\\dpinst.exe"};
  CheckLegacyDriver(f.t);
  EXPECT_EQ(f.console.out, kWarning);
  EXPECT_TRUE(f.host.commands.empty());
}

TEST(LegacyDriver, NothingBeyondDriveL) {
  ToolFixture f;
  f.t.set.Checklibusb = 2;
  f.host.extra_paths = {"M:\\SDRV\\dpinst.exe"};
  CheckLegacyDriver(f.t);
  EXPECT_EQ(f.console.out, "");
}

TEST(LegacyDriver, RemovalAskedAndRun) {
  ToolFixture yes;
  yes.t.set.Checklibusb = 2;
  yes.host.extra_paths = {"E:\\SDRV\\dpinst.exe", "F:\\SDRV\\dpinst.exe"};
  yes.console.input = "y\n";
  yes.t.cwd = "/elsewhere/";  // as after "/PATH"
  CheckLegacyDriver(yes.t);
  EXPECT_EQ(yes.console.out, std::string(kWarning) + kQuestion);
  ASSERT_EQ(yes.host.commands.size(), 1u);
  EXPECT_EQ(yes.host.commands[0].first, "dpinst.exe /u Usb_2.0_Billboard.inf /s");
  EXPECT_EQ(yes.host.commands[0].second, "E:\\SDRV");
  EXPECT_EQ(yes.t.cwd, yes.t.exe_dir);

  ToolFixture fails;
  fails.t.set.Checklibusb = 2;
  fails.host.extra_paths = {"C:\\SDRV\\dpinst.exe"};
  fails.console.input = "Y";
  fails.host.process_exit_code = 2;
  CheckLegacyDriver(fails.t);
  EXPECT_EQ(fails.console.out, std::string(kWarning) + kQuestion + kFailed);

  ToolFixture no_start;
  no_start.t.set.Checklibusb = 2;
  no_start.host.extra_paths = {"C:\\SDRV\\dpinst.exe"};
  no_start.console.input = "Y";
  no_start.host.process_starts = false;
  CheckLegacyDriver(no_start.t);
  EXPECT_EQ(no_start.console.out, std::string(kWarning) + kQuestion + kFailed);

  for (const char* answer : {"n", "", "x"}) {
    ToolFixture no;
    no.t.set.Checklibusb = 2;
    no.host.extra_paths = {"C:\\SDRV\\dpinst.exe"};
    no.console.input = answer;
    no.t.cwd = "/elsewhere/";
    CheckLegacyDriver(no.t);
    EXPECT_TRUE(no.host.commands.empty()) << answer;
    EXPECT_EQ(no.t.cwd, "/elsewhere/");
  }
}

}  // namespace
}  // namespace pdflash
