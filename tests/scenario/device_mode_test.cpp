// Queries, the switch to ROM code and the unlock challenge.
#include "scenario/scenario_support.h"

namespace pdflash::test {
namespace {

constexpr uint32_t kRunning = 0x0E010300;
constexpr const char* kZeroOk = "ReturnZeroAsOK=1\n";
const std::string kChallengeIds = "PD1VID=291A\nPD1PID=0107\nPD1RomVID=2109\nPD1RomPID=1107\n";

TEST(DeviceMode, QueriesAnswerFromWhatTheSearchRead) {
  // A version is a value, not a verdict, except for the two that look like
  // one. A shared DP converter's version is not read here: it counts as 0.
  const std::string qc3 = "QCModeOnly=3\nTargetPDVer=E010300\n", dp = "PDDPShareSPI=1\n";
  const struct {
    std::string settings;
    const char* sw;  // "": the function the settings choose
    uint32_t result;
    std::string tail;
    std::vector<std::string> board = {};
    uint32_t firmware = kRunning;  // 0: none
  } cases[] = {{"", "/F0", kRunning, "Return_Value = 0xE010300\n"},
               {"", "/F0", 0x35000107, "= 0x35000107\n", {"Mode=Rom", "RomVersion=35000107"}},
               {kZeroOk, "/F0", 0, "Success, Return_Value = 0x0\n", {}, 1},
               {kZeroOk, "/F0", 1, "Failed, Return_Value = 0x1\n", {}, 0},
               {"", "/BCDDEV", 0x312, "Return_Value = 0x312\n", {"BcdDevice=0312"}},
               {"", "/F2", 0, "Return_Value = 0x0\n"},
               {kZeroOk, "/F3", 1, "Failed, Return_Value = 0x1\n"},
               {qc3, "", 1, "\tQC_Mode:\nQC_Ver_Sts:1\nReturn_Value = 0x1\n"},
               {"QCModeOnly=3\nTargetPDVer=E010200\n", "", 0, "QC_Ver_Sts:0\nReturn_Value = 0x0\n"},
               {qc3 + dp, "", 0, "QC_Ver_Sts:0\nReturn_Value = 0x0\n"},
               {qc3 + dp + "TargetDPVer=0\n", "", 1, "QC_Ver_Sts:1\nReturn_Value = 0x1\n"},
               {"QCModeOnly=4\n", "", 0xA51C, "\tQC_Mode:\nQC_UFP_Sts:A51C\n", {"UfpStatus=A51C"}},
               {"QCModeOnly=5\n", "", 0, "\tQC_Mode:\nQC_Unsupport\nReturn_Value = 0x0\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.settings + c.tail);
    Bench b(c.board, c.settings, c.firmware);
    EXPECT_EQ(*c.sw ? b.Run({c.sw}) : b.Run(), c.result);
    EXPECT_TRUE(b.Has(c.tail));
    // Queries look, they never switch the device.
    EXPECT_TRUE(Sent(b.board.log, {0xE2}));
    EXPECT_FALSE(Sent(b.board.log, {0xA0, 0xB0, 0xC0}));
  }
}

TEST(DeviceMode, UpdateCheckComparesRunningAndFileVersions) {
  // Nothing in this run reads a companion chip's running version: any file
  // of its own is newer. A missing or foreign one gives no answer.
  const std::string hub = "HubPDShareSPI=1\nHub1Bin=", dp = "PDDPShareSPI=1\nDP1Bin=";
  const std::string vmm6 = "PDVMM6ShareSPI=1\nVMM6Bin=";
  const struct {
    int mode, file;  // file version against the running one
    std::string extra;
    uint32_t result;
  } cases[] = {{0, 1, "", 1},  {0, 0, "", 3}, {0, -1, "", 3}, {1, 0, "", 1}, {1, -1, "", 3},
               {2, -1, "", 1}, {2, 0, "", 3}, {3, -1, "", 1}, {4, 0, "", 3},
               {0, 0, hub + "hub.bin\n", 1}, {0, 0, hub + "pd.bin\n", 0},
               {0, 0, hub + "none.bin\n", 0}, {0, 0, dp + "dp.bin\n", 1},
               {0, 0, dp + "none.bin\n", 0}, {0, 0, dp + "hub.bin\n", 0},
               {0, 0, vmm6 + "vmm6.bin\n", 1}, {0, 0, vmm6 + "none.bin\n", 0},
               {0, 0, vmm6 + "short.bin\n", 0}, {0, 1, hub + "none.bin\n", 1}};
  for (const auto& c : cases) {
    const std::string mode = std::to_string(c.mode);
    SCOPED_TRACE("NeedUpdateMode=" + mode + " " + c.extra);
    Bench b({}, "PD1Bin=pd.bin\nNeedUpdateMode=" + mode + "\n" + c.extra, kRunning);
    WriteBytes(b.p.File("pd.bin"), Firmware(0xC800, kRunning + static_cast<uint32_t>(c.file * 0x100)));
    WriteBytes(b.p.File("hub.bin"), fwgen::MakeHubFirmware({}));
    WriteBytes(b.p.File("dp.bin"), Dp(0x10000));
    WriteBytes(b.p.File("vmm6.bin"), std::vector<uint8_t>(0x8000, 0x11));
    WriteBytes(b.p.File("short.bin"), std::vector<uint8_t>(0x4002, 0x11));
    EXPECT_EQ(b.Run({"/CKFW"}), c.result);
    EXPECT_TRUE(b.Has("Need_FW_Update_Mode(" + mode + ")? Need(1), No_Need(3)\n"));
    EXPECT_TRUE(b.p.out.ends_with("\nReturn_Value = 0x" + std::to_string(c.result) + "\n"));
    EXPECT_FALSE(Sent(b.board.log, {0xA0, 0xD4}));
  }
  // No device of ours: no answer at all.
  Bench b({"AppVID=1234"}, "PD1Bin=pd.bin\n" + std::string(kZeroOk));
  WriteBytes(b.p.File("pd.bin"), Firmware(0xC800, kRunning));
  EXPECT_EQ(b.Run({"/CKFW"}), 1u);
  EXPECT_TRUE(b.p.out.ends_with("    DeviceNotFound\nFailed, Return_Value = 0x1\n")) << b.p.out;
}

TEST(DeviceMode, Gpio8GoesLowBeforeASharedFlashIsTouched) {
  // Forced, or with a VMM6 hub on the flash; a copy's version read pulls it in
  // the search, in the switch (dropping GPIO 2 and 6) and in the ROM search.
  const std::string vmm6 = "PDVMM6ShareSPI=1\nVMM6Bin=vmm6.bin\n", skip = "SkipGPIO8Ctl=1\n";
  const std::string ver = "ReadVerOnly=1\n", copy = "ReadSPIPDFWOnly=1\n";
  const std::string force = "ForceGPIO8Low=1\n", reset = "    Reset_To_Default_Mode...\n";
  const struct {
    std::string settings;
    const char* sw;
    uint8_t after;  // register 0x0002, from 0x0F
    std::string lines;
    size_t lows;  // "GPIO8_Low" lines
    bool paused = false;
  } cases[] = {{ver + force, nullptr, 0x87, "Version:0E.01.03.00 =\n", 1, true},
               {vmm6 + ver, nullptr, 0x87, "    Get_USB_Set_Address = 0x05\n    GPIO8_Low\n", 1},
               {vmm6 + "DbgMsg=1\n", "/F0", 0x0F, "    No_Pull_Down2\n", 0},
               {vmm6 + "I2CTestOnly=1\nDbgMsg=1\n", nullptr, 0x0F, "    No_Pull_Down1\n", 0},
               {vmm6 + copy, nullptr, 0x85, "    GPIO8_Low\n" + reset, 3},
               {vmm6 + copy + skip, nullptr, 0x0D,
                "    Skip_GPIO8_Low_3\n    Skip_GPIO8_Low_1\n" + reset, 0},
               {vmm6 + copy + skip + force, nullptr, 0x85, "_Low_1\n    GPIO8_Low\n" + reset, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.settings);
    Bench b({}, "RWRegEnable=1\n", kRunning);
    ASSERT_EQ(b.Run({"/WRREG", "0002", "0F"}), 1u);
    b.Settings(c.settings);
    c.sw ? b.Run({c.sw}) : b.Run();
    EXPECT_TRUE(b.Has(c.lines));
    EXPECT_EQ(Count(b.p.out, "    GPIO8_Low\n"), c.lows);
    EXPECT_EQ(b.board.Register(0x0002), c.after);
    EXPECT_EQ(Sent(b.board.log, {0xA0, 0xB0}), c.settings.find(copy) != std::string::npos);
    if (c.paused) {  // forced low: driven between pauses of a second
      const Log& log = b.board.log;
      const size_t w = Find(log, [](const auto& r) { return IsRegWrite(r, 0x0002); });
      ASSERT_TRUE(w >= 2 && w < log.size());
      EXPECT_GE(log[w - 1].time_us, log[w - 2].time_us + 1000000);
    }
  }
}

TEST(DeviceMode, JumpToRomCodeFollowsTheIdentityFamily) {
  const struct {
    const char* identity;
    std::vector<uint8_t> jump;
  } cases[] = {{"81", {0xC0}}, {"A0", {0xC0}}, {"C0", {0xA0, 0xB0}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.identity);
    // GPIO outputs that the switch must quiet first.
    Bench b({std::string("Identity=") + c.identity}, "RWRegEnable=1\n", kRunning);
    ASSERT_EQ(b.Run({"/WRREG", "0002", "FF"}), 1u);
    b.Settings("ReadSPIPDFWOnly=1\nForceGPIO8Low=1\n");
    EXPECT_EQ(b.Run(), kRunning) << b.p.out;
    EXPECT_EQ(b.board.Config().mode, sim::Mode::Rom);
    const Log& log = b.board.log;
    std::vector<uint8_t> jump;
    for (const auto& r : Requests(log, {0xA0, 0xB0, 0xC0})) {
      jump.push_back(r.setup.bRequest);
      ExpectSetup(r, 0x40, r.setup.bRequest, 0, 0, 0);
    }
    EXPECT_EQ(jump, c.jump);
    // Before the jump: GPIO outputs 1 and 5 off, watchdogs quiet, then GPIO8 low.
    const size_t first = Find(log, [](const auto& r) { return IsRegWrite(r, 0x0002); });
    ASSERT_LT(first + 3, log.size());
    const std::pair<uint16_t, uint8_t> writes[] = {{2, 0xDD}, {0x15, 0x7F}, {0x19, 0}, {0x1C, 2}};
    for (size_t k = 0; k < 4; ++k)
      EXPECT_TRUE(IsRegWrite(log[first + k], writes[k].first) &&
                  log[first + k].data == std::vector<uint8_t>{writes[k].second});
    EXPECT_EQ(b.board.Register(0x0002), 0xD5);
    EXPECT_EQ(Count(b.p.out, "    GPIO8_Low\n"), 2u);
    // The ROM wait finds the device at its first search, 3 s after the jump.
    const size_t jumped = First(log, c.jump.back());
    ASSERT_LT(jumped + 1, log.size());
    EXPECT_GE(log[jumped + 1].time_us, log[jumped].time_us + 3000000);
    EXPECT_EQ(Count(b.p.out, "    Found Target Device: \n"), 2u) << b.p.out;
  }
}

TEST(DeviceMode, CopyVersionsBySelector) {
  const auto v1 = Firmware(0xC800, 0x0E010301), v2 = Firmware(0xC800, 0x0E010302);
  const auto small = Firmware(0x8000, 0x0D010303);
  const auto foreign = fwgen::MakePdFirmware({.version = 0x0E010304, .vid = 0x1234});
  auto broken = v1;
  broken[0x2000] ^= 0xFF;
  using Copies = std::vector<std::pair<uint32_t, const std::vector<uint8_t>*>>;
  const Copies both = {{0x20000, &v1}, {0x30000, &v2}}, one = {{0x28000, &small}};
  const Copies bad = {{0x20000, &broken}, {0x30000, &v2}};
  const struct {
    Copies flash;
    int selector;
    uint32_t result;
    std::string lines;
  } cases[] = {
      {both, 1, 0x0E010301, "    Size_Match_at: 50KB\n"},
      {both, 2, 0x0E010302, "=    PD[1] FW Version is 0E.01.03.02    =\n"},
      {both, 3, 0x0E010301, ""},
      {one, 1, 0, "    Read_Start_Adr = 20000\nSPI[20000] = FF\nReturn_Value = 0x0\n"},
      {one, 2, 0x0D010303,
       "SPI[30000] = FF\n    Read_Start_Adr = 28000\n    Size_Match_at: 32KB\n"},
      {one, 0xFF, 0x0D010303, "SPI[20000] = FF\n    Read_Start_Adr = 30000\nSPI[30000] = FF\n"},
      {bad, 1, 0, ""},
      {bad, 3, 0x0E010302, ""},
      {{{0x20000, &foreign}, {0x30000, &v2}}, 3, 0x0E010302, "    Loop0_VID = 1234/0000\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.selector << " " << c.lines);
    char selector[8];  // settings numbers are hexadecimal
    std::snprintf(selector, sizeof selector, "%X", c.selector);
    Bench b({"Mode=Rom"}, std::string("DbgMsg=1\nReadSPIPDFWOnly=") + selector + "\n");
    for (const auto& [address, image] : c.flash) b.board.Load(address, *image);
    EXPECT_EQ(b.Run(), c.result);
    EXPECT_TRUE(b.Has(c.lines));
    // In ROM code already: no switch, and the flash is only read.
    EXPECT_FALSE(Sent(b.board.log, {0xA0, 0xD4, 0xDC}));
  }
}

// The unlock challenge outside the update (its refusals are the update's
// tests): function test 0x92 leaves the device unlocked, and a client without
// a set of its own answers with the default set; what is printed is what
// went out. A version read through the firmware needs no challenge.
TEST(DeviceMode, ChallengeOutsideTheUpdate) {
  Bench five({"ChallengeClient=5", "AppVID=291A"}, "", kRunning);
  five.p.Settings(kChallengeIds + "FuncTestOnly=92\nNeedMathChallenge=5\nDbgMsg=2\n");
  EXPECT_EQ(five.Run(), 1u) << five.p.out;
  EXPECT_TRUE(five.Has("Device_Function_Test_0x92\n"));
  EXPECT_EQ(ChallengeCounter(five.board), 1u);
  const auto challenge = ChallengeValues(five.board.log, 0x0D),
             answer = ChallengeValues(five.board.log, 0x0E);
  ASSERT_FALSE(challenge.empty() || answer.empty());
  char lines[96];
  std::snprintf(lines, sizeof lines, "    RNG = %04X\n    ANS = %04X\n    New_Cnt = 0x0001\n",
                challenge[0], answer[0]);
  EXPECT_TRUE(five.Has("    Call_Math_Challenge_Exe, Client = 5\n    Old_Cnt = 0x0000\n" +
                       std::string(lines)));

  Bench read({"ChallengeClient=1", "AppVID=291A"}, "", kRunning);
  read.p.Settings(kChallengeIds + "NeedMathChallenge=1\nSkipJumpRom=1\nReadVerOnly=1\n");
  EXPECT_EQ(read.Run(), 1u);
  EXPECT_TRUE(ChallengeValues(read.board.log, 0x0D).empty() &&
              ChallengeValues(read.board.log, 0x0F).empty());

  // Firmware under the ROM IDs is found by the ROM wait, and closed: five times.
  Bench b({"ChallengeClient=1", "AppPID=1107"}, "ReadSPIPDFWOnly=1\n", kRunning);
  EXPECT_EQ(b.Run(), 0u);
  EXPECT_EQ(Count(b.p.out, "    Found Target Device: \n"), 6u) << b.p.out;
  EXPECT_FALSE(b.Has("Not_Our_billboard"));
  EXPECT_EQ(b.board.Config().mode, sim::Mode::App);
}

}  // namespace
}  // namespace pdflash::test
