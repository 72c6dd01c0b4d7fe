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

using test::CaptureConsole;

struct Answer {
  bool answered;
  std::string out;
  std::string arg_after;  // the first argument as the run would see it
};

Answer Ask(std::vector<std::string> args, BuildProfile build = BuildProfile{}) {
  args.insert(args.begin(), "pdflash");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  CaptureConsole console;
  const bool answered =
      AnswerUsageOrVersion(console, build, static_cast<int>(argv.size()), argv.data());
  return {answered, console.out, args.size() > 1 ? args[1] : std::string()};
}

TEST(Usage, HelpAndVersionAreAnsweredWhateverFollows) {
  for (const char* arg : {"--help", "-h"}) {
    for (const std::vector<std::string>& rest :
         {std::vector<std::string>{}, {"/F0"}, {"x", "y"}}) {
      std::vector<std::string> args{arg};
      args.insert(args.end(), rest.begin(), rest.end());
      const Answer a = Ask(args);
      EXPECT_TRUE(a.answered) << arg;
      EXPECT_THAT(a.out, testing::StartsWith("Usage: pdflash [SWITCH")) << arg;
    }
  }
  const Answer v = Ask({"--version"});
  EXPECT_TRUE(v.answered);
  EXPECT_TRUE(std::regex_match(v.out, std::regex("pdflash [0-9]+\\.[0-9]+\\.[0-9]+\n"
                                                 "PermissionLevel 0x10 \\(LEVEL-1\\), "
                                                 "CustomerCode 3\nUSB: [^\n]+\n")))
      << v.out;
}

TEST(Usage, VersionShowsTheBuildProfile) {
  const std::pair<BuildProfile, const char*> cases[] = {
      {{0x00, 18}, "PermissionLevel 0x00 (LEVEL-0), CustomerCode 18\n"},
      {{0x0F, 1}, "PermissionLevel 0x0F (LEVEL-0), CustomerCode 1\n"},
      {{0x2F, 2}, "PermissionLevel 0x2F (LEVEL-2), CustomerCode 2\n"},
      {{0x30, 17}, "PermissionLevel 0x30 (LEVEL-3), CustomerCode 17\n"},
      {{0xEF, 3}, "PermissionLevel 0xEF (LEVEL-3), CustomerCode 3\n"},
      {{0xF0, 4294967295u}, "PermissionLevel 0xF0 (LEVEL-S), CustomerCode 4294967295\n"},
  };
  for (const auto& [build, line] : cases)
    EXPECT_THAT(Ask({"--version"}, build).out, testing::HasSubstr(line)) << line;
}

// Everything else, near misses included, goes to the run untouched.
TEST(Usage, OtherArgumentsAreLeftToTheRun) {
  EXPECT_FALSE(Ask({}).answered);
  for (const char* arg : {"--HELP", "-H", "--Version", "-help", "help", "--help=1", "-hh",
                          "/H", "/?", "-v", "--versions", "/F0", "/INI", ""}) {
    const Answer a = Ask({arg, "--help"});
    EXPECT_FALSE(a.answered) << arg;
    EXPECT_EQ(a.out, "") << arg;
    EXPECT_EQ(a.arg_after, arg);
  }
}

// The usage lists every switch that runs something and every key that
// chooses a function, so it cannot fall behind the command line or the
// example settings.
TEST(Usage, NamesEverySwitchAndFunctionKey) {
  const std::string usage = Ask({"--help"}).out;
  std::set<std::string> words;
  for (std::istringstream in(usage); in;) {
    std::string w;
    in >> w;
    while (!w.empty() && (w.back() == ',' || w.back() == ')')) w.pop_back();
    words.insert(w);
  }
  for (size_t i = 0; i < kSwitchCount; ++i) {
    const std::string sw = kSwitches[i].name;
    if (sw.rfind("/GPIO", 0) == 0) continue;  // written as /GPIOnH /GPIOnL
    if (sw == "/F2" || sw == "/F3" || sw == "/B2" || sw == "/B3") continue;  // run nothing
    EXPECT_TRUE(words.count(sw)) << sw;
  }
  for (const char* sw : {"/GPIOnH", "/GPIOnL", "/INI", "/PATH", "/msgwnd:HANDLE"})
    EXPECT_TRUE(words.count(sw)) << sw;

  const std::string settings = test::ReadFile(PDFLASH_SOURCE_DIR "/examples/Setting.ini");
  std::istringstream lines(settings);
  int keys = 0;
  for (std::string line; std::getline(lines, line);) {
    const auto eq = line.find('=');
    if (line.empty() || line[0] == ';' || eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    if (key.size() < 4 || key.compare(key.size() - 4, 4, "Only") != 0) continue;
    ++keys;
    EXPECT_TRUE(words.count(key)) << key;
  }
  EXPECT_GE(keys, 20);
}

}  // namespace
}  // namespace pdflash
