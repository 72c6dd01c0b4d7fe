// The firmware's unlock challenge: a 16-bit challenge, the answer it expects
// from the client's coefficient set, and the counter that a right answer
// unlocks. The device checks answers with its own arithmetic, never the
// tool's, so a fault in the tool cannot hide behind a shared routine.
#pragma once

#include <cstdint>
#include <string>

#include "sim/sim_part.h"

namespace pdflash::sim {

// The set a client's firmware is provisioned with: two masks, two
// multipliers and an additive constant.
struct ChallengeCoefficients {
  uint16_t Mask1 = 0, Mult1 = 0, Mask2 = 0, Mult2 = 0, Add = 0;
};

// "MASK1,MULT1,MASK2,MULT2,ADD", hexadecimal, spaces around each allowed.
bool ParseChallengeCoefficients(const std::string& text, ChallengeCoefficients& set);

// Reads the set of `client` from `file`, section [Challenge]: Client1..Client3,
// or Default for any other client number. False with a reason otherwise.
bool LoadChallengeCoefficients(const std::string& file, uint32_t client, ChallengeCoefficients& set,
                               std::string& error);

// Three rounds of x = ((x & Mask1) * Mult1 + (x & Mask2) * Mult2 + Add) mod 2^16.
uint16_t ChallengeAnswer(const ChallengeCoefficients& set, uint16_t challenge);

class ChallengeUnit final : public SimPart {
 public:
  // `device_number` seeds the challenge sequence, so that devices on one
  // bus differ.
  ChallengeUnit(PartHost& host, const ChallengeConfig& config, int device_number,
                const ChallengeCoefficients& set);

  uint16_t Counter() const { return counter_; }
  uint16_t Current() const { return challenge_; }
  uint16_t ExpectedAnswer(uint16_t challenge) const { return ChallengeAnswer(set_, challenge); }
  // A provisioned firmware ignores the jumps to ROM code until unlocked.
  bool Locked() const { return config_.ChallengeClient != 0 && counter_ == 0; }

  PartClaims Claims() const override;
  bool RegisterCommand(uint8_t sub, uint16_t address, const SetupPacket& setup,
                       uint8_t* data) override;
  void Restart() override;
  void SaveState(StateEntries& out) const override;
  void LoadState(const StateEntries& entries) override;

 private:
  void Next();

  ChallengeConfig config_;
  ChallengeCoefficients set_;
  uint16_t challenge_ = 0;
  uint16_t counter_ = 0;
  uint32_t seed_ = 0;
};

}  // namespace pdflash::sim
