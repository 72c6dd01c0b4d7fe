#include "app/usage.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/cmdline.h"
#include "support/harness.h"

namespace pdflash {
namespace {

using testing::HasSubstr;
using testing::StartsWith;

struct Answer {
  bool answered;
  std::string out;
  std::string first;  // the first argument as the run would see it
};

Answer Ask(std::vector<std::string> args, BuildProfile build = BuildProfile{}) {
  args.insert(args.begin(), "pdflash");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  test::CaptureConsole console;
  const bool answered =
      AnswerUsageOrVersion(console, build, static_cast<int>(argv.size()), argv.data());
  return {answered, console.out, args.size() > 1 ? args[1] : std::string()};
}

TEST(Usage, HelpAndVersionAreAnsweredWhateverFollows) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--help"}, {"-h", "/F0"}, {"--help", "x", "y"}}) {
    const Answer a = Ask(args);
    EXPECT_TRUE(a.answered) << args[0];
    EXPECT_THAT(a.out, StartsWith("Usage: pdflash [SWITCH")) << args[0];
  }
  const Answer v = Ask({"--version", "/INI"});
  EXPECT_TRUE(v.answered);
  EXPECT_TRUE(std::regex_match(v.out, std::regex("pdflash [0-9]+\\.[0-9]+\\.[0-9]+\n"
                                                 "PermissionLevel 0x10 \\(LEVEL-1\\), "
                                                 "CustomerCode 3\nUSB: [^\n]+\n")))
      << v.out;
  // The level names change at the banner's thresholds.
  const std::pair<BuildProfile, const char*> profiles[] = {
      {{0x0F, 18}, "PermissionLevel 0x0F (LEVEL-0), CustomerCode 18\n"},
      {{0x2F, 2}, "PermissionLevel 0x2F (LEVEL-2), CustomerCode 2\n"},
      {{0x30, 17}, "PermissionLevel 0x30 (LEVEL-3), CustomerCode 17\n"},
      {{0xF0, 4294967295u}, "PermissionLevel 0xF0 (LEVEL-S), CustomerCode 4294967295\n"}};
  for (const auto& [build, line] : profiles)
    EXPECT_THAT(Ask({"--version"}, build).out, HasSubstr(line));
}

// Everything else, near misses included, goes to the run untouched.
TEST(Usage, OtherArgumentsAreLeftToTheRun) {
  EXPECT_FALSE(Ask({}).answered);
  for (const char* arg : {"--HELP", "-H", "--Version", "-help", "help", "--help=1", "/H", "/?",
                          "-v", "--versions", "/F0", ""}) {
    const Answer a = Ask({arg, "--help"});
    EXPECT_FALSE(a.answered) << arg;
    EXPECT_EQ(a.out, "") << arg;
    EXPECT_EQ(a.first, arg);
  }
}

// The usage names every switch that runs something and every key that
// chooses a function, so it cannot fall behind the parser or the settings.
TEST(Usage, NamesEverySwitchAndFunctionKey) {
  std::set<std::string> words;
  std::istringstream usage(Ask({"--help"}).out);
  for (std::string w; usage >> w;) words.insert(w.substr(0, w.find_last_not_of(",)") + 1));
  const std::set<std::string> run_nothing{"/F2", "/F3", "/B2", "/B3"};
  for (size_t i = 0; i < kSwitchCount; ++i) {
    const std::string sw = kSwitches[i].name;
    if (sw.rfind("/GPIO", 0) == 0 || run_nothing.count(sw)) continue;
    EXPECT_TRUE(words.count(sw)) << sw;
  }
  for (const char* sw : {"/GPIOnH", "/GPIOnL", "/INI", "/PATH", "/msgwnd:HANDLE"})
    EXPECT_TRUE(words.count(sw)) << sw;

  std::istringstream settings(test::ReadFile(PDFLASH_SOURCE_DIR "/examples/Setting.ini"));
  int keys = 0;
  for (std::string line; std::getline(settings, line);) {
    const std::string key = line.substr(0, line.find('='));
    if (line[0] == ';' || key.size() == line.size() || !key.ends_with("Only")) continue;
    ++keys;
    EXPECT_TRUE(words.count(key)) << key;
  }
  EXPECT_GE(keys, 20);
}

}  // namespace
}  // namespace pdflash
