#include "device/mode.h"

#include "core/bytes.h"
#include "device/challenge.h"
#include "device/controller.h"
#include "device/registers.h"

namespace pdflash {

namespace {

bool ChallengeIn(Device& dev, uint8_t code, uint8_t (&bytes)[2], const char* failure) {
  if (dev.Transfer(kVendorIn, req::kRegister, code, 0, 2, bytes)) return true;
  LogPrint(dev.out, "%s", failure);
  return false;
}

// The attempt counter, high byte first.
bool ReadChallengeStatus(Device& dev, uint8_t (&counter)[2]) {
  return ChallengeIn(dev, sub::kChallengeStatus, counter, "Math_Chlg_Sts_FAIL\n");
}

bool SendChallengeAnswer(Device& dev, const uint8_t (&answer)[2]) {
  uint8_t bytes[2] = {answer[0], answer[1]};
  if (dev.Transfer(kVendorOut, req::kRegister, sub::kChallengeAnswer, 0, 2, bytes)) return true;
  LogPrint(dev.out, "Math_Chlg_Exam_FAIL\n");
  return false;
}

bool IsZero(const uint8_t (&counter)[2]) {
  return counter[0] == 0 && counter[1] == 0;
}

}  // namespace

uint32_t MathChallenge(Device& dev, const std::string& exe_dir, uint8_t need, uint8_t dbg) {
  Output& out = dev.out;
  const uint8_t client = need & 0x7F;
  if (dbg) LogPrint(out, "    Call_Math_Challenge_Exe, Client = %d\n", client);
  if (client == 0) return 1;

  CoefficientSet set;
  uint8_t counter[2] = {};
  uint8_t challenge[2] = {};
  if (LoadCoefficientSet(out, exe_dir, client, false, set) && ReadChallengeStatus(dev, counter)) {
    if (dbg) LogPrint(out, "    Old_Cnt = 0x%02X%02X\n", counter[0], counter[1]);
    if (ChallengeIn(dev, sub::kChallengeRead, challenge, "Math_Chlg_Read_FAIL\n")) {
      const uint16_t rng = Be16(challenge);
      if (dbg >= 2) LogPrint(out, "    RNG = %04X\n", rng);
      const uint16_t answer = ComputeChallengeAnswer(set, rng);
      if (dbg >= 2) LogPrint(out, "    ANS = %04X\n", answer);
      uint8_t bytes[2];
      PutBe16(bytes, answer);
      if (SendChallengeAnswer(dev, bytes) && ReadChallengeStatus(dev, counter)) {
        if (dbg) LogPrint(out, "    New_Cnt = 0x%02X%02X\n", counter[0], counter[1]);
        if (!IsZero(counter)) return 1;
      }
    }
  }
  LogPrint(out, "    Math_Challenge_Failed.\n");
  return 0;
}

uint32_t LockChallenge(Device& dev, uint8_t dbg) {
  if (dbg) LogPrint(dev.out, "    Lock_Math_Challenge_Exe\n");
  uint8_t counter[2] = {};
  if (!ReadChallengeStatus(dev, counter)) return 0;
  if (dbg) LogPrint(dev.out, "    Old_Cnt = 0x%02X%02X\n", counter[0], counter[1]);
  if (IsZero(counter)) return 1;  // it was locked
  if (SendChallengeAnswer(dev, counter)) {
    uint8_t after[2] = {};
    if (ReadChallengeStatus(dev, after)) {
      if (dbg) LogPrint(dev.out, "    New_Cnt = 0x%02X%02X\n", after[0], after[1]);
      counter[0] = after[0];
      counter[1] = after[1];
    }
  }
  if (IsZero(counter)) return 1;
  LogPrint(dev.out, "    Lock_Math_Challenge_Failed.\n");
  return 0;
}

void DriveGpio8Low(Device& dev) {
  dev.clock.SleepMs(1000);
  LogPrint(dev.out, "    GPIO%X_Low\n", 8);
  uint8_t value = 0;
  dev.ReadRegister(reg::kGpio5to8, value, false);
  dev.WriteRegister(reg::kGpio5to8, static_cast<uint8_t>((value & 0xF7) | 0x80), false);
}

void JumpToRomCode(Device& dev, bool echo) {
  uint8_t identity = 0;
  dev.ReadRegister(reg::kIdentity, identity, echo);
  if (FamilyJumpsDirectly(identity)) {
    dev.VdrWrite(req::kDirectJump, echo);
  } else {
    dev.VdrWrite(req::kPrepareJump, echo);
    dev.VdrWrite(req::kRestart, echo);
  }
  // The device drops off the bus and comes back under its ROM IDs.
  dev.clock.SleepMs(3000);
}

}  // namespace pdflash
