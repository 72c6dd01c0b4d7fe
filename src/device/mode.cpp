#include "device/mode.h"

#include "app/log.h"
#include "device/challenge.h"
#include "device/vendor.h"
#include "core/bytes.h"
#include "ops/pd_file.h"

namespace pdflash {

namespace {

// Challenge registers: 16-bit values, high byte first.
constexpr uint16_t kChallengeRead = 0x000D;
constexpr uint16_t kChallengeAnswer = 0x000E;
constexpr uint16_t kChallengeStatus = 0x000F;
// Only firmware built for the challenge, under this vendor ID, may be unlocked into.
constexpr uint32_t kChallengeBinFlag = 0x80000000;
constexpr uint16_t kChallengeVid = 0x291A;

bool ReadChallengeStatus(Tool& t, UsbLink& h, uint8_t (&counter)[2]) {
  uint8_t bytes[2] = {};
  if (!VendorTransfer(t, h, kVendorIn, 0xE0, kChallengeStatus, 0, 2, bytes)) {
    LogPrint(t, "Math_Chlg_Sts_FAIL\n");
    return false;
  }
  counter[0] = bytes[0];
  counter[1] = bytes[1];
  return true;
}

bool ReadChallenge(Tool& t, UsbLink& h, uint16_t& challenge) {
  uint8_t bytes[2] = {};
  if (!VendorTransfer(t, h, kVendorIn, 0xE0, kChallengeRead, 0, 2, bytes)) {
    LogPrint(t, "Math_Chlg_Read_FAIL\n");
    return false;
  }
  challenge = Be16(bytes);
  return true;
}

bool SendChallengeAnswer(Tool& t, UsbLink& h, const uint8_t (&answer)[2]) {
  uint8_t bytes[2] = {answer[0], answer[1]};
  if (!VendorTransfer(t, h, kVendorOut, 0xE0, kChallengeAnswer, 0, 2, bytes)) {
    LogPrint(t, "Math_Chlg_Exam_FAIL\n");
    return false;
  }
  return true;
}

bool IsZero(const uint8_t (&counter)[2]) {
  return counter[0] == 0 && counter[1] == 0;
}

enum class LockOutcome { StatusFailed, WasLocked, Locked, StillOpen };

// Sending the counter back as the answer closes the challenge again.
LockOutcome LockCounter(Tool& t, UsbLink& h) {
  const bool dbg = t.set.DbgMsg != 0;
  if (dbg) LogPrint(t, "    Lock_Math_Challenge_Exe\n");
  uint8_t counter[2] = {};
  if (!ReadChallengeStatus(t, h, counter)) return LockOutcome::StatusFailed;
  if (dbg) LogPrint(t, "    Old_Cnt = 0x%02X%02X\n", counter[0], counter[1]);
  if (IsZero(counter)) return LockOutcome::WasLocked;
  if (SendChallengeAnswer(t, h, counter)) {
    uint8_t after[2] = {};
    if (ReadChallengeStatus(t, h, after)) {
      if (dbg) LogPrint(t, "    New_Cnt = 0x%02X%02X\n", after[0], after[1]);
      counter[0] = after[0];
      counter[1] = after[1];
    }
  }
  if (IsZero(counter)) return LockOutcome::Locked;
  LogPrint(t, "    Lock_Math_Challenge_Failed.\n");
  return LockOutcome::StillOpen;
}

// The VMM6 chip lets go of the shared flash only while GPIO8 is low.
void DriveGpio8Low(Tool& t, UsbLink& h) {
  t.clock.SleepMs(1000);
  LogPrint(t, "    GPIO%X_Low\n", 8);
  uint8_t value = 0;
  ReadRegister(t, h, 0x0002, value, false);
  WriteRegister(t, h, 0x0002, static_cast<uint8_t>((value & 0xF7) | 0x80), false);
}

}  // namespace

uint32_t MathChallenge(Tool& t, UsbLink& h, uint8_t need) {
  const uint8_t client = need & 0x7F;
  const uint8_t dbg = t.set.DbgMsg;
  if (dbg) LogPrint(t, "    Call_Math_Challenge_Exe, Client = %d\n", client);
  if (client == 0) return 1;

  CoefficientSet set;
  uint8_t counter[2] = {};
  uint16_t challenge = 0;
  if (LoadCoefficientSet(t, client, false, set) && ReadChallengeStatus(t, h, counter)) {
    if (dbg) LogPrint(t, "    Old_Cnt = 0x%02X%02X\n", counter[0], counter[1]);
    if (ReadChallenge(t, h, challenge)) {
      if (dbg >= 2) LogPrint(t, "    RNG = %04X\n", challenge);
      const uint16_t answer = ComputeChallengeAnswer(set, challenge);
      if (dbg >= 2) LogPrint(t, "    ANS = %04X\n", answer);
      uint8_t bytes[2];
      PutBe16(bytes, answer);
      if (SendChallengeAnswer(t, h, bytes) && ReadChallengeStatus(t, h, counter)) {
        if (dbg) LogPrint(t, "    New_Cnt = 0x%02X%02X\n", counter[0], counter[1]);
        if (!IsZero(counter)) return 1;
      }
    }
  }
  LogPrint(t, "    Math_Challenge_Failed.\n");
  return 0;
}

uint32_t LockChallenge(Tool& t, UsbLink& h) {
  const LockOutcome outcome = LockCounter(t, h);
  return (outcome == LockOutcome::WasLocked || outcome == LockOutcome::Locked) ? 1 : 0;
}

uint32_t ResetToRom(Tool& t, UsbLink& h, bool echo) {
  const RunSettings& s = t.set;
  // Outputs off and the controller's watchdogs quiet before it is poked.
  uint8_t gpio = 0;
  ReadRegister(t, h, 0x0002, gpio, echo);
  WriteRegister(t, h, 0x0002, gpio & 0xDD, echo);
  WriteRegister(t, h, 0x0015, 0x7F, echo);
  WriteRegister(t, h, 0x0019, 0x00, echo);
  if (!WriteRegister(t, h, 0x001C, 0x02, echo)) {
    LogPrint(t, "    Can't_Access_Device\n");
    return 0;
  }
  uint8_t mode = 0xFF;
  if (ReadRegister(t, h, 0x00F7, mode, echo) && (mode & 0x80) == 0) {
    if (echo) LogPrint(t, "    Already_Rom_Code.\n");
    return 1;
  }
  if (s.PDVMM6ShareSPI) {
    if (s.SkipGPIO8Ctl)
      LogPrint(t, "    Skip_GPIO8_Low_1\n");
    else
      DriveGpio8Low(t, h);
  }
  if (s.ForceGPIO8Low) DriveGpio8Low(t, h);

  if (s.NeedMathChallenge != 0) {
    MathChallenge(t, h, s.NeedMathChallenge);
    GetPdBinFlag(t, 1);
    const DeviceRecord& pd = t.Pd[1];
    if (s.NeedMathChallenge & 0x80) {
      LogPrint(t, "\t Skip_Check_Math-Challenge-Bin_rst\n");
    } else if ((pd.BinFlag & kChallengeBinFlag) == 0 || pd.CurVid != kChallengeVid) {
      LogPrint(t, "    Not_Math-Challenge-Bin_Or_VID_rst_%X_%X\n", pd.BinFlag, pd.CurVid);
      LockCounter(t, h);
      return 0;
    }
  }

  LogPrint(t, "    Reset_To_Default_Mode...\n");
  uint8_t identity = 0;
  ReadRegister(t, h, 0x0018, identity, echo);
  const uint8_t family = identity >> 4;
  if (family == 0x8 || family == 0xA) {
    VdrWrite(t, h, 0xC0, echo);
  } else {
    VdrWrite(t, h, 0xA0, echo);
    VdrWrite(t, h, 0xB0, echo);
  }
  // The device drops off the bus and comes back under its ROM IDs.
  t.clock.SleepMs(3000);
  return 1;
}

}  // namespace pdflash
