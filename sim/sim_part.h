// The seam between the controller's core and its part models. A part claims
// vendor requests, sub-commands of the register request 0xE0 and register
// addresses; the core routes exactly those to it. Each part keeps its own
// state, faults and config keys, and saves and loads its own state entries.
//
// To add a part: derive from SimPart, make it a member of SimDevice and Join
// it in the constructor (join order is state.ini order). Its device.ini keys
// form a group in sim_config.h that DeviceConfig derives from, with rows in
// the key table there.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "sim/sim_config.h"

namespace pdflash::sim {

// state.ini lines of one device, in file order.
using StateEntries = std::vector<std::pair<std::string, std::string>>;

// What the core routes to a part. Two parts never claim the same thing.
struct PartClaims {
  struct Range {
    uint16_t first, last;  // inclusive
  };
  std::vector<uint8_t> requests;           // bRequest codes
  std::vector<uint8_t> register_commands;  // 0xE0 sub-commands other than 1-6
  std::vector<Range> registers;
  // Claimed registers whose contents do not outlive a run.
  std::vector<uint16_t> transient;
};

// What a part sees of the controller it sits in.
class PartHost {
 public:
  virtual Mode CurrentMode() const = 0;
  // Register memory behind every address, the claimed ones included. The
  // core saves it; a part reads and writes its own registers here.
  virtual uint8_t& Memory(uint16_t address) = 0;

 protected:
  ~PartHost() = default;
};

class SimPart {
 public:
  explicit SimPart(PartHost& host) : host_(host) {}
  virtual ~SimPart() = default;
  SimPart(const SimPart&) = delete;
  SimPart& operator=(const SimPart&) = delete;

  // Asked once, when the part joins the core.
  virtual PartClaims Claims() const = 0;

  // A claimed request, its direction already checked to be a vendor one.
  // False stalls it.
  virtual bool Request(const SetupPacket&, uint8_t*) { return false; }
  // A claimed 0xE0 sub-command with the address it carried.
  virtual bool RegisterCommand(uint8_t, uint16_t, const SetupPacket&, uint8_t*) { return false; }
  // A claimed register; plain memory unless the part gives it a meaning.
  virtual uint8_t ReadRegister(uint16_t address) { return host_.Memory(address); }
  virtual void WriteRegister(uint16_t address, uint8_t value) { host_.Memory(address) = value; }

  // The controller restarts, into either run mode.
  virtual void Restart() {}
  virtual void SaveState(StateEntries&) const {}
  virtual void LoadState(const StateEntries&) {}
  // Writes back the part's device.ini keys that change while running.
  virtual void UpdateConfig(DeviceConfig&) const {}

 protected:
  PartHost& host_;
};

}  // namespace pdflash::sim
