// Application firmware and ROM code: the switch to ROM code and the wait for
// it, the unlock challenge around it, and the functions that only read what
// runs or what the flash holds (version queries, copy versions, QC checks,
// the update check).
#include <gtest/gtest.h>

#include <optional>

#include "image/bytes.h"
#include "scenario/device_scenario.h"

namespace pdflash::test {
namespace {

constexpr uint32_t kRunning = 0x0E010300;

bool Sent(const Log& log, uint8_t request) {
  return Find(log, [&](const auto& r) { return r.setup.bRequest == request; }) < log.size();
}

TEST(DeviceMode, VersionQueriesReturnWhatTheSearchRead) {
  struct Case {
    const char* what;
    std::vector<std::string> board;
    std::optional<uint32_t> firmware;
    std::string settings;
    const char* sw;
    uint32_t result;
    std::string tail;  // end of the output
  };
  const Case cases[] = {
      {"running firmware", {}, kRunning, "", "/F0", kRunning, "Return_Value = 0xE010300\n"},
      {"ROM code answers with its own version",
       {"Mode=Rom", "RomVersion=35000107"},
       kRunning,
       "",
       "/F0",
       0x35000107,
       "Return_Value = 0x35000107\n"},
      // A version is a value, not a verdict, except for the two that look like one.
      {"version 1", {}, 1, "ReturnZeroAsOK=1\n", "/F0", 0, "Success, Return_Value = 0x0\n"},
      {"no version",
       {},
       std::nullopt,
       "ReturnZeroAsOK=1\n",
       "/F0",
       1,
       "Failed, Return_Value = 0x1\n"},
      {"bcdDevice", {"BcdDevice=0312"}, kRunning, "", "/BCDDEV", 0x312, "Return_Value = 0x312\n"},
      {"/F2 runs nothing", {}, kRunning, "", "/F2", 0, "Return_Value = 0x0\n"},
      {"/F3 runs nothing",
       {},
       kRunning,
       "ReturnZeroAsOK=1\n",
       "/F3",
       1,
       "Failed, Return_Value = 0x1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Program p;
    SimBoard board(p);
    board.Init(c.board);
    if (c.firmware) board.LoadFirmware(Firmware(*c.firmware));
    p.Settings(std::string(kBoardIds) + c.settings);
    EXPECT_EQ(board.Run({c.sw}), c.result);
    EXPECT_TRUE(p.out.ends_with(c.tail)) << p.out;
    // Queries look, they never switch the device.
    EXPECT_TRUE(Sent(board.log, 0xE2));
    EXPECT_FALSE(Sent(board.log, 0xA0) || Sent(board.log, 0xB0) || Sent(board.log, 0xC0));
    EXPECT_EQ(board.Config().mode,
              c.board.empty() || c.board[0] != "Mode=Rom" ? sim::Mode::App : sim::Mode::Rom);
  }
}

TEST(DeviceMode, UpdateCheckComparesRunningAndFileVersions) {
  struct Case {
    int mode;
    uint32_t file;
    std::string extra;
    uint32_t result;
    std::string tail;
  };
  const Case cases[] = {
      {0, kRunning + 0x100, "", 1, "Return_Value = 0x1\n"},
      {0, kRunning, "", 3, "Return_Value = 0x3\n"},
      {0, kRunning - 0x100, "", 3, "Return_Value = 0x3\n"},
      {1, kRunning, "", 1, "Return_Value = 0x1\n"},
      {1, kRunning - 0x100, "", 3, "Return_Value = 0x3\n"},
      {2, kRunning - 0x100, "", 1, "Return_Value = 0x1\n"},
      {2, kRunning, "", 3, "Return_Value = 0x3\n"},
      {3, kRunning - 0x100, "", 1, "Return_Value = 0x1\n"},
      {4, kRunning, "", 3, "Return_Value = 0x3\n"},  // unknown modes compare like 0
      {0, kRunning + 0x100, "ReturnZeroAsOK=1\n", 0, "Success, Return_Value = 0x0\n"},
      {0, kRunning, "ReturnZeroAsOK=1\n", 3, "\nReturn_Value = 0x3\n"},
      // Nothing in this run reads the hub's running version: any hub file is newer.
      {0, kRunning, "HubPDShareSPI=1\nHub1Bin=hub.bin\n", 1, "Return_Value = 0x1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("NeedUpdateMode=" + std::to_string(c.mode) + " " + c.extra);
    Program p;
    SimBoard board(p);
    board.Init();
    board.LoadFirmware(Firmware(kRunning));
    WriteBytes(p.File("pd.bin"), Firmware(c.file));
    WriteBytes(p.File("hub.bin"), fwgen::MakeHubFirmware({}));
    p.Settings(std::string(kBoardIds) + "PD1Bin=pd.bin\nNeedUpdateMode=" + std::to_string(c.mode) +
               "\n" + c.extra);
    EXPECT_EQ(board.Run({"/CKFW"}), c.result);
    EXPECT_NE(
        p.out.find("Need_FW_Update_Mode(" + std::to_string(c.mode) + ")? Need(1), No_Need(3)\n"),
        std::string::npos);
    EXPECT_TRUE(p.out.ends_with(c.tail)) << p.out;
    EXPECT_FALSE(Sent(board.log, 0xA0) || Sent(board.log, 0xD4));
  }

  // No device of ours: no answer at all.
  Program p;
  SimBoard board(p);
  board.Init({"AppVID=1234"});
  WriteBytes(p.File("pd.bin"), Firmware(kRunning));
  p.Settings(std::string(kBoardIds) + "PD1Bin=pd.bin\nReturnZeroAsOK=1\n");
  EXPECT_EQ(board.Run({"/CKFW"}), 1u);
  EXPECT_TRUE(p.out.ends_with("    DeviceNotFound\nFailed, Return_Value = 0x1\n")) << p.out;
}

TEST(DeviceMode, QcChecksReadWhatTheSearchFound) {
  struct Case {
    std::string settings;
    uint32_t result;
    std::string line;
  };
  const Case cases[] = {
      {"QCModeOnly=3\nTargetPDVer=E010300\n", 1, "\tQC_Mode:\nQC_Ver_Sts:1\n"},
      {"QCModeOnly=3\nTargetPDVer=E010200\n", 0, "QC_Ver_Sts:0\n"},
      // A shared DP converter's version is not read here: it counts as 0.
      {"QCModeOnly=3\nTargetPDVer=E010300\nPDDPShareSPI=1\n", 0, "QC_Ver_Sts:0\n"},
      {"QCModeOnly=3\nTargetPDVer=E010300\nPDDPShareSPI=1\nTargetDPVer=0\n", 1, "QC_Ver_Sts:1\n"},
      {"QCModeOnly=3\nTargetPDVer=E010300\nReturnZeroAsOK=1\n", 0,
       "QC_Ver_Sts:1\nSuccess, Return_Value = 0x0\n"},
      {"QCModeOnly=4\n", 0xA51C, "\tQC_Mode:\nQC_UFP_Sts:A51C\n"},
      {"QCModeOnly=5\n", 0, "\tQC_Mode:\nQC_Unsupport\nReturn_Value = 0x0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings);
    Program p;
    SimBoard board(p);
    board.Init({"UfpStatus=A51C"});
    board.LoadFirmware(Firmware(kRunning));
    p.Settings(std::string(kBoardIds) + c.settings);
    EXPECT_EQ(board.Run(), c.result);
    EXPECT_NE(p.out.find(c.line), std::string::npos) << p.out;
    EXPECT_FALSE(Sent(board.log, 0xA0));
    EXPECT_EQ(board.Config().mode, sim::Mode::App);
  }
}

TEST(DeviceMode, ReadVerOnlyStaysInTheFirmware) {
  Program p;
  SimBoard board(p);
  board.Init();
  board.LoadFirmware(Firmware(kRunning));
  p.Settings(std::string(kBoardIds) + "ReadVerOnly=1\nForceGPIO8Low=1\n");
  EXPECT_EQ(board.Run(), 1u);
  EXPECT_NE(p.out.find("=  KMPDx:2109/0107, Version:0E.01.03.00 =\n"), std::string::npos) << p.out;
  EXPECT_FALSE(Sent(board.log, 0xA0) || Sent(board.log, 0xB0));
  EXPECT_EQ(board.Config().mode, sim::Mode::App);
  // GPIO8 driven low between two pauses of a second: output enable on, level off.
  EXPECT_NE(p.out.find("    GPIO8_Low\nReturn_Value = 0x1\n"), std::string::npos) << p.out;
  const size_t write = Find(board.log, [](const auto& r) { return IsRegWrite(r, 0x0002); });
  ASSERT_LT(write, board.log.size());
  EXPECT_GE(board.log[write - 1].time_us, board.log[write - 2].time_us + 1000000);
  EXPECT_EQ(board.Register(0x0002), 0x80);
}

TEST(DeviceMode, SharedFlashHasGpio8PulledLow) {
  // With a VMM6 hub on the same flash, GPIO8 must be low before the flash is
  // touched; functions that do not touch it leave the pin alone.
  struct Case {
    const char* what;
    std::string settings;
    std::vector<std::string> args;
    uint8_t after;  // register 0x0002, from 0x0F
    std::string lines;
    size_t lows;  // "GPIO8_Low" lines
  };
  const Case cases[] = {
      {"version read",
       "ReadVerOnly=1\n",
       {},
       0x87,
       "    Get_USB_Set_Address = 0x05\n    GPIO8_Low\n",
       1},
      {"version query", "DbgMsg=1\n", {"/F0"}, 0x0F, "    No_Pull_Down2\n", 0},
      {"pin control skipped",
       "ReadVerOnly=1\nSkipGPIO8Ctl=1\n",
       {},
       0x0F,
       "    Skip_GPIO8_Low_3\n",
       0},
      {"I2C test", "I2CTestOnly=1\nDbgMsg=1\n", {}, 0x0F, "    No_Pull_Down1\n", 0},
      // The search pulls it, the switch to ROM code drops GPIO 2 and 6 and
      // pulls GPIO8 again, and the ROM code is searched and pulled once more.
      {"copy version",
       "ReadSPIPDFWOnly=1\n",
       {},
       0x85,
       "    GPIO8_Low\n    Reset_To_Default_Mode...\n",
       3},
      {"copy version, pin control skipped",
       "ReadSPIPDFWOnly=1\nSkipGPIO8Ctl=1\n",
       {},
       0x0D,
       "    Skip_GPIO8_Low_3\n    Skip_GPIO8_Low_1\n    Reset_To_Default_Mode...\n",
       0},
      // Forced low on top: not subject to SkipGPIO8Ctl.
      {"copy version, forced",
       "ReadSPIPDFWOnly=1\nSkipGPIO8Ctl=1\nForceGPIO8Low=1\n",
       {},
       0x85,
       "    Skip_GPIO8_Low_1\n    GPIO8_Low\n    Reset_To_Default_Mode...\n",
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Program p;
    SimBoard board(p);
    board.Init();
    board.LoadFirmware(Firmware(kRunning));
    p.Settings(std::string(kBoardIds) + "RWRegEnable=1\n");
    ASSERT_EQ(board.Run({"/WRREG", "0002", "0F"}), 1u);
    p.Settings(std::string(kBoardIds) + "PDVMM6ShareSPI=1\nVMM6Bin=vmm6.bin\n" + c.settings);
    board.Run(c.args);
    EXPECT_NE(p.out.find(c.lines), std::string::npos) << p.out;
    EXPECT_EQ(Count(p.out, "    GPIO8_Low\n"), c.lows);
    EXPECT_EQ(board.Register(0x0002), c.after);
  }
}

TEST(DeviceMode, JumpToRomCodeFollowsTheIdentityFamily) {
  struct Case {
    const char* identity;
    std::vector<uint8_t> jump;
  };
  const Case cases[] = {{"70", {0xA0, 0xB0}}, {"81", {0xC0}},       {"A0", {0xC0}},
                        {"90", {0xA0, 0xB0}}, {"B0", {0xA0, 0xB0}}, {"C0", {0xA0, 0xB0}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.identity);
    Program p;
    SimBoard board(p);
    board.Init({std::string("Identity=") + c.identity});
    board.LoadFirmware(Firmware(kRunning));
    // GPIO outputs that the switch must quiet first.
    p.Settings(std::string(kBoardIds) + "RWRegEnable=1\n");
    ASSERT_EQ(board.Run({"/WRREG", "0002", "FF"}), 1u);

    p.Settings(std::string(kBoardIds) + "ReadSPIPDFWOnly=1\nForceGPIO8Low=1\n");
    EXPECT_EQ(board.Run(), kRunning) << p.out;
    EXPECT_EQ(board.Config().mode, sim::Mode::Rom);
    std::vector<uint8_t> jump;
    for (const auto& r : Requests(board.log, {0xA0, 0xB0, 0xC0})) {
      jump.push_back(r.setup.bRequest);
      ExpectSetup(r, 0x40, r.setup.bRequest, 0, 0, 0);
    }
    EXPECT_EQ(jump, c.jump);

    // Before the jump: GPIO outputs 1 and 5 off, watchdogs quiet, then GPIO8 low.
    const Log& log = board.log;
    const size_t first = Find(log, [](const auto& r) { return IsRegWrite(r, 0x0002); });
    ASSERT_LT(first + 3, log.size());
    EXPECT_EQ(log[first].data, std::vector<uint8_t>{0xDD});
    ExpectSetup(log[first], 0x40, 0xE0, 0x0202, 0x0000, 1);
    EXPECT_TRUE(IsRegWrite(log[first + 1], 0x0015) && log[first + 1].data[0] == 0x7F);
    EXPECT_TRUE(IsRegWrite(log[first + 2], 0x0019) && log[first + 2].data[0] == 0x00);
    EXPECT_TRUE(IsRegWrite(log[first + 3], 0x001C) && log[first + 3].data[0] == 0x02);
    EXPECT_EQ(board.Register(0x0002), 0xD5);
    EXPECT_EQ(Count(p.out, "    GPIO8_Low\n"), 2u);

    // The ROM wait finds the device at its first search: 3 s after the jump
    // it is back under the ROM IDs.
    const size_t last_jump = Find(
        log, [](const auto& r) { return r.setup.bRequest == 0xB0 || r.setup.bRequest == 0xC0; });
    ASSERT_LT(last_jump + 1, log.size());
    EXPECT_GE(log[last_jump + 1].time_us, log[last_jump].time_us + 3000000);
    EXPECT_EQ(Count(p.out, "    Found Target Device: \n"), 2u) << p.out;
    ExpectPaced(log);
  }
}

TEST(DeviceMode, CopyVersionsBySelector) {
  const auto a = Firmware(0x0E010301), b = Firmware(0x0E010302);
  const auto small = Firmware(0x0D010303, 0x8000);
  auto foreign_spec = fwgen::PdFirmwareSpec{};
  foreign_spec.version = 0x0E010304;
  foreign_spec.vid = 0x1234;
  const auto foreign = fwgen::MakePdFirmware(foreign_spec);
  auto broken = a;
  broken[0x2000] ^= 0xFF;

  struct Case {
    const char* what;
    std::vector<std::pair<uint32_t, const std::vector<uint8_t>*>> flash;
    int selector;
    uint32_t result;
    std::string lines;
  };
  const Case cases[] = {
      {"both copies, first",
       {{0x20000, &a}, {0x30000, &b}},
       1,
       0x0E010301,
       "    Size_Match_at: 50KB\n"},
      {"both copies, second",
       {{0x20000, &a}, {0x30000, &b}},
       2,
       0x0E010302,
       "=    PD[1] FW Version is 0E.01.03.02    =\n"},
      {"both copies, any", {{0x20000, &a}, {0x30000, &b}}, 3, 0x0E010301, ""},
      {"32 KiB copy, first",
       {{0x28000, &small}},
       1,
       0,
       "    Read_Start_Adr = 20000\nSPI[20000] = FF\nReturn_Value = 0x0\n"},
      {"32 KiB copy, second",
       {{0x28000, &small}},
       2,
       0x0D010303,
       "SPI[30000] = FF\n    Read_Start_Adr = 28000\n    Size_Match_at: 32KB\n"},
      {"32 KiB copy, any",
       {{0x28000, &small}},
       0xFF,
       0x0D010303,
       "SPI[20000] = FF\n    Read_Start_Adr = 30000\nSPI[30000] = FF\n"},
      {"broken first copy", {{0x20000, &broken}, {0x30000, &b}}, 1, 0, ""},
      {"broken first copy, any", {{0x20000, &broken}, {0x30000, &b}}, 3, 0x0E010302, ""},
      {"foreign first copy",
       {{0x20000, &foreign}, {0x30000, &b}},
       3,
       0x0E010302,
       "    Loop0_VID = 1234/0000\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Program p;
    SimBoard board(p);
    board.Init({"Mode=Rom"});
    for (const auto& [address, image] : c.flash) board.Load(address, *image);
    p.Settings(std::string(kBoardIds) + "DbgMsg=1\nReadSPIPDFWOnly=" + std::to_string(c.selector) +
               "\n");
    EXPECT_EQ(board.Run(), c.result);
    EXPECT_NE(p.out.find(c.lines), std::string::npos) << p.out;
    // In ROM code already: no switch, and the flash is only read.
    EXPECT_FALSE(Sent(board.log, 0xA0) || Sent(board.log, 0xD4) || Sent(board.log, 0xDC));
  }
}

// The board of the challenge scenarios: firmware built for the challenge,
// under the challenge VID, on a controller that checks client 1's answers.
struct ChallengeBoard {
  explicit ChallengeBoard(std::vector<std::string> keys = {"ChallengeClient=1", "AppVID=291A"})
      : board(p) {
    board.Init(keys);
    board.LoadFirmware(Firmware(kRunning));
  }
  void Settings(const std::string& need, std::optional<uint32_t> flag, uint16_t vid,
                const std::string& extra = "") {
    fwgen::PdFirmwareSpec spec;
    spec.version = 0x0E010400;
    spec.vid = vid;
    spec.flag = flag;
    image = fwgen::MakePdFirmware(spec);
    WriteBytes(p.File("new.bin"), image);
    char ids[128];
    std::snprintf(ids, sizeof ids, "PD1VID=%X\nPD1PID=0107\nPD1RomVID=2109\nPD1RomPID=1107\n", vid);
    p.Settings(std::string(ids) + "PD1Bin=new.bin\nDbgMsg=1\nNeedMathChallenge=" + need + "\n" +
               extra);
  }
  bool Updated() const {
    const auto flash = board.Flash();
    return std::equal(image.begin(), image.end(), flash.begin() + 0x20000);
  }
  uint16_t Counter() {
    uint16_t counter = 0;
    board.Inspect([&](sim::SimBus& bus) { counter = bus.Device(0).ChallengeCounter(); });
    return counter;
  }
  // Values the challenge status request returned, in order.
  std::vector<uint16_t> Counters() const {
    std::vector<uint16_t> out;
    for (const auto& r : board.log)
      if (r.setup.bRequest == 0xE0 && r.setup.wValue == 0x000F && r.ok)
        out.push_back(Be16(r.data.data()));
    return out;
  }
  // Answers sent, in order.
  std::vector<uint16_t> Answers() const {
    std::vector<uint16_t> out;
    for (const auto& r : board.log)
      if (r.setup.bRequest == 0xE0 && r.setup.wValue == 0x000E) out.push_back(Be16(r.data.data()));
    return out;
  }

  Program p;
  SimBoard board;
  std::vector<uint8_t> image;
};

TEST(DeviceMode, ChallengeOpensTheWayToRomCode) {
  ChallengeBoard c;
  c.Settings("1", 0x80000000, 0x291A);
  EXPECT_EQ(c.board.Run(), 1u) << c.p.out;
  EXPECT_TRUE(c.Updated());
  EXPECT_EQ(c.board.Config().mode, sim::Mode::Rom);
  EXPECT_NE(
      c.p.out.find(
          "    Call_Math_Challenge_Exe, Client = 1\n    Old_Cnt = 0x0000\n    New_Cnt = 0x0001\n"
          "    PD_Bin_FLAG = 80000000\n    Reset_To_Default_Mode...\n"),
      std::string::npos)
      << c.p.out;
  // Exactly one answer, and the device took it: the counter read after it is 1.
  EXPECT_EQ(c.Answers().size(), 1u);
  EXPECT_EQ(c.Counters(), (std::vector<uint16_t>{0, 1}));
  const Log& log = c.board.log;
  const size_t read =
      Find(log, [](const auto& r) { return r.setup.bRequest == 0xE0 && r.setup.wValue == 0x000D; });
  ASSERT_LT(read, log.size());
  ExpectSetup(log[read], 0xC0, 0xE0, 0x000D, 0, 2);
  ExpectSetup(log[read + 1], 0x40, 0xE0, 0x000E, 0, 2);
  ExpectSetup(log[read + 2], 0xC0, 0xE0, 0x000F, 0, 2);

  // Bit 7 skips the file check: the jump goes out for any file.
  ChallengeBoard skip({"ChallengeClient=1"});
  skip.Settings("81", std::nullopt, 0x2109);
  EXPECT_EQ(skip.board.Run(), 1u) << skip.p.out;
  EXPECT_NE(skip.p.out.find("    PD_Bin_FLAG_Not_Found\n\t Skip_Check_Math-Challenge-Bin_rst\n"
                            "    Reset_To_Default_Mode...\n"),
            std::string::npos)
      << skip.p.out;
  EXPECT_TRUE(skip.Updated());

  // Function test 0x92: one exchange, the device stays unlocked.
  ChallengeBoard test;
  test.p.Settings(
      "PD1VID=291A\nPD1PID=0107\nPD1RomVID=2109\nPD1RomPID=1107\nFuncTestOnly="
      "92\nNeedMathChallenge=1\n");
  EXPECT_EQ(test.board.Run(), 1u) << test.p.out;
  EXPECT_NE(test.p.out.find("Device_Function_Test_0x92\nFunction_Test_0x92\nReturn_Value = 0x1\n"),
            std::string::npos)
      << test.p.out;
  EXPECT_EQ(test.Counter(), 1u);

  // A client without a set of its own answers with the default set; the
  // challenge and the answer printed are the ones on the wire.
  ChallengeBoard other({"ChallengeClient=5", "AppVID=291A"});
  other.p.Settings(
      "PD1VID=291A\nPD1PID=0107\nPD1RomVID=2109\nPD1RomPID=1107\nFuncTestOnly=92\n"
      "NeedMathChallenge=5\nDbgMsg=2\n");
  EXPECT_EQ(other.board.Run(), 1u) << other.p.out;
  const Log& wire = other.board.log;
  const size_t rng = Find(
      wire, [](const auto& r) { return r.setup.bRequest == 0xE0 && r.setup.wValue == 0x000D; });
  ASSERT_LT(rng + 1, wire.size());
  char lines[96];
  std::snprintf(lines, sizeof lines, "    RNG = %04X\n    ANS = %04X\n    New_Cnt = 0x0001\n",
                Be16(wire[rng].data.data()), Be16(wire[rng + 1].data.data()));
  EXPECT_NE(
      other.p.out.find(
          std::string("    Call_Math_Challenge_Exe, Client = 5\n    Old_Cnt = 0x0000\n") + lines),
      std::string::npos)
      << other.p.out;
}

TEST(DeviceMode, RefusedChallengeKeepsTheFirmwareRunning) {
  struct Case {
    const char* what;
    std::vector<std::string> board;
    const char* need;
    std::optional<uint32_t> flag;
    uint16_t vid;
    std::string lines;
    std::vector<uint16_t> answers;  // every answer sent; 0xFFFF: the computed one
    uint64_t seconds;               // 3 s after a jump, then five searches 3 s apart
  };
  const Case cases[] = {
      // The answer of client 1's set on a controller of client 2.
      {"wrong answer",
       {"ChallengeClient=2", "AppVID=291A"},
       "1",
       0x80000000,
       0x291A,
       "    Old_Cnt = 0x0000\n    New_Cnt = 0x0000\n    Math_Challenge_Failed.\n    PD_Bin_FLAG = "
       "80000000\n"
       "    Reset_To_Default_Mode...\n",
       {0xFFFF},
       18},
      // Unlocked, but the file is not meant for it: locked again, no jump.
      {"file without the challenge flag",
       {"ChallengeClient=1", "AppVID=291A"},
       "1",
       0x00000001,
       0x291A,
       "    PD_Bin_FLAG = 00000001\n    Not_Math-Challenge-Bin_Or_VID_rst_1_291A\n    "
       "Lock_Math_Challenge_Exe\n"
       "    Old_Cnt = 0x0001\n    New_Cnt = 0x0000\n",
       {0xFFFF, 1},
       15},
      {"other vendor ID",
       {"ChallengeClient=1"},
       "1",
       0x80000000,
       0x2109,
       "    Not_Math-Challenge-Bin_Or_VID_rst_80000000_2109\n    Lock_Math_Challenge_Exe\n",
       {0xFFFF, 1},
       15},
      // Nothing to lock: no counter goes back.
      {"wrong answer and a file without the flag",
       {"ChallengeClient=2", "AppVID=291A"},
       "1",
       std::nullopt,
       0x291A,
       "    Math_Challenge_Failed.\n    PD_Bin_FLAG_Not_Found\n    "
       "Not_Math-Challenge-Bin_Or_VID_rst_0_291A\n"
       "    Lock_Math_Challenge_Exe\n    Old_Cnt = 0x0000\nLoop = 0\n",
       {0xFFFF},
       15},
      // A challenge nobody answers: the firmware ignores the jump.
      {"no challenge configured",
       {"ChallengeClient=1", "AppVID=291A"},
       "0",
       0x80000000,
       0x291A,
       "    Reset_To_Default_Mode...\n",
       {},
       18},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    ChallengeBoard c(k.board);
    c.Settings(k.need, k.flag, k.vid);
    const auto before = c.board.Flash();
    EXPECT_EQ(c.board.Run(), 0u);
    EXPECT_NE(c.p.out.find(k.lines), std::string::npos) << c.p.out;
    auto answers = c.Answers();
    ASSERT_EQ(answers.size(), k.answers.size());
    if (!answers.empty()) answers[0] = 0xFFFF;
    EXPECT_EQ(answers, k.answers);
    // The ROM wait looks five times for the ROM IDs and never takes the
    // firmware IDs it sees instead, 3 s apart.
    EXPECT_EQ(Count(c.p.out, "    Not_Our_billboard_0\n"), 5u) << c.p.out;
    EXPECT_EQ(Count(c.p.out, "    DeviceNotFound\n"), 5u);
    EXPECT_GE(c.board.run_us, k.seconds * 1000000);
    EXPECT_LT(c.board.run_us, (k.seconds + 1) * 1000000);
    EXPECT_TRUE(c.p.out.ends_with("    DeviceNotFound\nReturn_Value = 0x0\n"));
    EXPECT_EQ(c.board.Config().mode, sim::Mode::App);
    EXPECT_EQ(c.board.Flash(), before);
    EXPECT_EQ(c.Counter(), 0u);
  }

  // Firmware that shows the ROM IDs is found by the ROM wait, but it is not
  // ROM code: closed again, five times.
  Program p;
  SimBoard board(p);
  board.Init({"ChallengeClient=1", "AppPID=1107"});
  board.LoadFirmware(Firmware(kRunning));
  p.Settings(std::string(kBoardIds) + "ReadSPIPDFWOnly=1\n");
  EXPECT_EQ(board.Run(), 0u);
  EXPECT_EQ(Count(p.out, "    Found Target Device: \n"), 6u) << p.out;
  EXPECT_EQ(p.out.find("Not_Our_billboard"), std::string::npos);
  EXPECT_GE(board.run_us, 18000000u);
  EXPECT_EQ(board.Config().mode, sim::Mode::App);
}

TEST(DeviceMode, ChallengeGateAroundWorkInTheFirmware) {
  // With SkipJumpRom the firmware itself serves the flash: the gate unlocks
  // before the operation and locks after it.
  ChallengeBoard c;
  c.Settings("1", 0x80000000, 0x291A, "SkipJumpRom=1\n");
  EXPECT_EQ(c.board.Run(), 1u) << c.p.out;
  EXPECT_TRUE(c.Updated());
  EXPECT_EQ(c.board.Config().mode, sim::Mode::App);
  EXPECT_FALSE(Sent(c.board.log, 0xA0));
  ASSERT_EQ(c.Answers().size(), 2u);  // the answer, then the counter to lock
  EXPECT_EQ(c.Answers().back(), 1u);
  EXPECT_EQ(c.Counter(), 0u);
  EXPECT_NE(c.p.out.find("    Lock_Math_Challenge_Exe\n    Old_Cnt = 0x0001\n    New_Cnt = "
                         "0x0000\nReturn_Value = 0x1\n"),
            std::string::npos)
      << c.p.out;

  // The same with a file not built for the challenge: locked, nothing written.
  ChallengeBoard refused;
  refused.Settings("1", std::nullopt, 0x291A, "SkipJumpRom=1\n");
  const auto before = refused.board.Flash();
  EXPECT_EQ(refused.board.Run(), 0u);
  EXPECT_NE(
      refused.p.out.find("    PD_Bin_FLAG_Not_Found\n\t Not_Math-Challenge-Bin_Or_VID_std_0_291A\n"
                         "    Lock_Math_Challenge_Exe\n"),
      std::string::npos)
      << refused.p.out;
  EXPECT_EQ(refused.board.Flash(), before);
  EXPECT_EQ(refused.Counter(), 0u);
  EXPECT_FALSE(Sent(refused.board.log, 0xD4));

  // Reading the version passes the gate without a challenge.
  ChallengeBoard read;
  read.Settings("1", 0x80000000, 0x291A, "SkipJumpRom=1\nReadVerOnly=1\n");
  EXPECT_EQ(read.board.Run(), 1u);
  EXPECT_TRUE(read.Answers().empty());
  EXPECT_TRUE(read.Counters().empty());
}

}  // namespace
}  // namespace pdflash::test
