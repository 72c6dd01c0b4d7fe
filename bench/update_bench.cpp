// Whole update of a 64 KiB image against the virtual device on the real
// clock: wall time and host CPU time next to the floor, the time the
// protocol itself makes the tool wait (request pacing, post-delays, polls,
// fixed sleeps). The floor comes from the same update on the virtual clock,
// where time passes only through those waits. The gaps before requests come
// from the virtual device's transfer log; the clock's own waits are measured
// alone as well.
//
//   pdflash_bench_update [--repeat N] [--virtual-only]
//
// Targets: host CPU at most 10 % of wall, wall at most 1.02 x the floor, no
// gap before a request under 1000 us.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/run.h"
#include "image/checksum.h"
#include "sim/pdsim.h"
#include "sim/sim_bus.h"
#include "tools/fwgen.h"

namespace fs = std::filesystem;
using namespace pdflash;

namespace {

constexpr uint32_t kImageSize = 0x10000;

// Output is kept, not shown: the figures are what this program prints.
class QuietConsole final : public Console {
 public:
  void Write(std::string_view text) override { out.append(text); }
  int ReadChar() override { return -1; }
  std::string out;
};

// The tool's folder is the bench folder, where its settings file lies.
class BenchHost final : public Host {
 public:
  explicit BenchHost(std::string exe) : exe_(std::move(exe)) {}
  std::string ExePath() override { return exe_; }
  bool PathExists(const std::string& path) override { return fs::exists(path); }
  bool IsDirectory(const std::string& path) override { return fs::is_directory(path); }
  bool PostWindowMessage(uint64_t, uint32_t, uint64_t, int64_t) override { return false; }
  bool RunHidden(const std::string&, const std::string&, uint32_t&) override { return false; }
  std::string GetEnv(const char*) override { return {}; }

 private:
  std::string exe_;
};

void Pdsim(const std::vector<std::string>& args) {
  std::string out, err;
  if (sim::RunPdsim(args, out, err) != 0) throw std::runtime_error(err);
}

void WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path.string());
}

std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Gaps between the starts of consecutive requests to one device, in us.
std::vector<uint64_t> RequestGaps(const std::vector<sim::TransferRecord>& log) {
  std::vector<uint64_t> gaps;
  for (size_t i = 1; i < log.size(); ++i)
    if (log[i].device == log[i - 1].device) gaps.push_back(log[i].time_us - log[i - 1].time_us);
  std::sort(gaps.begin(), gaps.end());
  return gaps;
}

uint64_t Quantile(const std::vector<uint64_t>& sorted, double q) {
  if (sorted.empty()) return 0;
  return sorted[static_cast<size_t>(q * static_cast<double>(sorted.size() - 1))];
}

// The clock alone: many waits of one length, how far past the deadline each
// returned and what the waiting cost in CPU.
void ClockAlone(int32_t us, int count) {
  RealClock clock;
  std::vector<uint64_t> over;
  const std::clock_t cpu0 = std::clock();
  const auto wall0 = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    clock.BusyWaitUs(us);
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::steady_clock::now() - t0)
                        .count();
    over.push_back(static_cast<uint64_t>(std::max<int64_t>(0, ns - int64_t{us} * 1000)));
  }
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
  const double cpu = static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC;
  std::sort(over.begin(), over.end());
  std::printf("  clock alone, %d x %d us: CPU %5.1f %% of wall, past the deadline p50 %.1f us, "
              "p99 %.1f us, max %.1f us\n",
              count, us, 100.0 * cpu / wall, Quantile(over, 0.5) / 1e3, Quantile(over, 0.99) / 1e3,
              over.back() / 1e3);
}

struct Bench {
  fs::path dir;
  fs::path board;
  std::vector<uint8_t> old_fw, new_fw;

  // A board with identity FF / 35 96 (chip 0x0108, 64 KiB images) holding
  // the older firmware in both copies, in application firmware.
  void ResetBoard() const {
    fs::remove_all(board);
    Pdsim({"init", board.string(), "Identity=FF", "ExtIdHigh=35", "ExtIdLow=96"});
    WriteBytes(dir / "old.bin", old_fw);
    Pdsim({"load", board.string(), "20000", (dir / "old.bin").string()});
    Pdsim({"load", board.string(), "30000", (dir / "old.bin").string()});
  }

  struct Run {
    uint32_t result = 0;
    double wall_s = 0, cpu_s = 0;
    std::vector<sim::TransferRecord> log;
    std::string out;
    bool flash_ok = false;
  };

  Run Update(Clock& clock, bool keep_log) const {
    ResetBoard();
    QuietConsole console;
    BenchHost host((dir / "pdflash").string());
    sim::SimBus bus(board.string(), clock, (dir / "Challenge.ini").string());
    std::string error;
    if (!bus.Load(error)) throw std::runtime_error(error);
    bus.SetLogEnabled(keep_log);
    Platform platform{console, clock, host, bus};
    std::string exe = host.ExePath();
    char* argv[] = {exe.data(), nullptr};

    Run r;
    const auto wall0 = std::chrono::steady_clock::now();
    const std::clock_t cpu0 = std::clock();
    r.result = RunPdflash(platform, BuildProfile{}, 1, argv);
    r.cpu_s = static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC;
    r.wall_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    r.log = bus.Log();
    r.out = console.out;
    if (!bus.Save(error)) throw std::runtime_error(error);
    const auto flash = ReadBytes(board / "flash.bin");
    r.flash_ok = flash.size() >= 0x40000 &&
                 std::equal(new_fw.begin(), new_fw.end(), flash.begin() + 0x20000) &&
                 std::equal(new_fw.begin(), new_fw.end(), flash.begin() + 0x30000);
    return r;
  }
};

}  // namespace

int main(int argc, char** argv) {
  int repeat = 1;
  bool virtual_only = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--repeat" && i + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--virtual-only") {
      virtual_only = true;
    } else {
      std::fprintf(stderr, "usage: %s [--repeat N] [--virtual-only]\n", argv[0]);
      return 2;
    }
  }

  Bench b;
  b.dir = fs::temp_directory_path() / ("pdflash-bench-" + std::to_string(std::random_device{}()));
  fs::create_directories(b.dir);
  b.board = b.dir / "board";
  fwgen::PdFirmwareParams params;
  params.size = kImageSize;
  params.version = 0xA1010100;
  b.old_fw = fwgen::MakePdFirmware(params);
  params.version = 0xA1010200;
  params.seed = 9;
  b.new_fw = fwgen::MakePdFirmware(params);
  WriteBytes(b.dir / "new.bin", b.new_fw);
  {
    std::ofstream s(b.dir / "Setting.ini");
    s << "[Config]\nPD1VID=2109\nPD1PID=0107\nPD1RomVID=2109\nPD1RomPID=1107\nPD1Bin=new.bin\n";
  }

  int status = 0;
  try {
    // The floor: on the virtual clock only the tool's waits let time pass.
    VirtualClock vclock;
    const Bench::Run v = b.Update(vclock, true);
    if (v.result != 1 || !v.flash_ok) {
      std::fprintf(stderr, "virtual-clock update failed:\n%s", v.out.c_str());
      return 1;
    }
    size_t programs = 0, status_writes = 0;
    for (const auto& t : v.log) {
      if (t.setup.bRequest == 0xDC) ++programs;
      if (t.setup.bRequest == 0xD8) ++status_writes;
    }
    const double floor_s = vclock.NowUs() / 1e6;
    const double pacing_s = v.log.size() * 1e-3;
    const double post_s = programs * 5e-3 + status_writes * 0.1;
    std::printf("64 KiB PD update against the virtual device\n");
    std::printf("  transfers                 %zu (%zu programs, %zu status writes)\n", v.log.size(),
                programs, status_writes);
    std::printf("  floor (required waits)    %8.3f s\n", floor_s);
    std::printf("    pacing 1 ms/request     %8.3f s\n", pacing_s);
    std::printf("    post-delays             %8.3f s\n", post_s);
    std::printf("    polls and fixed sleeps  %8.3f s  (slept %.3f s, spun %.3f s in all)\n",
                floor_s - pacing_s - post_s, vclock.SleptUs() / 1e6, vclock.SpunUs() / 1e6);
    std::printf("  host CPU without waits    %8.3f s  (the same update on the virtual clock)\n",
                v.cpu_s);

    if (!virtual_only) {
      ClockAlone(1000, 2000);
      ClockAlone(5000, 400);
      for (int i = 0; i < repeat; ++i) {
        RealClock clock;
        const Bench::Run r = b.Update(clock, true);
        if (r.result != 1 || !r.flash_ok) {
          std::fprintf(stderr, "real-clock update failed:\n%s", r.out.c_str());
          status = 1;
          break;
        }
        const std::vector<uint64_t> gaps = RequestGaps(r.log);
        const size_t short_gaps = static_cast<size_t>(
            std::lower_bound(gaps.begin(), gaps.end(), 1000) - gaps.begin());
        const double cpu_share = 100.0 * r.cpu_s / r.wall_s;
        const double ratio = r.wall_s / floor_s;
        std::printf("  real clock, run %d:\n", i + 1);
        std::printf("    wall                    %8.3f s  = %.4f x the floor (target <= 1.02)%s\n",
                    r.wall_s, ratio, ratio <= 1.02 ? "" : "  MISSED");
        std::printf("    host CPU                %8.3f s  = %.1f %% of wall (target <= 10 %%)%s\n",
                    r.cpu_s, cpu_share, cpu_share <= 10.0 ? "" : "  MISSED");
        std::printf("    gaps before requests    min %llu us, p50 %llu us, p99 %llu us, max %llu us; "
                    "%zu of %zu under 1000 us%s\n",
                    static_cast<unsigned long long>(gaps.empty() ? 0 : gaps.front()),
                    static_cast<unsigned long long>(Quantile(gaps, 0.5)),
                    static_cast<unsigned long long>(Quantile(gaps, 0.99)),
                    static_cast<unsigned long long>(gaps.empty() ? 0 : gaps.back()), short_gaps,
                    gaps.size(), short_gaps == 0 ? "" : "  MISSED");
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench: %s\n", e.what());
    status = 1;
  }
  std::error_code ec;
  fs::remove_all(b.dir, ec);
  return status;
}
