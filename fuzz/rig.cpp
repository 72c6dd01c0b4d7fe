#include "fuzz/rig.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "app/run.h"
#include "platform/platform.h"
#include "sim/pdsim.h"
#include "sim/sim_bus.h"
#include "sim/sim_device.h"
#include "tools/fwgen.h"

namespace pdflash::fuzz {

namespace fs = std::filesystem;

namespace {

class QuietConsole final : public Console {
 public:
  explicit QuietConsole(std::string& out) : out_(out) {}
  void Write(std::string_view text) override { out_.append(text); }
  int ReadChar() override { return -1; }

 private:
  std::string& out_;
};

// No windows, no processes, no environment: a fuzz input must not reach out.
class ScratchHost final : public Host {
 public:
  explicit ScratchHost(std::string exe) : exe_(std::move(exe)) {}
  std::string ExePath() override { return exe_; }
  bool PathExists(const std::string& path) override {
    std::error_code ec;
    return fs::exists(path, ec);
  }
  bool IsDirectory(const std::string& path) override {
    std::error_code ec;
    return fs::is_directory(path, ec);
  }
  bool PostWindowMessage(uint64_t, uint32_t, uint64_t, int64_t) override { return false; }
  bool RunHidden(const std::string&, const std::string&, uint32_t&) override { return false; }
  std::string GetEnv(const char*) override { return {}; }

 private:
  std::string exe_;
};

void Pdsim(const std::vector<std::string>& args) {
  std::string out, err;
  if (sim::RunPdsim(args, out, err) != 0) throw std::runtime_error("pdsim: " + err);
}

// The coefficients the example board's challenge answers need.
constexpr const char* kChallenge =
    "[Challenge]\nClient1=F0F0,0035,0F0F,00A7,5A3C\nClient2=FF00,0101,00FF,0303,1357\n"
    "Client3=FFFF,2F35,0000,0000,1234\nDefault=00FF,0019,FF00,0007,0BAD\n"
    "Test=FFFF,0005,0000,0000,0001\n";

}  // namespace

Rig::Rig() {
  const fs::path base =
      fs::temp_directory_path() / ("pdflash-fuzz-" + std::to_string(std::random_device{}()));
  fs::create_directories(base);
  dir_ = base.string() + "/";
  Put("Challenge.ini", kChallenge);
  fwgen::PdFirmwareParams params;
  const std::vector<uint8_t> old_fw = fwgen::MakePdFirmware(params);
  params.version = 0x0E010200;
  params.seed = 9;
  new_fw_ = fwgen::MakePdFirmware(params);
  Put("old.bin", old_fw.data(), old_fw.size());
  Pdsim({"init", Path("board")});
  Pdsim({"load", Path("board"), "20000", Path("old.bin")});
  Pdsim({"load", Path("board"), "30000", Path("old.bin")});
}

Rig::~Rig() {
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

void Rig::Put(const std::string& name, const uint8_t* data, size_t size) {
  std::ofstream f(Path(name), std::ios::binary | std::ios::trunc);
  if (size > 0) f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void Rig::Put(const std::string& name, const std::string& text) {
  Put(name, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

uint32_t Rig::Run(const std::vector<std::string>& args, const std::string& board,
                  const Inspect& inspect, BuildProfile build) {
  out.clear();
  QuietConsole console(out);
  ScratchHost host(Path("pdflash"));
  VirtualClock clock;
  sim::SimBus bus(Path(board), clock, Path("Challenge.ini"));
  bus.SetLogEnabled(false);
  std::string error;
  if (!bus.Load(error)) return 0;
  std::vector<std::string> storage{host.ExePath()};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  Platform platform{console, clock, host, bus};
  std::vector<uint8_t> before;
  if (inspect) before = bus.Device(0).Flash().Data();
  const uint32_t result = RunPdflash(platform, build, static_cast<int>(storage.size()), argv.data());
  if (inspect) inspect(bus, before);
  bus.Discard();
  return result;
}

std::vector<uint8_t> Rig::SignedImage(size_t data_size) {
  std::vector<uint8_t> data(data_size);
  for (size_t i = 0; i < data_size; ++i) data[i] = static_cast<uint8_t>(i * 13 + (i >> 9));
  Put("signed.bin", data.data(), data.size());
  Put("Setting.ini", std::string("[Config]\n") + BoardIds() +
                         "CreateECDSASignOnly=1\nSignDeviceCnt=1\nSign0Bin=signed.bin\n"
                         "Sign0BinVersion=10203\n");
  BuildProfile level_s;
  level_s.PermissionLevel = 0xF0;
  if (Run({}, "board", {}, level_s) != 1) throw std::runtime_error("signing failed:\n" + out);
  // The image is named by the day it was made.
  for (const auto& entry : fs::directory_iterator(dir_)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("ECDSAImg_", 0) != 0) continue;
    std::vector<uint8_t> image;
    {
      // Closed before the remove: Windows refuses to delete an open file.
      std::ifstream f(entry.path(), std::ios::binary);
      image.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }
    fs::remove(entry.path());
    return image;
  }
  throw std::runtime_error("signing wrote no image:\n" + out);
}

const char* Rig::BoardIds() { return "PD1VID=2109\nPD1PID=0107\nPD1RomVID=2109\nPD1RomPID=1107\n"; }

Rig& TheRig() {
  static Rig rig;
  return rig;
}

}  // namespace pdflash::fuzz
