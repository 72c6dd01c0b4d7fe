// Test doubles of the platform and a runner for whole-program scenarios.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ops/tool.h"
#include "platform/platform.h"

namespace pdflash::test {

// A fresh directory, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // With the trailing separator.
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& content);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
// A file's text. On Windows, files the tool writes in text mode ("a", "w") get
// "\r\n" line ends; they come back with "\n" so one expectation serves both
// builds. Compare binary files with ReadBytes, which is exact everywhere.
std::string ReadFile(const std::string& path);
std::vector<uint8_t> ReadBytes(const std::string& path);
// "\r\n" made "\n" (Windows console or text-mode file output); a lone "\r",
// as in the in-place progress lines, stays.
std::string WithLf(std::string_view text);
bool FileExists(const std::string& path);

class CaptureConsole final : public Console {
 public:
  void Write(std::string_view text) override { out.append(text); }
  int ReadChar() override {
    return pos < input.size() ? static_cast<unsigned char>(input[pos++]) : -1;
  }
  std::string out;
  std::string input;  // what the user types
  size_t pos = 0;
};

struct PostedMessage {
  uint64_t hwnd;
  uint32_t msg;
  uint64_t wparam;
  int64_t lparam;
};

class FakeHost final : public Host {
 public:
  std::string ExePath() override { return exe_path; }
  bool PathExists(const std::string& path) override;
  bool IsDirectory(const std::string& path) override;
  bool PostWindowMessage(uint64_t hwnd, uint32_t msg, uint64_t wparam, int64_t lparam) override {
    posted.push_back({hwnd, msg, wparam, lparam});
    return true;
  }
  bool RunHidden(const std::string& command, const std::string& dir, uint32_t& exit_code) override {
    commands.push_back({command, dir});
    if (!process_starts) return false;
    exit_code = process_exit_code;
    return true;
  }
  std::string GetEnv(const char* name) override {
    auto it = env.find(name);
    return it == env.end() ? std::string() : it->second;
  }

  std::string exe_path;
  std::vector<std::string> extra_paths;  // paths that exist besides the real file system
  std::vector<PostedMessage> posted;
  std::vector<std::pair<std::string, std::string>> commands;
  bool process_starts = true;
  uint32_t process_exit_code = 0;
  std::map<std::string, std::string> env;
};

// A Tool for unit tests: captured console, virtual clock, its folder a temp dir.
struct ToolFixture {
  explicit ToolFixture(BuildProfile build = BuildProfile{});
  TempDir dir;
  CaptureConsole console;
  VirtualClock clock;
  FakeHost host;
  EmptyUsbBus empty_bus;
  UsbBus* bus = &empty_bus;
  Platform platform{console, clock, host, empty_bus};
  Tool t{platform, BuildProfile{}};
};

// Runs the whole program in a temp folder that plays the program's folder.
class Program {
 public:
  explicit Program(BuildProfile build = BuildProfile{});
  // Puts a bus behind the program (the virtual device); default is empty.
  void UseBus(UsbBus& bus) { bus_ = &bus; }
  uint32_t Run(const std::vector<std::string>& args = {});
  // Writes Setting.ini in the program's folder with a [Config] section.
  void Settings(const std::string& config_lines);
  std::string File(const std::string& name) const { return dir / name; }

  TempDir dir;
  CaptureConsole console;
  VirtualClock clock;
  FakeHost host;
  BuildProfile build;
  // Output of the last run only.
  std::string out;

 private:
  EmptyUsbBus empty_bus_;
  UsbBus* bus_ = &empty_bus_;
};

// The example challenge coefficients shipped with the project.
std::string ExampleChallengeFile();

}  // namespace pdflash::test
