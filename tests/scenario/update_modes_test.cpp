// The update's settings around the write itself: expert mode, the LED
// register, the reset afterwards, a device already in ROM code and the unlock
// challenge.
#include <optional>

#include "scenario/scenario_support.h"

namespace pdflash::test {
namespace {

size_t FirstFlashChange(const Log& log) {
  const auto at = Where(log, {kSectorErase, kProgram});
  return at.empty() ? log.size() : at[0];
}

size_t LastFlashRequest(const Log& log) {
  const auto at = Where(log, {kReadData, kReadStatus, kSectorErase, kProgram, kFlashCommand});
  return at.empty() ? 0 : at.back();
}

// A share setting of 2 updates only the companion chips: the PD flash is not
// touched and the PD file is not even read, yet the reset still follows.
TEST(UpdateModes, ExpertModeLeavesThePdFlashAlone) {
  Rig r;
  const std::vector<uint8_t> no_image = {0x00};
  EXPECT_EQ(r.Run("HubPDShareSPI=2\nHub1Bin=hub.bin\nResetAfterUpdate=1\n", no_image), 1u)
      << r.p.out;
  EXPECT_THAT(r.p.out, HasSubstr("Expert_Mode: Only_Update_Share_Device.\n"));
  EXPECT_THAT(r.p.out, HasSubstr("=    PD_FW_Update_PASS.   =\n"));
  EXPECT_TRUE(r.Untouched());
  EXPECT_EQ(r.board.log.back().setup.bRequest, kReset);
  EXPECT_THAT(r.board.DeviceIni(), HasSubstr("Mode=App"));
}

// Register 0x2A16 is 1 for the whole operation and 0 after it, whichever way
// the operation ends.
TEST(UpdateModes, LedFlickerFramesTheOperationOnEveryPath) {
  const auto image = Firmware(0xC800, 0x0E010200, 9);
  auto bad_crc = image;
  bad_crc[0x100] ^= 0xFF;
  size_t program = 0;  // transfer number of a program request of the uncut run
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    bool cut;
    uint32_t result;
    const char* line;
  };
  for (const Case& c : {Case{"pass", image, false, 1, "=    PD_FW_Update_PASS.   =\n"},
                        Case{"refused", bad_crc, false, 0, "Protection: Bin_CRC16="},
                        Case{"write_fails", image, true, 0, "Write_FW1_Fail\n"}}) {
    SCOPED_TRACE(c.name);
    Rig r({"FailTransfer=" + Hex(c.cut ? program : 0)});
    EXPECT_EQ(r.Run("LEDFlicker=1\n", c.file), c.result) << r.p.out;
    EXPECT_THAT(r.p.out, HasSubstr(c.line));
    const auto led = RegisterWrites(r.board.log, 0x2A16);
    EXPECT_EQ(Taken(r.board.log, led), (std::vector<uint8_t>{1, 0}));
    ASSERT_EQ(led.size(), 2u);
    EXPECT_LT(led[0], FirstFlashChange(r.board.log));
    EXPECT_GT(led[1], LastFlashRequest(r.board.log));
    EXPECT_TRUE(ValidCopy(r.board.Flash(), 0x20000, 0xC800));
    if (!program) program = Where(r.board.log, {kProgram}).at(99) + 1;
  }
}

// With the reset the device restarts into the new firmware; without it, it
// stays in ROM code. A device in ROM code from the start is not sent there.
// Block-protect bits are no obstacle: the status register is cleared first.
TEST(UpdateModes, FromRomCodeAndTheResetAfterwards) {
  for (auto [rom, reset] :
       {std::pair{true, true}, std::pair{true, false}, std::pair{false, true}}) {
    SCOPED_TRACE(std::string(rom ? "from ROM code" : "from firmware") + (reset ? ", reset" : ""));
    Rig r({rom ? "Mode=Rom" : "Mode=App", "FlashStatus=1C"}, Firmware(0xC800, 0x0E010100), true,
          false);
    const auto image = Firmware(0xC800, 0x0E010200, 9);
    EXPECT_EQ(r.Run(reset ? "ResetAfterUpdate=1\n" : "", image), 1u) << r.p.out;
    EXPECT_EQ(CountRequests(r.board.log, kToRom), rom ? 0u : 1u);
    EXPECT_EQ(CountRequests(r.board.log, kReset), (rom ? 0u : 1u) + (reset ? 1u : 0u));
    EXPECT_EQ(r.board.log.back().setup.bRequest == kReset, reset);
    EXPECT_TRUE(BothCopies(r.board.Flash(), image));
    EXPECT_EQ(r.board.Run({"/F0"}), reset ? 0x0E010200u : 0x35000100u) << r.p.out;
  }
}

// The unlock challenge before the jump: the answer must fit the device's
// client, the file must be challenge-enabled (flag word bit 31) and the
// device's VID 0x291A, unless bit 7 skips the check; a refused file locks the
// challenge again (the counter goes back) and the firmware keeps running,
// while the ROM wait looks for it in vain. ROM code has no gate. With
// SkipJumpRom the firmware keeps running: the gate answers before the update
// and locks again after it.
TEST(UpdateModes, UnlockChallenge) {
  const std::string lock = "    Lock_Math_Challenge_Exe\n";
  struct Case {
    const char* name;
    const char* client;  // of the device
    const char* need;    // NeedMathChallenge
    uint16_t vid;        // device and file
    std::optional<uint32_t> flag;
    const char* start;  // device.ini key, or a settings line with '\n'
    uint32_t result;
    std::string lines;
    size_t answers;    // the answer, then the counter sent back to lock
    uint64_t seconds;  // 0: not checked; 3 s after a jump, then five searches 3 s apart
  };
  const uint32_t on = 0x80000000;
  for (const Case& c : std::vector<Case>{
           {"enabled_file", "1", "1", 0x291A, on, "", 1,
            "    Call_Math_Challenge_Exe, Client = 1\n    Old_Cnt = 0x0000\n    New_Cnt = "
            "0x0001\n    PD_Bin_FLAG = 80000000\n    Reset_To_Default_Mode...\n",
            1, 0},
           // The answer of client 1's set on a controller of client 2.
           {"wrong_client", "2", "1", 0x291A, on, "", 0,
            "    New_Cnt = 0x0000\n    Math_Challenge_Failed.\n", 1, 18},
           {"flag_word_without_bit_31", "1", "1", 0x291A, 1, "", 0,
            "    Not_Math-Challenge-Bin_Or_VID_rst_1_291A\n" + lock + "    Old_Cnt = 0x0001\n", 2,
            15},
           {"file_without_flag", "1", "1", 0x291A, {}, "", 0,
            "    Not_Math-Challenge-Bin_Or_VID_rst_0_291A\n", 2, 0},
           // Nothing to lock: no counter goes back.
           {"nothing_to_lock", "2", "1", 0x291A, {}, "", 0,
            "_rst_0_291A\n" + lock + "    Old_Cnt = 0x0000\nLoop = 0\n", 1, 15},
           {"other_vid", "1", "1", 0x2109, on, "", 0,
            "    Not_Math-Challenge-Bin_Or_VID_rst_80000000_2109\n", 2, 0},
           {"check_skipped", "1", "81", 0x2109, {}, "", 1, "\t Skip_Check_Math-Challenge-Bin_rst\n",
            1, 0},
           // Without the answer the locked firmware ignores the jump.
           {"no_challenge_set", "1", "0", 0x291A, on, "", 0, "Return_Value = 0x0\n", 0, 0},
           {"rom_code", "1", "1", 0x291A, {}, "Mode=Rom", 1, "=    PD_FW_Update_PASS.   =\n", 0, 0},
           {"firmware_keeps_running", "1", "1", 0x291A, on, "SkipJumpRom=1\n", 1,
            "    FW_Code_Update, No_Check.\n", 2, 0},
           {"firmware_refuses_the_file", "1", "1", 0x291A, {}, "SkipJumpRom=1\n", 0,
            "\t Not_Math-Challenge-Bin_Or_VID_std_0_291A\n" + lock, 2, 0}}) {
    SCOPED_TRACE(c.name);
    const std::string start = c.start;
    const bool setting = start.find('\n') != std::string::npos;
    std::vector<std::string> keys = {std::string("ChallengeClient=") + c.client,
                                     "AppVID=" + Hex(c.vid, 4)};
    if (!setting && !start.empty()) keys.push_back(start);
    Rig r(keys, fwgen::MakePdFirmware({.vid = c.vid}));
    const auto image = fwgen::MakePdFirmware({.version = 0x0E010200, .vid = c.vid, .flag = c.flag});
    const std::string settings =
        "PD1VID=" + Hex(c.vid, 4) + "\nNeedMathChallenge=" + c.need + "\nDbgMsg=1\n";
    EXPECT_EQ(r.Run(settings + (setting ? start : ""), image), c.result) << r.p.out;
    EXPECT_THAT(r.p.out, HasSubstr(c.lines));
    const Log& log = r.board.log;
    std::vector<size_t> answers;
    for (size_t i : Where(log, {kRegisterRequest}))
      if (log[i].setup.bmRequestType == 0x40 && log[i].setup.wValue == 0x000E) answers.push_back(i);
    ASSERT_EQ(answers.size(), c.answers);
    EXPECT_TRUE(c.answers < 2 || log[answers[1]].data == std::vector<uint8_t>({0, 1}));
    if (c.result == 1) {
      EXPECT_TRUE(BothCopies(r.board.Flash(), image));
    } else {
      EXPECT_TRUE(r.Untouched());
      EXPECT_FALSE(Sent(log, {kFlashCommand}));
      EXPECT_EQ(r.board.Config().mode, sim::Mode::App);
      EXPECT_EQ(ChallengeCounter(r.board), 0u);
    }
    if (c.seconds) {
      // The ROM wait never takes the firmware IDs it sees instead of the ROM IDs.
      EXPECT_EQ(Count(r.p.out, "    Not_Our_billboard_0\n"), 5u) << r.p.out;
      EXPECT_EQ(r.board.run_us / 1000000, c.seconds);
      EXPECT_TRUE(r.p.out.ends_with("    DeviceNotFound\nReturn_Value = 0x0\n"));
    }
    if (std::string(c.name) == "enabled_file") {  // challenge, answer, counter on the wire
      EXPECT_EQ(ChallengeValues(log, 0x0F), (std::vector<uint16_t>{0, 1}));
      const size_t rng = Find(log, [](const auto& t) { return t.setup.wValue == 0x000D; });
      ASSERT_LT(rng + 2, log.size());
      ExpectSetup(log[rng], 0xC0, 0xE0, 0x000D, 0, 2);
      ExpectSetup(log[rng + 1], 0x40, 0xE0, 0x000E, 0, 2);
      ExpectSetup(log[rng + 2], 0xC0, 0xE0, 0x000F, 0, 2);
    }
    if (setting) {
      EXPECT_EQ(CountRequests(log, kReset) + CountRequests(log, kToRom), 0u);
      EXPECT_LT(answers[0], FirstFlashChange(log));
      EXPECT_TRUE(c.result == 0 || answers[1] > LastFlashRequest(log));
      EXPECT_THAT(ReadFile(r.board.dir() + "/state.ini"), HasSubstr("ChallengeCounter=0000"));
    }
  }
}

}  // namespace
}  // namespace pdflash::test
