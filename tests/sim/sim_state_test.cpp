// The board directory as the virtual device's memory between runs.
#include "sim_support.h"

namespace pdflash::sim::test {
namespace {

using pdflash::test::FileExists;
using pdflash::test::ReadFile;
using pdflash::test::WriteFile;

TEST(SimState, RunsShareTheDirectoryLikeABoardThatStaysPluggedIn) {
  Board b(
      "; my board\n[Device]\nCustomKey=kept\nChallengeClient=1\nFlash2Size=10000\n"
      "flash2status2=02\n");
  auto flash = std::vector<uint8_t>(0x80000, 0xFF);
  const auto old_fw = PdImage(0x0E010101);
  std::copy(old_fw.begin(), old_fw.end(), flash.begin() + 0x20000);
  pdflash::test::WriteBytes(b.dir / "flash.bin", flash);
  uint16_t challenge = 0;
  {
    SimBus& bus = b.Run();
    auto d = b.Open();
    WriteReg(*d, 0x0002, 0x87);
    WriteReg(*d, 0x00F7, 0x01);
    WriteReg(*d, 0x00F5, 0xC0);
    bus.Device(0).Flash().ProgramImage(0x20000, PdImage(0x0E010202));
    bus.Device(0).Flash2()->SetStatus(0x1C, 0x00);
    challenge = Challenge16(*d, 0x000D).value();
  }
  SimBus& bus = b.Run();
  const std::string ini = ReadFile(b.dir / "device.ini");
  for (const char* kept :
       {"; my board", "CustomKey=kept", "Mode=App", "Flash2Status=1C", "Flash2Status2=00"})
    EXPECT_NE(ini.find(kept), std::string::npos) << kept;
  EXPECT_EQ(ini.find("flash2status2"), std::string::npos);
  EXPECT_EQ(ini.find("FlashStatus="), std::string::npos) << "untouched defaults are not added";
  EXPECT_TRUE(FileExists(b.dir / "state.ini"));

  auto d = b.Open();
  EXPECT_EQ(ReadReg(*d, 0x0002), 0x87);
  EXPECT_EQ(ReadReg(*d, 0x00F7), 0x81);
  EXPECT_EQ(ReadReg(*d, 0x00F5), 0x00) << "an open SPI master command does not survive";
  EXPECT_EQ(Version(*d), 0x0E010101u) << "the firmware started before still runs";

  // The challenge read in the last run is still the one to answer; then the
  // jump to ROM code persists, and a restart under way finishes by the next run.
  ASSERT_TRUE(ChallengeAnswer(*d, bus.Device(0).ExpectedAnswer(challenge)));
  ASSERT_TRUE(Vdr(*d, 0xA0));
  ASSERT_TRUE(Vdr(*d, 0xB0));
  b.Run();
  EXPECT_NE(ReadFile(b.dir / "device.ini").find("Mode=Rom"), std::string::npos);
  auto rom = b.Open();
  ASSERT_NE(rom, nullptr);
  ASSERT_TRUE(Vdr(*rom, 0xB0));
  b.Run();
  EXPECT_EQ(b.bus->Device(0).RunningVersion(), 0x0E010202u) << "the new copy starts";

  // Deleting state.ini is a power cycle: registers start afresh.
  b.Close();
  std::filesystem::remove(b.dir / "state.ini");
  b.Run();
  EXPECT_EQ(b.bus->Device(0).PeekRegister(0x0002), 0);
  EXPECT_EQ(b.bus->Device(0).RunningVersion(), 0x0E010202u);
}

TEST(SimState, LoadExplainsWhatIsWrongAndLeavesTheDirectoryAlone) {
  const struct {
    const char* ini;
    const char* flash;  // content of flash.bin, or null
    const char* expect;
  } cases[] = {
      {nullptr, nullptr, "no device.ini"},
      {"; nothing\n", nullptr, "no [Device] section"},
      {"[Device]\nIdentity=XY\n", nullptr,
       "line 2 [Device]: Identity needs a hexadecimal number, not 'XY'"},
      {"[Device]\nMode=Boot\n", nullptr, "Mode must be App or Rom"},
      {"[Device]\n[Device]\n", nullptr, "appears twice"},
      {"[Device]\n", "small", "flash.bin holds 5 bytes, not the flash size 80000 (hex)"},
      {"[Device]\nChallengeClient=2\n", nullptr, "have no [Challenge] Client2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expect);
    TempDir dir;
    VirtualClock clock;
    if (c.ini) WriteFile(dir / "device.ini", c.ini);
    if (c.flash) WriteFile(dir / "flash.bin", c.flash);
    WriteFile(dir / "Challenge.ini", "");
    {
      SimBus bus(dir.path(), clock, dir / "Challenge.ini");
      std::string error;
      EXPECT_FALSE(bus.Load(error));
      EXPECT_NE(error.find(c.expect), std::string::npos) << error;
      EXPECT_TRUE(bus.Enumerate().empty());
    }
    EXPECT_FALSE(FileExists(dir / "state.ini"));
    EXPECT_EQ(c.ini ? ReadFile(dir / "device.ini") : "", c.ini ? c.ini : "");
  }
}

}  // namespace
}  // namespace pdflash::sim::test
