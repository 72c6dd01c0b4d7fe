// Scenario runs: the whole program against the virtual device, one run after
// another on the same board directory, as a board stays plugged in.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/sim_bus.h"
#include "sim/sim_config.h"
#include "support/harness.h"
#include "tools/fwgen.h"

namespace pdflash::test {

class SimBoard {
 public:
  // The board lives in `<program folder>/board`; the challenge coefficients
  // of the example file sit next to the program.
  explicit SimBoard(Program& program);

  // device.ini written by pdsim init, with KEY=VALUE overrides
  // ("Device2.Identity=B0" for a further device).
  void Init(const std::vector<std::string>& keys = {});
  // Writes bytes into a flash as a programmer would (device and flash from 1).
  void Load(uint32_t address, const std::vector<uint8_t>& bytes, int device = 1, int flash = 1);
  // Puts a firmware copy at 0x20000 (and optionally at the second copy).
  void LoadFirmware(const std::vector<uint8_t>& image, bool copy1 = true, bool copy2 = false);

  // One program run against the board; the board's state is saved after it.
  uint32_t Run(const std::vector<std::string>& args = {});

  std::vector<uint8_t> Flash(int device = 1, int flash = 1) const;
  std::string DeviceIni() const;
  // device.ini as the last run left it (mode, flash status registers).
  sim::DeviceConfig Config(int device = 1) const;
  // The board between runs, as the next run will find it: registers,
  // challenge counter, running copy. `look` gets the loaded bus.
  template <typename F>
  void Inspect(F look) {
    sim::SimBus bus(dir_, program_.clock, program_.dir / "Challenge.ini");
    std::string error;
    if (!bus.Load(error)) throw std::runtime_error("board: " + error);
    look(bus);
  }
  // Register of a device between runs.
  uint8_t Register(uint16_t address, int device = 1);
  const std::string& dir() const { return dir_; }
  // Every control transfer of the last run (kept only with keep_log).
  std::vector<sim::TransferRecord> log;
  bool keep_log = true;
  // Time the last run took on the virtual clock.
  uint64_t run_us = 0;

 private:
  Program& program_;
  std::string dir_;
};

// True when the bytes hold a PD image at `address` whose CRC-16 trailer is
// right for `size`.
bool ValidCopy(const std::vector<uint8_t>& flash, uint32_t address, uint32_t size);

// Setting.ini lines for the example board's IDs.
inline constexpr const char* kBoardIds =
    "PD1VID=2109\nPD1PID=0107\nPD1RomVID=2109\nPD1RomPID=1107\n";

}  // namespace pdflash::test
