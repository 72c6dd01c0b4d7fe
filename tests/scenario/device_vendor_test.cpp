// Register-level work through the whole program: GPIO switches, register
// read and write switches, the restart switch, the register-driven SPI
// master's busy poll and the I2C test mode, with the requests on the wire.
#include <gtest/gtest.h>

#include "scenario/device_scenario.h"

namespace pdflash::test {
namespace {

TEST(DeviceVendor, GpioSwitchesSetEnableAndLevelBits) {
  struct Case {
    const char* preset;  // register, value
    const char* value;
    const char* sw;
    uint16_t reg;
    uint8_t after;
    const char* line;
  };
  const Case cases[] = {
      {"0002", "0F", "/GPIO8L", 0x0002, 0x87, "    GPIO8_Low\n"},
      {"0002", "00", "/GPIO5H", 0x0002, 0x11, "    GPIO5_High\n"},
      {"0003", "00", "/GPIO1H", 0x0003, 0x11, "    GPIO1_High\n"},
      {"0003", "FF", "/GPIO4L", 0x0003, 0xF7, "    GPIO4_Low\n"},
      {"0009", "00", "/GPIOAH", 0x0009, 0x88, "    GPIOA_High\n"},
      {"0009", "FF", "/GPIO9L", 0x0009, 0xFB, "    GPIO9_Low\n"},
      // Numbers without a pin select no bit: register 0 is written back as read.
      {"0000", "5A", "/GPIO0H", 0x0000, 0x5A, "    GPIO0_High\n"},
      {"0000", "A5", "/GPIOBL", 0x0000, 0xA5, "    GPIOB_Low\n"},
  };
  Program p;
  SimBoard board(p);
  board.Init();
  p.Settings(std::string(kBoardIds) + "RWRegEnable=1\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sw);
    ASSERT_EQ(board.Run({"/WRREG", c.preset, c.value}), 1u);
    EXPECT_EQ(board.Run({c.sw}), 1u);
    EXPECT_NE(p.out.find(std::string("    Control_Mode_Default_PD1\n")), std::string::npos);
    EXPECT_NE(p.out.find(c.line), std::string::npos) << p.out;
    EXPECT_EQ(board.Register(c.reg), c.after);
    // Read, then one write of the whole register.
    const Log writes = Requests(board.log, {0xE0});
    const size_t w = Find(writes, [&](const auto& r) { return IsRegWrite(r, c.reg); });
    ASSERT_LT(w, writes.size());
    EXPECT_TRUE(IsRegRead(writes[w - 1], c.reg));
    EXPECT_EQ(writes[w].data, std::vector<uint8_t>{c.after});
    EXPECT_EQ(Find(
                  writes, [&](const auto& r) { return IsRegWrite(r, c.reg); }, w + 1),
              writes.size());
    EXPECT_EQ(board.Config().mode, sim::Mode::App);
  }
}

TEST(DeviceVendor, RegisterSwitchesNeedRWRegEnable) {
  Program p;
  SimBoard board(p);
  board.Init();
  auto touches = [&](uint16_t a) {
    return Find(board.log, [&](const auto& r) {
             return RegAddress(r.setup) == a && r.setup.bRequest == 0xE0;
           }) < board.log.size();
  };

  p.Settings(kBoardIds);
  EXPECT_EQ(board.Run({"/WRREG", "2A16", "5A"}), 0u);
  EXPECT_EQ(board.Run({"/RDREG", "2A16"}), 0u);
  EXPECT_FALSE(touches(0x2A16));
  EXPECT_EQ(p.out.find("Reg 0x2A16"), std::string::npos);

  p.Settings(std::string(kBoardIds) + "RWRegEnable=1\n");
  EXPECT_EQ(board.Run({"/WRREG", "2A16", "5A"}), 1u);
  EXPECT_NE(p.out.find("    Write-Reg 0x2A16 = 0x5A\nReturn_Value = 0x1\n"), std::string::npos)
      << p.out;
  const size_t w = Find(board.log, [](const auto& r) { return IsRegWrite(r, 0x2A16); });
  ASSERT_LT(w, board.log.size());
  ExpectSetup(board.log[w], 0x40, 0xE0, 0x1602, 0x002A, 1);
  EXPECT_EQ(board.log[w].data, std::vector<uint8_t>{0x5A});
  EXPECT_EQ(board.Register(0x2A16), 0x5A);

  EXPECT_EQ(board.Run({"/RDREG", "2A16"}), 0x5Au);
  EXPECT_NE(p.out.find("    Read-Reg 0x2A16 = 0x5A\nReturn_Value = 0x5A\n"), std::string::npos)
      << p.out;
  const size_t r = Find(board.log, [](const auto& x) { return IsRegRead(x, 0x2A16); });
  ASSERT_LT(r, board.log.size());
  ExpectSetup(board.log[r], 0xC0, 0xE0, 0x1601, 0x002A, 1);

  // A read that fails is no value.
  board.Init({FailAt(r)});
  EXPECT_EQ(board.Run({"/RDREG", "2A16"}), 0u);
  EXPECT_NE(p.out.find("Read-Reg 0x2A16 Fail\nReturn_Value = 0x0\n"), std::string::npos) << p.out;
}

TEST(DeviceVendor, ResetSwitchRestartsTheApplicationFirmware) {
  Program p;
  SimBoard board(p);
  board.Init({"Mode=Rom"});
  board.LoadFirmware(Firmware(0x0E010300));
  p.Settings(kBoardIds);
  EXPECT_EQ(board.Run({"/RESET0"}), 1u);
  const Log jump = Requests(board.log, {0xA0, 0xB0, 0xC0});
  ASSERT_EQ(jump.size(), 1u);
  ExpectSetup(jump[0], 0x40, 0xB0, 0, 0, 0);
  EXPECT_EQ(board.Config().mode, sim::Mode::App);
  EXPECT_EQ(board.Run({"/F0"}), 0x0E010300u);

  // Without a valid copy the ROM code stays; the switch reports success anyway.
  board.Init({"Mode=Rom"});
  EXPECT_EQ(board.Run({"/RESET0"}), 1u);
  EXPECT_EQ(board.Config().mode, sim::Mode::Rom);

  // The oldest chip family cannot do it.
  board.Init({"AppPID=0103"});
  p.Settings("PD1VID=2109\nPD1PID=0103\nPD1RomVID=2109\nPD1RomPID=1103\n");
  EXPECT_EQ(board.Run({"/RESET0"}), 0u);
  EXPECT_NE(p.out.find("KMPDA_Not_Support_Reset_To_FW_Mode\nReturn_Value = 0x0\n"),
            std::string::npos)
      << p.out;
  EXPECT_TRUE(Requests(board.log, {0xB0}).empty());
}

TEST(DeviceVendor, RegisterSpiMasterPollGivesUpAfter4096Reads) {
  // In its firmware a chip other than 0x0107 reads its flash through the
  // register SPI master; one byte that never reports done costs 4096 polls of
  // 0x00F1, and the read goes on without a word.
  fwgen::PdFirmwareSpec spec;
  spec.version = 0x0B010300;
  spec.size = 0xC000;
  spec.formal_version = 0x01020304;
  Program p;
  SimBoard board(p);
  board.Init({"Identity=90", "SpiMasterStall=3"});
  board.LoadFirmware(fwgen::MakePdFirmware(spec));
  p.Settings(std::string(kBoardIds) + "DisplayFormalVer=1\n");
  EXPECT_EQ(board.Run({"/F0"}), 0x0B010300u);
  EXPECT_NE(p.out.find("=     Formal Version is 01.02.03.04     =\n"), std::string::npos) << p.out;
  EXPECT_EQ(p.out.find("0x00F1"), std::string::npos);

  // Polls of 0x00F1 per byte: the stalled third byte polls to the limit.
  std::vector<size_t> polls;
  for (const auto& r : board.log) {
    if (IsRegWrite(r, 0x00F0)) polls.push_back(0);
    if (IsRegRead(r, 0x00F1)) {
      ASSERT_FALSE(polls.empty());
      ++polls.back();
    }
  }
  ASSERT_GT(polls.size(), 4u);
  EXPECT_EQ(polls[0], 1u);
  EXPECT_EQ(polls[1], 1u);
  EXPECT_EQ(polls[2], 4096u);
  EXPECT_EQ(polls[3], 1u);
  // The register master sends the opcode and the address, then reads.
  const Log data = Requests(board.log, {0xE0});
  std::vector<uint8_t> sent;
  for (const auto& r : data)
    if (IsRegWrite(r, 0x00F6)) sent.push_back(r.data[0]);
  ASSERT_GE(sent.size(), 4u);
  EXPECT_EQ(std::vector<uint8_t>(sent.begin(), sent.begin() + 4),
            (std::vector<uint8_t>{0x03, 0x02, 0x10, 0x00}));
}

TEST(DeviceVendor, I2cTestModeTogglesThePinSixTimes) {
  Program p;
  SimBoard board(p);
  board.Init();
  p.Settings(std::string(kBoardIds) + "I2CTestOnly=7\n");
  EXPECT_EQ(board.Run(), 1u);
  EXPECT_NE(p.out.find("    I2C_Test_Mode 0x7\nSet Low for 3 seconds.\nSet High for 3 seconds.\n"),
            std::string::npos)
      << p.out;
  const Log i2c = Requests(board.log, {0xB2});
  ASSERT_EQ(i2c.size(), 12u);
  for (size_t k = 0; k < i2c.size(); ++k) {
    ExpectSetup(i2c[k], 0x40, 0xB2, 0, 0, 3);
    const uint8_t level = static_cast<uint8_t>((k / 2) & 1);
    const std::vector<uint8_t> want = k % 2 == 0 ? std::vector<uint8_t>{0x82, 0x03, 0xFE}
                                                 : std::vector<uint8_t>{0x82, 0x01, level};
    EXPECT_EQ(i2c[k].data, want);
  }
  EXPECT_GE(board.run_us, 18000000u);
  EXPECT_TRUE(Requests(board.log, {0xA0, 0xB0, 0xC0}).empty());

  // Only the last drive decides.
  const size_t last =
      Find(board.log, [&](const auto& r) { return r.time_us == i2c.back().time_us; });
  board.Init({FailAt(last)});
  EXPECT_EQ(board.Run(), 0u);
  EXPECT_NE(p.out.find("I2C-WriteCmd B2 Fail\nReturn_Value = 0x0\n"), std::string::npos) << p.out;
}

}  // namespace
}  // namespace pdflash::test
