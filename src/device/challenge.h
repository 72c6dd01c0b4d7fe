// Answers to the controller's 16-bit unlock challenge. The coefficient sets
// must match each client's controller firmware, so they are provisioned in a
// file next to the executable ("Challenge.ini"), never compiled in.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/output.h"

namespace pdflash {

// Two masks, two multipliers and an additive constant.
struct CoefficientSet {
  uint16_t Mask1 = 0, Mult1 = 0, Mask2 = 0, Mult2 = 0, Add = 0;
};

inline constexpr const char* kChallengeFile = "Challenge.ini";

// Three rounds of x = ((x & Mask1) * Mult1 + (x & Mask2) * Mult2 + Add) mod 2^16.
uint16_t ComputeChallengeAnswer(const CoefficientSet& set, uint16_t challenge);

// Parses "MASK1,MULT1,MASK2,MULT2,ADD" (hexadecimal).
bool ParseCoefficientSet(const std::string& text, CoefficientSet& set);

// The set for a client: "Client1".."Client3", "Default" for any other non-zero
// client; `for_test` picks "Test" for clients other than 2 and 3 (the
// collision test's own set). Prints why and returns false when the file or
// the entry is missing or malformed.
// The file is "Challenge.ini" in `exe_dir`, whatever "/PATH" made the folder.
bool LoadCoefficientSet(Output& out, const std::string& exe_dir, uint8_t client, bool for_test,
                        CoefficientSet& set);

// Looks for two challenges with the same answer; 1 when there are none.
uint32_t CoefficientTest(Output& out, const std::string& exe_dir, uint8_t client);

}  // namespace pdflash
