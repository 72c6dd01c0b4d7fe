// The switch is driven through ResetToRomUsing with a stand-in for the file's
// flag-word reader, so these tests do not need the firmware-file layer.
#include "device/mode.h"

#include <gtest/gtest.h>

#include "device/challenge.h"
#include "support/fake_usb.h"

namespace pdflash {
namespace {

using test::DeviceFixture;

uint32_t ChallengeBin(Tool& t, uint8_t d) {
  t.Pd[d].BinFlag = 0x80000000;
  return t.Pd[d].BinVersion;
}

uint32_t PlainBin(Tool& t, uint8_t d) {
  t.Pd[d].BinFlag = 0;
  return t.Pd[d].BinVersion;
}

std::vector<uint8_t> JumpCodes(const test::FakeController& c) {
  std::vector<uint8_t> codes;
  for (const auto& r : c.log)
    if (r.setup.bRequest == 0xA0 || r.setup.bRequest == 0xB0 || r.setup.bRequest == 0xC0)
      codes.push_back(r.setup.bRequest);
  return codes;
}

struct ModeFixture : DeviceFixture {
  ModeFixture() {
    test::WriteFile(dir / kChallengeFile, test::ExampleChallengeFile());
    dev->regs[0x00F7] = 0x80;  // application firmware runs
  }
  uint16_t AnswerFor(uint8_t client, uint16_t challenge) {
    CoefficientSet set;
    EXPECT_TRUE(LoadCoefficientSet(t, client, false, set));
    return ComputeChallengeAnswer(set, challenge);
  }
};

TEST(ResetToRom, JumpCodeFollowsTheIdentityFamily) {
  const struct {
    uint8_t identity;
    std::vector<uint8_t> codes;
  } cases[] = {{0x81, {0xC0}},
               {0xA0, {0xC0}},
               {0x70, {0xA0, 0xB0}},
               {0x90, {0xA0, 0xB0}},
               {0xC0, {0xA0, 0xB0}}};
  for (const auto& c : cases) {
    ModeFixture f;
    f.dev->regs[0x0018] = c.identity;
    f.dev->regs[0x0002] = 0xFF;
    EXPECT_EQ(ResetToRomUsing(f.t, f.link, false, PlainBin), 1u);
    EXPECT_EQ(JumpCodes(*f.dev), c.codes) << std::hex << int{c.identity};
    // Levels of GPIO 2 and 6 dropped, the controller quietened first.
    EXPECT_EQ(f.dev->reg_writes[0x0002], std::vector<uint8_t>{0xDD});
    EXPECT_EQ(f.dev->regs[0x0015], 0x7F);
    EXPECT_EQ(f.dev->regs[0x001C], 0x02);
    EXPECT_EQ(f.clock.SleptUs(), 3000000u);
    EXPECT_EQ(f.Out(), "    Reset_To_Default_Mode...\n");
  }
}

TEST(ResetToRom, StopsEarlyWhenInaccessibleOrAlreadyInRom) {
  ModeFixture f;
  f.dev->fail_if = [](const SetupPacket& s) { return s.wValue == 0x1C02; };
  EXPECT_EQ(ResetToRomUsing(f.t, f.link, false, PlainBin), 0u);
  EXPECT_EQ(f.Out(), "Write-Reg 0x001C  Fail\n    Can't_Access_Device\n");
  EXPECT_EQ(f.dev->log.size(), 5u);

  ModeFixture g;
  g.dev->regs[0x00F7] = 0x00;
  g.t.set.PDVMM6ShareSPI = 1;
  g.t.set.NeedMathChallenge = 1;
  EXPECT_EQ(ResetToRomUsing(g.t, g.link, true, PlainBin), 1u);
  EXPECT_TRUE(JumpCodes(*g.dev).empty());
  EXPECT_EQ(g.dev->reg_writes[0x0002].size(), 1u);
  EXPECT_TRUE(g.dev->Requests(0xE0, 0x0F).empty());
  EXPECT_EQ(g.Out(),
            "    Read-Reg 0x0002 = 0x00\n    Write-Reg 0x0002 = 0x00\n    Write-Reg 0x0015 = 0x7F\n"
            "    Write-Reg 0x0019 = 0x00\n    Write-Reg 0x001C = 0x02\n    Read-Reg 0x00F7 = 0x00\n"
            "    Already_Rom_Code.\n");
}

TEST(ResetToRom, Gpio8IsDrivenLowForTheSharedFlash) {
  ModeFixture f;
  f.t.set.PDVMM6ShareSPI = 1;
  f.t.set.ForceGPIO8Low = 1;
  f.dev->regs[0x0002] = 0x0F;
  EXPECT_EQ(ResetToRomUsing(f.t, f.link, false, PlainBin), 1u);
  EXPECT_EQ(f.dev->reg_writes[0x0002], (std::vector<uint8_t>{0x0D, 0x85, 0x85}));
  EXPECT_EQ(f.clock.SleptUs(), 5000000u);
  EXPECT_EQ(f.Out(), "    GPIO8_Low\n    GPIO8_Low\n    Reset_To_Default_Mode...\n");

  ModeFixture g;
  g.t.set.PDVMM6ShareSPI = 1;
  g.t.set.SkipGPIO8Ctl = 1;
  EXPECT_EQ(ResetToRomUsing(g.t, g.link, false, PlainBin), 1u);
  EXPECT_EQ(g.dev->reg_writes[0x0002].size(), 1u);
  EXPECT_EQ(g.Out(), "    Skip_GPIO8_Low_1\n    Reset_To_Default_Mode...\n");
}

TEST(ResetToRom, ChallengeFileCheckDecidesTheJump) {
  {
    ModeFixture f;
    f.t.set.NeedMathChallenge = 0x01;
    f.t.Pd[1].CurVid = 0x291A;
    f.dev->challenge = 0x1234;
    f.dev->expected_answer = f.AnswerFor(1, 0x1234);
    EXPECT_EQ(ResetToRomUsing(f.t, f.link, false, ChallengeBin), 1u);
    EXPECT_EQ(f.dev->counter, 1);
    EXPECT_EQ(JumpCodes(*f.dev), (std::vector<uint8_t>{0xA0, 0xB0}));
  }
  {
    // A file without the flag: the opened challenge is locked, no jump.
    ModeFixture f;
    f.t.set.NeedMathChallenge = 0x01;
    f.t.Pd[1].CurVid = 0x291A;
    f.dev->challenge = 0x1234;
    f.dev->expected_answer = f.AnswerFor(1, 0x1234);
    EXPECT_EQ(ResetToRomUsing(f.t, f.link, false, PlainBin), 0u);
    EXPECT_EQ(f.dev->counter, 0);
    EXPECT_TRUE(JumpCodes(*f.dev).empty());
    const auto answers = f.dev->Requests(0xE0, 0x0E);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[1].data, (std::vector<uint8_t>{0x00, 0x01}));
    EXPECT_EQ(f.Out(), "    Not_Math-Challenge-Bin_Or_VID_rst_0_291A\n");
  }
  {
    // Bit 7 skips the file check; a wrong answer does not stop the jump.
    ModeFixture f;
    f.t.set.NeedMathChallenge = 0x81;
    f.dev->expected_answer = static_cast<uint16_t>(f.AnswerFor(1, 0) + 1);
    EXPECT_EQ(ResetToRomUsing(f.t, f.link, false, PlainBin), 1u);
    EXPECT_EQ(JumpCodes(*f.dev), (std::vector<uint8_t>{0xA0, 0xB0}));
    EXPECT_EQ(f.Out(),
              "    Math_Challenge_Failed.\n\t Skip_Check_Math-Challenge-Bin_rst\n"
              "    Reset_To_Default_Mode...\n");
  }
}

TEST(MathChallenge, AnswersWithTheClientSet) {
  ModeFixture f;
  EXPECT_EQ(MathChallenge(f.t, f.link, 0x80), 1u);
  EXPECT_TRUE(f.dev->log.empty());

  // Client 5 has no set of its own and takes the default one.
  f.t.set.DbgMsg = 2;
  f.dev->challenge = 0xBEEF;
  const uint16_t answer = f.AnswerFor(0x7F, 0xBEEF);
  EXPECT_NE(answer, f.AnswerFor(1, 0xBEEF));
  f.dev->expected_answer = answer;
  EXPECT_EQ(MathChallenge(f.t, f.link, 0x05), 1u);
  const auto answers = f.dev->Requests(0xE0, 0x0E);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].setup.bmRequestType, 0x40);
  EXPECT_EQ(answers[0].data, (std::vector<uint8_t>{static_cast<uint8_t>(answer >> 8),
                                                   static_cast<uint8_t>(answer)}));
  char expect[200];
  std::snprintf(expect, sizeof expect,
                "    Call_Math_Challenge_Exe, Client = 5\n    Old_Cnt = 0x0000\n    RNG = BEEF\n"
                "    ANS = %04X\n    New_Cnt = 0x0001\n",
                answer);
  EXPECT_EQ(f.Out(), expect);

  f.t.set.DbgMsg = 0;
  f.dev->fail_if = [](const SetupPacket& s) { return s.wValue == 0x000D; };
  EXPECT_EQ(MathChallenge(f.t, f.link, 0x05), 0u);
  EXPECT_EQ(f.Out(), "Math_Chlg_Read_FAIL\n    Math_Challenge_Failed.\n");
}

TEST(LockChallenge, SendsTheCounterBack) {
  ModeFixture f;
  EXPECT_EQ(LockChallenge(f.t, f.link), 1u);
  EXPECT_TRUE(f.dev->Requests(0xE0, 0x0E).empty());

  f.dev->counter = 0x0203;
  f.t.set.DbgMsg = 1;
  EXPECT_EQ(LockChallenge(f.t, f.link), 1u);
  EXPECT_EQ(f.dev->Requests(0xE0, 0x0E).back().data, (std::vector<uint8_t>{0x02, 0x03}));
  EXPECT_EQ(f.Out(), "    Lock_Math_Challenge_Exe\n    Old_Cnt = 0x0203\n    New_Cnt = 0x0000\n");

  f.t.set.DbgMsg = 0;
  f.dev->counter = 7;
  f.dev->lock_refused = true;
  EXPECT_EQ(LockChallenge(f.t, f.link), 0u);
  EXPECT_EQ(f.Out(), "    Lock_Math_Challenge_Failed.\n");
  f.dev->fail_if = [](const SetupPacket& s) { return s.wValue == 0x000F; };
  EXPECT_EQ(LockChallenge(f.t, f.link), 0u);
  EXPECT_EQ(f.Out(), "Math_Chlg_Sts_FAIL\n");
}

}  // namespace
}  // namespace pdflash
