// The update's settings around the write itself: expert mode, the LED
// register, the reset afterwards, a device already in ROM code, the unlock
// challenge, and the result as a controlling application receives it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>

#include "scenario/scenario_support.h"

namespace pdflash::test {
namespace {

using ::testing::HasSubstr;

constexpr uint16_t kLed = 0x2A16;

size_t FirstFlashChange(const std::vector<sim::TransferRecord>& log) {
  for (size_t i = 0; i < log.size(); ++i)
    if (log[i].setup.bRequest == kSectorErase || log[i].setup.bRequest == kProgram) return i;
  return log.size();
}

size_t LastFlashRequest(const std::vector<sim::TransferRecord>& log) {
  size_t last = 0;
  for (size_t i = 0; i < log.size(); ++i) {
    const uint8_t q = log[i].setup.bRequest;
    if (q == kReadData || q == kReadStatus || q == kSectorErase || q == kProgram ||
        q == kFlashCommand)
      last = i;
  }
  return last;
}

size_t IndexOfRegisterWrite(const std::vector<sim::TransferRecord>& log, uint16_t address,
                            uint8_t value) {
  for (size_t i = 0; i < log.size(); ++i) {
    const SetupPacket& s = log[i].setup;
    if (s.bRequest == kRegisterRequest && s.bmRequestType == 0x40 && (s.wValue & 0xFF) == 0x02 &&
        (s.wValue >> 8 | s.wIndex << 8) == address && log[i].data.at(0) == value)
      return i;
  }
  return log.size();
}

// A share setting of 2 updates only the companion chips: the PD flash is not
// touched and the PD file is not even read, yet the reset still follows.
TEST(UpdateModes, ExpertModeLeavesThePdFlashAlone) {
  Program p;
  SimBoard board(p);
  board.Init();
  board.LoadFirmware(Firmware(0xC800, 0x0E010100), true, true);
  const auto before = board.Flash();
  WriteBytes(p.File("new.bin"), {0x00});  // no PD image at all
  p.Settings(std::string(kBoardIds) +
             "PD1Bin=new.bin\nHubPDShareSPI=2\nHub1Bin=hub.bin\nResetAfterUpdate=1\n");
  EXPECT_EQ(board.Run(), 1u) << p.out;
  EXPECT_THAT(p.out, HasSubstr("Expert_Mode: Only_Update_Share_Device.\n"));
  EXPECT_THAT(p.out, HasSubstr("=    PD_FW_Update_PASS.   =\n"));
  EXPECT_FALSE(ChangesFlash(board.log));
  EXPECT_EQ(board.log.back().setup.bRequest, 0xB0);
  EXPECT_TRUE(board.Flash() == before);
  EXPECT_THAT(board.DeviceIni(), HasSubstr("Mode=App"));
}

// Register 0x2A16 is 1 for the whole operation and 0 after it, whichever way
// the operation ends.
TEST(UpdateModes, LedFlickerFramesTheOperationOnEveryPath) {
  const auto image = Firmware(0xC800, 0x0E010200, 9);
  auto bad_crc = image;
  bad_crc[0x100] ^= 0xFF;
  uint32_t program_transfer = 0;  // a program request of the uncut run, counted from 1
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    bool cut_write;
    uint32_t result;
    const char* line;
  };
  for (const Case& c : {Case{"pass", image, false, 1, "=    PD_FW_Update_PASS.   =\n"},
                        Case{"refused", bad_crc, false, 0, "Protection: Bin_CRC16="},
                        Case{"write_fails", image, true, 0, "Write_FW1_Fail\n"}}) {
    SCOPED_TRACE(c.name);
    Program p;
    SimBoard board(p);
    std::vector<std::string> keys;
    if (c.cut_write) keys.push_back("FailTransfer=" + Hex(program_transfer));
    board.Init(keys);
    board.LoadFirmware(Firmware(0xC800, 0x0E010100), true, true);
    WriteBytes(p.File("new.bin"), c.file);
    p.Settings(std::string(kBoardIds) + "PD1Bin=new.bin\nLEDFlicker=1\n");
    EXPECT_EQ(board.Run(), c.result) << p.out;
    EXPECT_THAT(p.out, HasSubstr(c.line));
    EXPECT_EQ(RegisterWrites(board.log, kLed), (std::vector<uint8_t>{1, 0}));
    const size_t on = IndexOfRegisterWrite(board.log, kLed, 1),
                 off = IndexOfRegisterWrite(board.log, kLed, 0);
    EXPECT_LT(on, FirstFlashChange(board.log));
    EXPECT_GT(off, LastFlashRequest(board.log));
    EXPECT_TRUE(ValidCopy(board.Flash(), 0x20000, 0xC800));
    if (program_transfer == 0) {
      size_t programs = 0;
      for (size_t i = 0; i < board.log.size() && !program_transfer; ++i)
        if (board.log[i].setup.bRequest == kProgram && ++programs == 100)
          program_transfer = static_cast<uint32_t>(i + 1);
    }
  }
}

// With the reset the device restarts into the new firmware; without it, it
// stays in ROM code. A device that is in ROM code from the start gets no
// jump request at all.
TEST(UpdateModes, FromRomCodeAndTheResetAfterwards) {
  for (bool reset : {true, false}) {
    SCOPED_TRACE(reset ? "reset" : "no reset");
    Program p;
    SimBoard board(p);
    board.Init({"Mode=Rom"});
    board.LoadFirmware(Firmware(0xC800, 0x0E010100), true, false);
    const auto image = Firmware(0xC800, 0x0E010200, 9);
    WriteBytes(p.File("new.bin"), image);
    p.Settings(std::string(kBoardIds) + "PD1Bin=new.bin\n" + (reset ? "ResetAfterUpdate=1\n" : ""));
    EXPECT_EQ(board.Run(), 1u) << p.out;
    EXPECT_EQ(CountRequests(board.log, 0xA0), 0u);
    EXPECT_EQ(CountRequests(board.log, 0xB0), reset ? 1u : 0u);
    if (reset) {
      EXPECT_EQ(board.log.back().setup.bRequest, 0xB0);
    }
    EXPECT_TRUE(Same(board.Flash(), 0x20000, image) && Same(board.Flash(), 0x30000, image));
    EXPECT_EQ(board.Run({"/F0"}), reset ? 0x0E010200u : 0x35000100u) << p.out;
  }
}

// The unlock challenge before the jump: the file must be challenge-enabled
// (flag word bit 31) and the device's VID 0x291A, unless bit 7 skips the
// check; a refused file locks the challenge again. ROM code has no gate. With
// SkipJumpRom the firmware keeps running: the gate answers before the update
// and locks again after it.
TEST(UpdateModes, UnlockChallenge) {
  struct Case {
    const char* name;
    const char* need;  // NeedMathChallenge
    uint16_t vid;      // device and file
    bool flagged;
    const char* start;  // device.ini key, or a settings line with '\n'
    uint32_t result;
    const char* line;
    size_t answers;  // answer requests: the answer, and the counter sent back to lock
  };
  for (const Case& c :
       {Case{"enabled_file", "1", 0x291A, true, "", 1, "=    PD_FW_Update_PASS.   =\n", 1},
        Case{"file_without_flag", "1", 0x291A, false, "", 0,
             "    Not_Math-Challenge-Bin_Or_VID_rst_0_291A\n", 2},
        Case{"other_vid", "1", 0x2109, true, "", 0,
             "    Not_Math-Challenge-Bin_Or_VID_rst_80000000_2109\n", 2},
        Case{"check_skipped", "81", 0x2109, false, "", 1, "\t Skip_Check_Math-Challenge-Bin_rst\n",
             1},
        // Without the answer the locked firmware ignores the jump.
        Case{"no_challenge_set", "0", 0x291A, true, "", 0, "Return_Value = 0x0\n", 0},
        Case{"rom_code", "1", 0x291A, false, "Mode=Rom", 1, "=    PD_FW_Update_PASS.   =\n", 0},
        Case{"firmware_keeps_running", "1", 0x291A, true, "SkipJumpRom=1\n", 1,
             "    FW_Code_Update, No_Check.\n", 2}}) {
    SCOPED_TRACE(c.name);
    const std::string start = c.start;
    const bool setting = start.find('\n') != std::string::npos;
    Program p;
    SimBoard board(p);
    std::vector<std::string> keys = {"ChallengeClient=1", "AppVID=" + Hex(c.vid, 4)};
    if (!setting && !start.empty()) keys.push_back(start);
    board.Init(keys);
    fwgen::PdFirmwareSpec old_fw;
    old_fw.vid = c.vid;
    board.LoadFirmware(fwgen::MakePdFirmware(old_fw), true, true);
    const auto before = board.Flash();
    fwgen::PdFirmwareSpec new_fw = old_fw;
    new_fw.version = 0x0E010200;
    if (c.flagged) new_fw.flag = 0x80000000;
    const auto image = fwgen::MakePdFirmware(new_fw);
    WriteBytes(p.File("new.bin"), image);
    p.Settings("PD1VID=" + Hex(c.vid, 4) + "\n" + kBoardIds + "PD1Bin=new.bin\nNeedMathChallenge=" +
               c.need + "\n" + (setting ? start : std::string()));
    EXPECT_EQ(board.Run(), c.result) << p.out;
    EXPECT_THAT(p.out, HasSubstr(c.line));

    std::vector<size_t> answers;
    for (size_t i = 0; i < board.log.size(); ++i) {
      const SetupPacket& q = board.log[i].setup;
      if (q.bmRequestType == 0x40 && q.bRequest == kRegisterRequest && q.wValue == 0x000E)
        answers.push_back(i);
    }
    EXPECT_EQ(answers.size(), c.answers);
    if (c.result == 1) {
      EXPECT_TRUE(Same(board.Flash(), 0x20000, image) && Same(board.Flash(), 0x30000, image));
    } else {
      EXPECT_FALSE(ChangesFlash(board.log));
      EXPECT_TRUE(board.Flash() == before);
      EXPECT_THAT(board.DeviceIni(), HasSubstr("Mode=App"));
    }
    if (setting) {
      EXPECT_EQ(CountRequests(board.log, 0xB0) + CountRequests(board.log, 0xA0), 0u);
      ASSERT_EQ(answers.size(), 2u);
      EXPECT_LT(answers[0], FirstFlashChange(board.log));
      EXPECT_GT(answers[1], LastFlashRequest(board.log));
      EXPECT_THAT(ReadFile(board.dir() + "/state.ini"), HasSubstr("ChallengeCounter=0000"));
    }
  }
}

// What a controlling application reads: the time line, the box, the return
// line with its prefix, Result.txt and the exit code.
TEST(UpdateModes, ResultAsTheControllerSeesIt) {
  for (bool good : {true, false}) {
    SCOPED_TRACE(good ? "pass" : "fail");
    Program p;
    SimBoard board(p);
    const ChipKind chip = Chip64K();
    board.Init(chip.keys);
    board.LoadFirmware(Firmware(chip.size, chip.version), true, true);
    auto image = Firmware(chip.size, chip.version + 0x100, 9);
    if (!good) image[0] = 0x01;
    WriteBytes(p.File("new.bin"), image);
    p.Settings(std::string(kBoardIds) + "PD1Bin=new.bin\nReturnZeroAsOK=1\nOutputResult=1\n");
    EXPECT_EQ(board.Run(), good ? 0u : 1u) << p.out;
    EXPECT_THAT(p.out, HasSubstr(good ? "\n===========================\n=    PD_FW_Update_PASS.   "
                                        "=\n===========================\n"
                                      : "\n===========================\n=    PD_FW_Update_FAIL.   "
                                        "=\n===========================\n"));
    EXPECT_THAT(p.out,
                HasSubstr(good ? "Success, Return_Value = 0x0\n" : "Failed, Return_Value = 0x1\n"));
    EXPECT_EQ(ReadFile(p.File("Result.txt")), good ? "0x00000000" : "0x00000001");

    // Minutes and seconds of the operation's own time on the board's clock.
    int minutes = -1, seconds = -1;
    const size_t at = p.out.find("    Use_Time = ");
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(std::sscanf(p.out.c_str() + at, "    Use_Time = %dm %ds\n", &minutes, &seconds), 2);
    EXPECT_LT(seconds, 60);
    size_t start = 0;
    while (start < board.log.size() && board.log[start].setup.bRequest != kFlashCommand) ++start;
    const double spent = good ? (board.log.back().time_us - board.log[start].time_us) / 1e6 : 0;
    EXPECT_NEAR(minutes * 60 + seconds, spent, 1.0);
    if (good) {
      EXPECT_GE(minutes, 1);  // a 64 KiB update takes more than a minute
    }
  }
}

}  // namespace
}  // namespace pdflash::test
