// The whole program in a scratch folder against a virtual board that holds
// an older firmware, on the virtual clock: what a fuzz input reaches when it
// is a file or a command line the tool is given.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/records.h"

namespace pdflash::sim {
class SimBus;
}

namespace pdflash::fuzz {

// Sees the board after a run, with its first flash as the run found it.
using Inspect = std::function<void(sim::SimBus& bus, const std::vector<uint8_t>& flash_before)>;

class Rig {
 public:
  Rig();
  ~Rig();
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  // A file in the program's folder.
  void Put(const std::string& name, const uint8_t* data, size_t size);
  void Put(const std::string& name, const std::string& text);
  std::string Path(const std::string& name) const { return dir_ + name; }
  // One run with `board` (a folder under the program's) as the bus; the board
  // is not saved, so every run finds it as it was made.
  uint32_t Run(const std::vector<std::string>& args, const std::string& board = "board",
               const Inspect& inspect = {}, BuildProfile build = BuildProfile{});
  // A PD image of 32 KiB for the example board, one version above the board's.
  const std::vector<uint8_t>& NewFirmware() const { return new_fw_; }
  // A signed image over `data_size` bytes, made on the board's security block
  // by a build with the signing right.
  std::vector<uint8_t> SignedImage(size_t data_size);
  // Setting.ini lines that name the board's IDs.
  static const char* BoardIds();
  std::string out;  // console of the last run

 private:
  std::string dir_;
  std::vector<uint8_t> new_fw_;
};

// One rig per process, made on first use.
Rig& TheRig();

}  // namespace pdflash::fuzz
