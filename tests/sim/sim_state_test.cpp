// Fault injection, and the directory as the board's memory between runs.
#include "sim_support.h"

namespace pdflash::sim::test {
namespace {

using pdflash::test::FileExists;
using pdflash::test::ReadFile;
using pdflash::test::WriteBytes;
using pdflash::test::WriteFile;

TEST(SimFaults, FailTransferFailsThatTransferOnlyAndTheLogShowsIt) {
  Board b("[Device]\nFailTransfer=3\n[Device2]\n");
  SimBus& bus = b.Run();
  auto d = b.Open(0);
  auto other = b.Open(1);
  std::vector<bool> results;
  for (int i = 0; i < 2; ++i) results.push_back(ReadReg(*d, 0x0018).has_value());
  EXPECT_TRUE(ReadReg(*other, 0x0018)) << "transfers to another device do not count";
  b.clock.Advance(1000);
  auto again = b.Open(0);  // the count runs over every handle to the device
  results.push_back(WriteReg(*again, 0x0002, 0x11));
  results.push_back(ReadReg(*d, 0x0018).has_value());
  EXPECT_EQ(results, (std::vector<bool>{true, true, false, true}));
  EXPECT_EQ(bus.Device(0).PeekRegister(0x0002), 0) << "the failed write did nothing";

  const auto& log = bus.Log();
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[2].device, 1);
  const TransferRecord& failed = log[3];
  EXPECT_EQ(failed.device, 0);
  EXPECT_FALSE(failed.ok);
  EXPECT_EQ(failed.setup.bmRequestType, 0x40);
  EXPECT_EQ(failed.setup.bRequest, 0xE0);
  EXPECT_EQ(failed.setup.wValue, 0x0202);
  EXPECT_EQ(failed.data, (std::vector<uint8_t>{0x11}));
  EXPECT_EQ(failed.time_us, 1000u);
  EXPECT_EQ(log[4].data, (std::vector<uint8_t>{0xC0})) << "in transfers log what came back";
}

TEST(SimFaults, UnplugKeepsWhatWasWrittenBeforeIt) {
  Board b("[Device]\nMode=Rom\nUnplugAtTransfer=4\n");
  SimBus& bus = b.Run();
  auto d = b.Open();
  ASSERT_TRUE(SpiCommand(*d, 0x06));
  ASSERT_TRUE(SpiProgram(*d, 0x100, {0x12, 0x34}));
  b.clock.Advance(1000);
  ASSERT_TRUE(SpiStatus(*d));
  EXPECT_FALSE(SpiStatus(*d));
  EXPECT_TRUE(bus.Enumerate().empty());
  b.clock.Advance(10000000);
  EXPECT_TRUE(bus.Enumerate().empty()) << "gone for the rest of the run";
  EXPECT_FALSE(ReadReg(*d, 0x0018));

  b.Run();  // the next run: saved first, then plugged in again
  EXPECT_EQ(b.FlashFile()[0x100], 0x12);
  EXPECT_EQ(b.FlashFile()[0x101], 0x34);
  auto fresh = b.Open();
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(SpiRead(*fresh, 0x100, 2), (std::vector<uint8_t>{0x12, 0x34}));
}

TEST(SimState, RunsShareTheDirectoryLikeABoardThatStaysPluggedIn) {
  Board b(
      "; my "
      "board\n[Device]\nCustomKey=kept\nChallengeClient=1\nFlash2Size=10000\nflash2status2=02\n");
  uint16_t challenge = 0;
  WriteBytes(b.dir / "flash.bin", FlashWith(0x80000, {{0x20000, PdImage(0x8000, 0x0E010101)}}));
  {
    b.Run();
    auto d = b.Open();
    WriteReg(*d, 0x0002, 0x87);
    WriteReg(*d, 0x2A16, 0x01);
    WriteReg(*d, 0x00F7, 0x01);
    WriteReg(*d, 0x00F5, 0xC0);
    // Flash 1: a new copy 1 while the old firmware keeps running; flash 2: protected.
    for (uint32_t sector = 0x20000; sector < 0x28000; sector += 0x1000) {
      SpiCommand(*d, 0x06);
      SpiSectorErase(*d, sector);
      b.clock.Advance(40000);
    }
    auto image = PdImage(0x8000, 0x0E010202);
    for (uint32_t o = 0; o < image.size(); o += 64) {
      SpiCommand(*d, 0x06);
      SpiProgram(*d, 0x20000 + o, std::vector<uint8_t>(image.begin() + o, image.begin() + o + 64));
      b.clock.Advance(1000);
    }
    WriteReg(*d, 0x2BFD, 1);
    SpiCommand(*d, 0x06);
    SpiWriteStatus(*d, 0x01, 0x1C);
    b.clock.Advance(10000);
    SpiCommand(*d, 0x06);
    SpiWriteStatus(*d, 0x31, 0x00);
    b.clock.Advance(10000);
    WriteReg(*d, 0x2BFD, 0);
    EXPECT_EQ(Version(*d), 0x0E010101u);
    challenge = Challenge16(*d, 0x000D).value();
  }
  SimBus& bus = b.Run();
  const std::string ini = ReadFile(b.dir / "device.ini");
  EXPECT_NE(ini.find("; my board"), std::string::npos);
  EXPECT_NE(ini.find("CustomKey=kept"), std::string::npos);
  EXPECT_NE(ini.find("Mode=App"), std::string::npos);
  EXPECT_NE(ini.find("Flash2Status=1C"), std::string::npos);
  EXPECT_NE(ini.find("Flash2Status2=00"), std::string::npos);
  EXPECT_EQ(ini.find("flash2status2"), std::string::npos);
  EXPECT_EQ(ini.find("FlashStatus="), std::string::npos) << "untouched defaults are not added";
  EXPECT_TRUE(FileExists(b.dir / "state.ini"));

  auto d = b.Open();
  EXPECT_EQ(ReadReg(*d, 0x0002), 0x87);
  EXPECT_EQ(ReadReg(*d, 0x2A16), 0x01);
  EXPECT_EQ(ReadReg(*d, 0x00F7), 0x81);
  EXPECT_EQ(ReadReg(*d, 0x00F5), 0x00) << "an open SPI master command does not survive";
  EXPECT_EQ(Version(*d), 0x0E010101u) << "the firmware started before still runs";
  EXPECT_EQ(bus.Device(0).Flash2()->Status1(), 0x1C);
  EXPECT_EQ(bus.Device(0).Flash().Data()[0x1003 + 0x20000 + 2], 0x02);

  // The challenge read in the last run is still the one to answer; then jump
  // to ROM code and check that the mode persists.
  ASSERT_TRUE(ChallengeAnswer(*d, bus.Device(0).ExpectedAnswer(challenge)));
  EXPECT_NE(Challenge16(*d, 0x000F), 0);
  ASSERT_TRUE(Vdr(*d, 0xA0));
  ASSERT_TRUE(Vdr(*d, 0xB0));
  b.Run();
  EXPECT_NE(ReadFile(b.dir / "device.ini").find("Mode=Rom"), std::string::npos);
  EXPECT_EQ(b.bus->Device(0).CurrentMode(), Mode::Rom);
  auto rom = b.Open();
  ASSERT_NE(rom, nullptr) << "a restart that was under way has finished by the next run";
  ASSERT_TRUE(Vdr(*rom, 0xB0));
  b.Run();
  EXPECT_EQ(b.bus->Device(0).RunningVersion(), 0x0E010202u) << "the new copy starts";

  // Deleting state.ini is a power cycle: the ROM picks the copy afresh.
  b.Close();
  std::filesystem::remove(b.dir / "state.ini");
  b.Run();
  EXPECT_EQ(b.bus->Device(0).PeekRegister(0x0002), 0);
  EXPECT_EQ(b.bus->Device(0).RunningVersion(), 0x0E010202u);
}

TEST(SimState, LoadExplainsWhatIsWrongAndLeavesTheDirectoryAlone) {
  struct Case {
    const char* ini;
    const char* flash;  // size of flash.bin to write, or null
    const char* coefficients;
    const char* expect;
  } cases[] = {
      {nullptr, nullptr, nullptr, "no device.ini"},
      {"; nothing\n", nullptr, nullptr, "no [Device] section"},
      {"[Device]\nIdentity=XY\n", nullptr, nullptr,
       "line 2 [Device]: Identity needs a hexadecimal number, not 'XY'"},
      {"[Device]\nIdentity=1C0\n", nullptr, nullptr, "Identity is at most FF"},
      {"[Device]\nMode=Boot\n", nullptr, nullptr, "Mode must be App or Rom"},
      {"[Device]\nFlashSize=1234\n", nullptr, nullptr, "multiple of 1000"},
      {"[Device]\n[Device]\n", nullptr, nullptr, "appears twice"},
      {"[Device]\n", "small", nullptr, "flash.bin holds 5 bytes, not the flash size 80000 (hex)"},
      {"[Device]\nChallengeClient=2\n", nullptr, "", "have no [Challenge] Client2"},
      {"[Device]\nChallengeClient=2\n", nullptr, "[Challenge]\nClient2=1,2,3\n",
       "Client2 is not MASK1"},
      {"[Device2]\nChallengeClient=9\n", nullptr, nullptr, "[Device2] challenge coefficients"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expect);
    TempDir dir;
    VirtualClock clock;
    if (c.ini) WriteFile(dir / "device.ini", c.ini);
    if (c.flash) WriteFile(dir / "flash.bin", c.flash);
    if (c.coefficients) WriteFile(dir / "Challenge.ini", c.coefficients);
    {
      SimBus bus(dir.path(), clock, dir / "Challenge.ini");
      std::string error;
      EXPECT_FALSE(bus.Load(error));
      EXPECT_NE(error.find(c.expect), std::string::npos) << error;
      EXPECT_TRUE(bus.Enumerate().empty());
    }
    EXPECT_FALSE(FileExists(dir / "state.ini"));
    if (c.ini) {
      EXPECT_EQ(ReadFile(dir / "device.ini"), c.ini);
    }
  }
}

}  // namespace
}  // namespace pdflash::sim::test
