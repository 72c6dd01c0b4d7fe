#include <gtest/gtest.h>

#include "app/legacy.h"
#include "support/harness.h"

namespace pdflash {
namespace {

const std::string kWarning =
    "****************************************\n"
    "*         Legacy driver exists         *\n"
    "*     Please remove legacy KMX tools   *\n"
    "****************************************\n";
const std::string kQuestion =
    "Do you want to run quick uninstall driver only now? \n'Y' to continue, others to quit. ";
const std::string kFailed =
    "Remove driver failed, please reference User Guide v0.4\n"
    "to uninstall driver from Windows Device Manager.\n\n";

TEST(LegacyDriver, WarnedAskedAndRemoved) {
  const struct {
    uint8_t mode;  // Checklibusb
    std::vector<std::string> paths;
    const char* input;
    bool starts;
    uint32_t exit_code;
    std::string out;
    const char* dir;  // where the removal ran; null: it did not
  } cases[] = {
      {1, {"D:\\SDRV\\dpinst.exe"}, "y", true, 0, kWarning, nullptr},
      {2, {"M:\\SDRV\\dpinst.exe"}, "y", true, 0, "", nullptr},  // nothing beyond drive L
      {2, {"E:\\SDRV\\dpinst.exe", "F:\\SDRV\\dpinst.exe"}, "y\n", true, 0, kWarning + kQuestion,
       "E:\\SDRV"},
      {2, {"C:\\SDRV\\dpinst.exe"}, "Y", true, 2, kWarning + kQuestion + kFailed, "C:\\SDRV"},
      {2, {"C:\\SDRV\\dpinst.exe"}, "Y", false, 0, kWarning + kQuestion + kFailed, "C:\\SDRV"},
      {2, {"C:\\SDRV\\dpinst.exe"}, "n", true, 0, kWarning + kQuestion, nullptr},
      {2, {"C:\\SDRV\\dpinst.exe"}, "", true, 0, kWarning + kQuestion, nullptr},
      {2, {"C:\\SDRV\\dpinst.exe"}, "x", true, 0, kWarning + kQuestion, nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.paths[0] + " " + c.input);
    test::ToolFixture f;
    f.t.set.Checklibusb = c.mode;
    f.host.extra_paths = c.paths;
    f.console.input = c.input;
    f.host.process_starts = c.starts;
    f.host.process_exit_code = c.exit_code;
    f.t.cwd = "/elsewhere/";  // as after "/PATH"
    CheckLegacyDriver(f.t);
    EXPECT_EQ(f.console.out, c.out);
    ASSERT_EQ(f.host.commands.size(), c.dir ? 1u : 0u);
    // A removal goes back to the program's folder.
    EXPECT_EQ(f.t.cwd, c.dir ? f.t.exe_dir : "/elsewhere/");
    if (!c.dir) continue;
    EXPECT_EQ(f.host.commands[0].first, "dpinst.exe /u Usb_2.0_Billboard.inf /s");
    EXPECT_EQ(f.host.commands[0].second, c.dir);
  }
}

}  // namespace
}  // namespace pdflash
