#include <cstdio>
#include <memory>

#include "app/profile.h"
#include "app/run.h"
#include "app/usage.h"
#include "sim/sim_bus.h"

using namespace pdflash;

namespace {

std::string Folder(const std::string& path) {
  const auto cut = path.find_last_of("/\\");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

}  // namespace

int main(int argc, char** argv) {
  StdConsole console;
  if (AnswerUsageOrVersion(console, CompiledProfile(), argc, argv)) return 0;
  RealHost host;
  const std::string sim_dir = host.GetEnv("PDFLASH_SIM");
  if (sim_dir.empty()) {
    RealClock clock;
    std::unique_ptr<UsbBus> bus = MakeNativeUsbBus();
    Platform p{console, clock, host, *bus};
    return ExitStatus(RunPdflash(p, CompiledProfile(), argc, argv));
  }

  // The virtual device runs on virtual time unless asked for real time.
  RealClock real_clock;
  VirtualClock virtual_clock(real_clock.Local());
  Clock& clock = host.GetEnv("PDFLASH_SIM_TIME") == "real" ? static_cast<Clock&>(real_clock)
                                                           : static_cast<Clock&>(virtual_clock);
  sim::SimBus bus(sim_dir, clock, Folder(host.ExePath()) + "Challenge.ini");
  bus.SetLogEnabled(false);  // the log is for tests; a long dump would fill memory
  std::string error;
  if (!bus.Load(error)) {
    console.Write("PDFLASH_SIM: " + error + "\n");
    return 2;
  }
  Platform p{console, clock, host, bus};
  const uint32_t result = RunPdflash(p, CompiledProfile(), argc, argv);
  // The exit code is the run's; a board that did not keep its state is
  // still said, apart from the lines a controlling application parses.
  if (!bus.Save(error)) std::fprintf(stderr, "PDFLASH_SIM: state not saved: %s\n", error.c_str());
  return ExitStatus(result);
}
