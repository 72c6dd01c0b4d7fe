#include "sim/challenge_unit.h"

#include "core/bytes.h"

namespace pdflash::sim {

namespace {

constexpr uint8_t kIn = 0xC0;
constexpr uint8_t kReadChallenge = 0x0D;
constexpr uint8_t kAnswer = 0x0E;
constexpr uint8_t kReadCounter = 0x0F;

}  // namespace

bool ParseChallengeCoefficients(const std::string& text, ChallengeCoefficients& set) {
  uint16_t v[5] = {};
  size_t start = 0;
  for (size_t i = 0; i < 5; ++i) {
    const size_t comma = text.find(',', start);
    if ((comma == std::string::npos) != (i == 4)) return false;  // exactly five fields
    uint32_t field = 0;
    if (!ParseHex(text.substr(start, comma - start), field) || field > 0xFFFF) return false;
    v[i] = static_cast<uint16_t>(field);
    start = comma + 1;
  }
  set = {v[0], v[1], v[2], v[3], v[4]};
  return true;
}

bool LoadChallengeCoefficients(const std::string& file, uint32_t client, ChallengeCoefficients& set,
                               std::string& error) {
  const std::string key =
      client >= 1 && client <= 3 ? "Client" + std::to_string(client) : "Default";
  std::string text;
  if (!ReadWholeFile(file, text)) {
    error = "challenge coefficients '" + file + "' cannot be read (needed for ChallengeClient " +
            std::to_string(client) + ")";
    return false;
  }
  for (const auto& [k, v] : IniEntries(SplitLines(text), "Challenge")) {
    if (k != key) continue;
    if (ParseChallengeCoefficients(v, set)) return true;
    error = "challenge coefficients '" + file + "' [Challenge] " + key +
            " is not MASK1,MULT1,MASK2,MULT2,ADD";
    return false;
  }
  error = "challenge coefficients '" + file + "' have no [Challenge] " + key;
  return false;
}

uint16_t ChallengeAnswer(const ChallengeCoefficients& set, uint16_t challenge) {
  uint32_t x = challenge;
  for (int round = 0; round < 3; ++round) {
    const uint32_t a = (x & set.Mask1) * set.Mult1;
    const uint32_t b = (x & set.Mask2) * set.Mult2;
    x = (a + b + set.Add) & 0xFFFF;  // 32-bit wrap-around leaves the low half exact
  }
  return static_cast<uint16_t>(x);
}

ChallengeUnit::ChallengeUnit(PartHost& host, const ChallengeConfig& config, int device_number,
                             const ChallengeCoefficients& set)
    : SimPart(host),
      config_(config),
      set_(set),
      seed_(0x5EED0000u + static_cast<uint32_t>(device_number)) {
  Next();
}

PartClaims ChallengeUnit::Claims() const {
  PartClaims c;
  c.register_commands = {kReadChallenge, kAnswer, kReadCounter};
  return c;
}

bool ChallengeUnit::RegisterCommand(uint8_t sub, uint16_t address, const SetupPacket& s,
                                    uint8_t* data) {
  // Firmware without a provisioned client has no challenge at all.
  if (address != 0 || config_.ChallengeClient == 0 || s.wLength != 2) return false;
  const bool in = s.bmRequestType == kIn;
  switch (sub) {
    case kReadChallenge:
      if (!in) return false;
      PutBe16(data, challenge_);
      return true;
    case kReadCounter:
      if (!in) return false;
      PutBe16(data, counter_);
      return true;
    default: {
      if (in) return false;
      const uint16_t answer = Be16(data);
      if (counter_ != 0 && answer == counter_) {
        counter_ = 0;  // the counter sent back locks again
      } else if (answer == ExpectedAnswer(challenge_)) {
        counter_ = static_cast<uint16_t>(counter_ == 0xFFFF ? 1 : counter_ + 1);
      }
      // Every answer uses up the challenge, right or wrong.
      Next();
      return true;
    }
  }
}

void ChallengeUnit::Next() {
  seed_ = seed_ * 1103515245u + 12345u;
  challenge_ = static_cast<uint16_t>(seed_ >> 16);
}

void ChallengeUnit::Restart() {
  counter_ = 0;
  Next();
}

void ChallengeUnit::SaveState(StateEntries& out) const {
  out.emplace_back("ChallengeCounter", HexText(counter_, 4));
  out.emplace_back("ChallengeSeed", HexText(seed_, 8));
}

void ChallengeUnit::LoadState(const StateEntries& entries) {
  for (const auto& [key, text] : entries) {
    uint32_t v = 0;
    if (!ParseHex(text, v)) continue;
    if (key == "ChallengeCounter") {
      counter_ = static_cast<uint16_t>(v);
    } else if (key == "ChallengeSeed") {
      seed_ = v;
      challenge_ = static_cast<uint16_t>(v >> 16);
    }
  }
}

}  // namespace pdflash::sim
