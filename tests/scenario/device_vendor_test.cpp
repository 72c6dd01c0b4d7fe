// GPIO, register and restart switches, the register SPI master, the I2C test.
#include "scenario/scenario_support.h"

namespace pdflash::test {
namespace {

TEST(DeviceVendor, GpioSwitchesSetEnableAndLevelBits) {
  // Preset, switch, register afterwards; a number without a pin writes register 0 back as read.
  const struct {
    const char *reg, *value, *sw;
    uint8_t after;
  } cases[] = {{"0002", "0F", "/GPIO8L", 0x87}, {"0002", "00", "/GPIO5H", 0x11},
               {"0003", "00", "/GPIO1H", 0x11}, {"0003", "FF", "/GPIO4L", 0xF7},
               {"0009", "00", "/GPIOAH", 0x88}, {"0009", "FF", "/GPIO9L", 0xFB},
               {"0000", "5A", "/GPIO0H", 0x5A}};
  Bench b({}, "RWRegEnable=1\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sw);
    ASSERT_EQ(b.Run({"/WRREG", c.reg, c.value}), 1u);
    EXPECT_EQ(b.Run({c.sw}), 1u);
    EXPECT_TRUE(b.Has(std::string("    GPIO") + c.sw[5] + (c.sw[6] == 'H' ? "_High\n" : "_Low\n")));
    const auto reg = static_cast<uint16_t>(std::stoi(c.reg, nullptr, 16));
    EXPECT_EQ(b.board.Register(reg), c.after);
    const Log regs = Requests(b.board.log, {0xE0});  // read, then one write of the whole register
    ASSERT_GE(regs.size(), 2u);
    EXPECT_TRUE(IsRegRead(regs[regs.size() - 2], reg) && IsRegWrite(regs.back(), reg));
  }
}

TEST(DeviceVendor, RegisterSwitchesNeedRWRegEnable) {
  Bench b;
  const Log& log = b.board.log;
  EXPECT_EQ(b.Run({"/WRREG", "2A16", "5A"}), 0u);
  EXPECT_EQ(b.Run({"/RDREG", "2A16"}), 0u);
  EXPECT_EQ(Find(log, [](const auto& r) { return RegAddress(r.setup) == 0x2A16; }), log.size());
  EXPECT_FALSE(b.Has("Reg 0x2A16"));
  b.Settings("RWRegEnable=1\n");
  EXPECT_EQ(b.Run({"/WRREG", "2A16", "5A"}), 1u);
  EXPECT_TRUE(b.Has("    Write-Reg 0x2A16 = 0x5A\nReturn_Value = 0x1\n"));
  const size_t w = Find(log, [](const auto& r) { return IsRegWrite(r, 0x2A16); });
  ASSERT_LT(w, log.size());
  ExpectSetup(log[w], 0x40, 0xE0, 0x1602, 0x002A, 1);
  EXPECT_EQ(b.board.Register(0x2A16), 0x5A);
  EXPECT_EQ(b.Run({"/RDREG", "2A16"}), 0x5Au);
  EXPECT_TRUE(b.Has("    Read-Reg 0x2A16 = 0x5A\nReturn_Value = 0x5A\n"));
  const size_t r = Find(log, [](const auto& x) { return IsRegRead(x, 0x2A16); });
  ASSERT_LT(r, log.size());
  ExpectSetup(log[r], 0xC0, 0xE0, 0x1601, 0x002A, 1);
  b.board.Init({FailAt(r)});
  EXPECT_EQ(b.Run({"/RDREG", "2A16"}), 0u);
  EXPECT_TRUE(b.Has("Read-Reg 0x2A16 Fail\nReturn_Value = 0x0\n"));
}

TEST(DeviceVendor, ResetSwitchRestartsTheApplicationFirmware) {
  Bench b({"Mode=Rom"}, "", 0x0E010300);
  EXPECT_EQ(b.Run({"/RESET0"}), 1u);
  const Log jump = Requests(b.board.log, {0xA0, 0xB0, 0xC0});
  ASSERT_EQ(jump.size(), 1u);
  ExpectSetup(jump[0], 0x40, 0xB0, 0, 0, 0);
  EXPECT_EQ(b.Run({"/F0"}), 0x0E010300u);
  // Without a valid copy the ROM code stays; the switch reports success anyway.
  b.board.Init({"Mode=Rom"});
  EXPECT_EQ(b.Run({"/RESET0"}), 1u);
  EXPECT_EQ(b.board.Config().mode, sim::Mode::Rom);
  // The oldest chip family cannot do it.
  b.board.Init({"AppPID=0103"});
  b.p.Settings("PD1VID=2109\nPD1PID=0103\nPD1RomVID=2109\nPD1RomPID=1103\n");
  EXPECT_EQ(b.Run({"/RESET0"}), 0u);
  EXPECT_TRUE(b.Has("KMPDA_Not_Support_Reset_To_FW_Mode\nReturn_Value = 0x0\n"));
  EXPECT_FALSE(Sent(b.board.log, {0xB0}));
}

TEST(DeviceVendor, RegisterSpiMasterPollGivesUpAfter4096Reads) {
  // A chip other than 0x0107 reads its flash through the register SPI master
  // in its firmware; a byte that never reports done is read anyway.
  Bench b({"Identity=90", "SpiMasterStall=3"}, "DisplayFormalVer=1\n");
  b.board.LoadFirmware(
      fwgen::MakePdFirmware({.size = 0xC000, .version = 0x0B010300, .formal_version = 0x01020304}));
  EXPECT_EQ(b.Run({"/F0"}), 0x0B010300u);
  EXPECT_TRUE(b.Has("=     Formal Version is 01.02.03.04     =\n"));
  EXPECT_FALSE(b.Has("0x00F1"));
  // Polls of 0x00F1 per byte: the stalled third byte polls to the limit.
  std::vector<size_t> polls;
  for (const auto& r : b.board.log) {
    if (IsRegWrite(r, 0x00F0)) polls.push_back(0);
    if (IsRegRead(r, 0x00F1) && !polls.empty()) ++polls.back();
  }
  ASSERT_GT(polls.size(), 4u);
  EXPECT_EQ(std::vector<size_t>(polls.begin(), polls.begin() + 4),
            (std::vector<size_t>{1, 1, 4096, 1}));
}

TEST(DeviceVendor, I2cTestModeTogglesThePinSixTimes) {
  Bench b({}, "I2CTestOnly=7\n");
  EXPECT_EQ(b.Run(), 1u);
  EXPECT_TRUE(b.Has("    I2C_Test_Mode 0x7\nSet Low for 3 seconds.\nSet High for 3 seconds.\n"));
  const Log i2c = Requests(b.board.log, {0xB2});
  ASSERT_EQ(i2c.size(), 12u);
  for (size_t k = 0; k < i2c.size(); ++k) {
    ExpectSetup(i2c[k], 0x40, 0xB2, 0, 0, 3);
    const uint8_t level = static_cast<uint8_t>((k / 2) & 1);
    EXPECT_EQ(i2c[k].data, (k % 2 == 0 ? std::vector<uint8_t>{0x82, 0x03, 0xFE}
                                       : std::vector<uint8_t>{0x82, 0x01, level}));
  }
  EXPECT_GE(b.board.run_us, 18000000u);
  // Only the last drive decides.
  const auto last = [&](const auto& r) { return r.time_us == i2c.back().time_us; };
  b.board.Init({FailAt(Find(b.board.log, last))});
  EXPECT_EQ(b.Run(), 0u);
  EXPECT_TRUE(b.Has("I2C-WriteCmd B2 Fail\nReturn_Value = 0x0\n"));
}

}  // namespace
}  // namespace pdflash::test
