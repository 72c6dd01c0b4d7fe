#include "support/harness.h"

#include <atomic>
#include <fstream>
#include <sstream>

#include "app/run.h"

namespace pdflash::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  const fs::path base = fs::temp_directory_path() / "pdflash-tests";
  fs::create_directories(base);
  for (;;) {
    std::ostringstream name;
    name << "t" << std::hex << static_cast<unsigned>(std::hash<std::string>{}(
                                   std::to_string(reinterpret_cast<uintptr_t>(this))))
         << "-" << counter++;
    const fs::path p = base / name.str();
    if (fs::create_directory(p)) {
      path_ = p.string() + "/";
      break;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream f(path, std::ios::binary);
  f << content;
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

namespace {
std::string ReadRaw(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}
}  // namespace

std::string WithLf(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
  return out;
}

std::string ReadFile(const std::string& path) {
#ifdef _WIN32
  return WithLf(ReadRaw(path));
#else
  return ReadRaw(path);
#endif
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  const std::string s = ReadRaw(path);
  return std::vector<uint8_t>(s.begin(), s.end());
}

bool FileExists(const std::string& path) { return fs::exists(path); }

bool FakeHost::PathExists(const std::string& path) {
  for (const auto& p : extra_paths)
    if (p == path) return true;
  std::error_code ec;
  return fs::exists(path, ec);
}

bool FakeHost::IsDirectory(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

ToolFixture::ToolFixture(BuildProfile build) : t(platform, build) {
  t.exe_dir = dir.path();
  t.cwd = dir.path();
  host.exe_path = dir / "pdflash";
}

Program::Program(BuildProfile b) : build(b) { host.exe_path = dir / "pdflash"; }

uint32_t Program::Run(const std::vector<std::string>& args) {
  std::vector<std::string> storage;
  storage.push_back(host.exe_path);
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  const size_t before = console.out.size();
  Platform p{console, clock, host, *bus_};
  const uint32_t result = RunPdflash(p, build, static_cast<int>(storage.size()), argv.data());
  out = console.out.substr(before);
  return result;
}

void Program::Settings(const std::string& config_lines) {
  WriteFile(dir / "Setting.ini", "[Config]\n" + config_lines);
}

std::string ExampleChallengeFile() { return ReadFile(std::string(PDFLASH_SOURCE_DIR) + "/examples/Challenge.ini"); }

}  // namespace pdflash::test
