// Queries, the switch to ROM code and the unlock challenge.
#include <optional>

#include "core/bytes.h"
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
  // Nothing in this run reads the hub's running version: any hub file is newer.
  const std::string hub = "HubPDShareSPI=1\nHub1Bin=hub.bin\n";
  const struct {
    int mode, file;  // file version against the running one
    std::string extra;
    uint32_t result;
  } cases[] = {{0, 1, "", 1},  {0, 0, "", 3}, {0, -1, "", 3}, {1, 0, "", 1}, {1, -1, "", 3},
               {2, -1, "", 1}, {2, 0, "", 3}, {3, -1, "", 1}, {4, 0, "", 3}, {0, 0, hub, 1}};
  for (const auto& c : cases) {
    const std::string mode = std::to_string(c.mode);
    SCOPED_TRACE("NeedUpdateMode=" + mode + " " + c.extra);
    Bench b({}, "PD1Bin=pd.bin\nNeedUpdateMode=" + mode + "\n" + c.extra, kRunning);
    WriteBytes(b.p.File("pd.bin"), Firmware(0xC800, kRunning + static_cast<uint32_t>(c.file * 0x100)));
    WriteBytes(b.p.File("hub.bin"), fwgen::MakeHubFirmware({}));
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

// A controller that checks client 1's answers, and a file built for the
// challenge (or not, by its flag) under the challenge VID.
struct ChallengeBoard : Bench {
  explicit ChallengeBoard(const std::vector<std::string>& keys = {"ChallengeClient=1",
                                                                  "AppVID=291A"})
      : Bench(keys, "", kRunning) {}
  void Use(const std::string& need, std::optional<uint32_t> flag, const std::string& extra = "") {
    image = fwgen::MakePdFirmware({.version = 0x0E010400, .vid = 0x291A, .flag = flag});
    WriteBytes(p.File("new.bin"), image);
    p.Settings(kChallengeIds + "PD1Bin=new.bin\nDbgMsg=1\nNeedMathChallenge=" + need + "\n" +
               extra);
  }
  uint16_t Counter() {
    uint16_t counter = 0;
    board.Inspect([&](sim::SimBus& bus) { counter = bus.Device(0).ChallengeCounter(); });
    return counter;
  }
  // Carried by 0x0D (the challenge), 0x0E (answers) or 0x0F (the counter).
  std::vector<uint16_t> Values(uint16_t request) const {
    std::vector<uint16_t> out;
    for (const auto& r : board.log)
      if (r.setup.bRequest == 0xE0 && r.setup.wValue == request && r.ok)
        out.push_back(Be16(r.data.data()));
    return out;
  }
  std::vector<uint8_t> image;
};

TEST(DeviceMode, ChallengeOpensTheWayToRomCode) {
  ChallengeBoard c;
  c.Use("1", 0x80000000);
  EXPECT_EQ(c.Run(), 1u) << c.p.out;
  EXPECT_TRUE(std::equal(c.image.begin(), c.image.end(), c.board.Flash().begin() + 0x20000));
  EXPECT_EQ(c.board.Config().mode, sim::Mode::Rom);
  EXPECT_TRUE(
      c.Has("    Call_Math_Challenge_Exe, Client = 1\n    Old_Cnt = 0x0000\n"
            "    New_Cnt = 0x0001\n    PD_Bin_FLAG = 80000000\n    Reset_To_Default_Mode...\n"));
  EXPECT_EQ(c.Values(0x0E).size(), 1u);
  EXPECT_EQ(c.Values(0x0F), (std::vector<uint16_t>{0, 1}));
  const Log& log = c.board.log;
  const size_t rng = Find(log, [](const auto& r) { return r.setup.wValue == 0x000D; });
  ASSERT_LT(rng + 2, log.size());
  ExpectSetup(log[rng], 0xC0, 0xE0, 0x000D, 0, 2);
  ExpectSetup(log[rng + 1], 0x40, 0xE0, 0x000E, 0, 2);
  ExpectSetup(log[rng + 2], 0xC0, 0xE0, 0x000F, 0, 2);
  // Function test 0x92 leaves the device unlocked. A client without a set of
  // its own answers with the default set; what is printed is what went out.
  ChallengeBoard five({"ChallengeClient=5", "AppVID=291A"});
  five.p.Settings(kChallengeIds + "FuncTestOnly=92\nNeedMathChallenge=5\nDbgMsg=2\n");
  EXPECT_EQ(five.Run(), 1u) << five.p.out;
  EXPECT_TRUE(five.Has("Device_Function_Test_0x92\n"));
  EXPECT_EQ(five.Counter(), 1u);
  const auto challenge = five.Values(0x0D), answer = five.Values(0x0E);
  ASSERT_FALSE(challenge.empty() || answer.empty());
  char lines[96];
  std::snprintf(lines, sizeof lines, "    RNG = %04X\n    ANS = %04X\n    New_Cnt = 0x0001\n",
                challenge[0], answer[0]);
  EXPECT_TRUE(five.Has("    Call_Math_Challenge_Exe, Client = 5\n    Old_Cnt = 0x0000\n" +
                       std::string(lines)));
}

TEST(DeviceMode, RefusedChallengeKeepsTheFirmwareRunning) {
  const std::string lock = "    Lock_Math_Challenge_Exe\n";
  const struct {
    const char* client;
    std::optional<uint32_t> flag;
    std::string lines;
    size_t answers;    // the answer, then the counter sent back to lock
    uint64_t seconds;  // 3 s after a jump, then five searches 3 s apart
  } cases[] = {
      // The answer of client 1's set on a controller of client 2.
      {"2", 0x80000000, "    New_Cnt = 0x0000\n    Math_Challenge_Failed.\n", 1, 18},
      // Unlocked, but the file is not meant for it: locked again, no jump.
      {"1", 1, "    Not_Math-Challenge-Bin_Or_VID_rst_1_291A\n" + lock + "    Old_Cnt = 0x0001\n",
       2, 15},
      // Nothing to lock: no counter goes back.
      {"2", std::nullopt, "_rst_0_291A\n" + lock + "    Old_Cnt = 0x0000\nLoop = 0\n", 1, 15}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.lines);
    ChallengeBoard c({std::string("ChallengeClient=") + k.client, "AppVID=291A"});
    c.Use("1", k.flag);
    EXPECT_EQ(c.Run(), 0u);
    EXPECT_TRUE(c.Has(k.lines));
    const auto answers = c.Values(0x0E);
    ASSERT_EQ(answers.size(), k.answers);
    EXPECT_TRUE(k.answers < 2 || answers[1] == 1u);  // the counter sent back
    // The ROM wait never takes the firmware IDs it sees instead of the ROM IDs.
    EXPECT_EQ(Count(c.p.out, "    Not_Our_billboard_0\n"), 5u) << c.p.out;
    EXPECT_EQ(c.board.run_us / 1000000, k.seconds);
    EXPECT_TRUE(c.p.out.ends_with("    DeviceNotFound\nReturn_Value = 0x0\n"));
    EXPECT_EQ(c.board.Config().mode, sim::Mode::App);
    EXPECT_FALSE(Sent(c.board.log, {0xD4}) || c.Counter());
  }
  // Firmware under the ROM IDs is found by the ROM wait, and closed: five times.
  Bench b({"ChallengeClient=1", "AppPID=1107"}, "ReadSPIPDFWOnly=1\n", kRunning);
  EXPECT_EQ(b.Run(), 0u);
  EXPECT_EQ(Count(b.p.out, "    Found Target Device: \n"), 6u) << b.p.out;
  EXPECT_FALSE(b.Has("Not_Our_billboard"));
  EXPECT_EQ(b.board.Config().mode, sim::Mode::App);
  // With SkipJumpRom the firmware serves the flash: a file not built for the
  // challenge is refused there too, and a version read needs no challenge.
  ChallengeBoard refused;
  refused.Use("1", std::nullopt, "SkipJumpRom=1\n");
  EXPECT_EQ(refused.Run(), 0u);
  EXPECT_TRUE(refused.Has("\t Not_Math-Challenge-Bin_Or_VID_std_0_291A\n" + lock));
  EXPECT_FALSE(Sent(refused.board.log, {0xD4}) || refused.Counter());
  ChallengeBoard read;
  read.Use("1", 0x80000000, "SkipJumpRom=1\nReadVerOnly=1\n");
  EXPECT_EQ(read.Run(), 1u);
  EXPECT_TRUE(read.Values(0x0D).empty() && read.Values(0x0F).empty());
}

}  // namespace
}  // namespace pdflash::test
