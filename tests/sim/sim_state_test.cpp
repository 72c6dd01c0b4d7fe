// The board directory as the virtual device's memory between runs.
#include <gmock/gmock.h>

#include <tuple>

#include "image/bytes.h"
#include "sim_support.h"

namespace pdflash::sim::test {
namespace {

using pdflash::test::FileExists;
using pdflash::test::ReadFile;
using pdflash::test::WriteFile;
using Bytes = std::vector<uint8_t>;
using ::testing::HasSubstr;

// Vendor requests. Registers: the address in the value's high byte, 1 read, 2 write.
Bytes In(UsbDevice& d, uint8_t request, uint16_t value, uint16_t length) {
  Bytes b(length, 0xEE);
  EXPECT_TRUE(d.ControlTransfer({0xC0, request, value, 0, length}, b.data()));
  return b;
}
bool Out(UsbDevice& d, uint8_t request, uint16_t value, Bytes data = {}) {
  return d.ControlTransfer({0x40, request, value, 0, uint16_t(data.size())}, data.data());
}

TEST(SimState, RunsShareTheDirectoryLikeABoardThatStaysPluggedIn) {
  Board b(
      "; my board\n[Device]\nCustomKey=kept\nChallengeClient=1\nFlash2Size=10000\n"
      "flash2status2=02\n");
  Bytes flash(0x80000, 0xFF);
  const auto old_fw = fwgen::MakePdFirmware({.size = 0x8000, .version = 0x0E010101});
  std::copy(old_fw.begin(), old_fw.end(), flash.begin() + 0x20000);
  pdflash::test::WriteBytes(b.dir / "flash.bin", flash);
  uint16_t challenge = 0;
  {
    SimBus& bus = b.Run();
    auto d = b.Open();
    EXPECT_TRUE(Out(*d, 0xE0, 0x0202, {0x87}) && Out(*d, 0xE0, 0xF702, {0x01}) &&
                Out(*d, 0xE0, 0xF502, {0xC0}));
    bus.Device(0).Flash().ProgramImage(
        0x20000, fwgen::MakePdFirmware({.size = 0x8000, .version = 0x0E010202}));
    bus.Device(0).Flash2()->SetStatus(0x1C, 0x00);
    challenge = Be16(In(*d, 0xE0, 0x000D, 2).data());
  }
  SimBus& bus = b.Run();
  const std::string ini = ReadFile(b.dir / "device.ini");
  for (const char* kept :
       {"; my board", "CustomKey=kept", "Mode=App", "Flash2Status=1C", "Flash2Status2=00"})
    EXPECT_THAT(ini, HasSubstr(kept));
  EXPECT_EQ(ini.find("flash2status2"), std::string::npos);
  EXPECT_EQ(ini.find("FlashStatus="), std::string::npos) << "untouched defaults are not added";

  auto d = b.Open();
  EXPECT_EQ(In(*d, 0xE0, 0x0201, 1)[0], 0x87);
  EXPECT_EQ(In(*d, 0xE0, 0xF701, 1)[0], 0x81);
  EXPECT_EQ(In(*d, 0xE0, 0xF501, 1)[0], 0x00) << "an open SPI master command does not survive";
  EXPECT_EQ(Be32(In(*d, 0xE2, 1, 4).data()), 0x0E010101u) << "the old firmware runs on";

  // The challenge read in the last run is still the one to answer, and the
  // jump to ROM code it unlocks persists.
  const uint16_t answer = bus.Device(0).ExpectedAnswer(challenge);
  ASSERT_TRUE(Out(*d, 0xE0, 0x000E, {uint8_t(answer >> 8), uint8_t(answer)}));
  ASSERT_TRUE(Out(*d, 0xA0, 0) && Out(*d, 0xB0, 0));
  b.Run();
  EXPECT_THAT(ReadFile(b.dir / "device.ini"), HasSubstr("Mode=Rom"));

  // Deleting state.ini is a power cycle: registers start afresh.
  EXPECT_TRUE(Out(*b.Open(), 0xE0, 0x0202, {0x87}));
  b.Close();
  std::filesystem::remove(b.dir / "state.ini");
  b.Run();
  EXPECT_EQ(b.bus->Device(0).PeekRegister(0x0002), 0);
}

TEST(SimState, LoadExplainsWhatIsWrongAndLeavesTheDirectoryAlone) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {nullptr, nullptr, "no device.ini"},  // device.ini, flash.bin, the error
      {"; nothing\n", nullptr, "no [Device] section"},
      {"[Device]\nIdentity=XY\n", nullptr,
       "line 2 [Device]: Identity needs a hexadecimal number, not 'XY'"},
      {"[Device]\n[Device]\n", nullptr, "appears twice"},
      {"[Device]\n", "small", "flash.bin holds 5 bytes, not the flash size 80000 (hex)"},
      {"[Device]\nChallengeClient=2\n", nullptr, "have no [Challenge] Client2"},
  };
  for (const auto& [ini, flash, expect] : cases) {
    SCOPED_TRACE(expect);
    TempDir dir;
    VirtualClock clock;
    if (ini) WriteFile(dir / "device.ini", ini);
    if (flash) WriteFile(dir / "flash.bin", flash);
    WriteFile(dir / "Challenge.ini", "");
    {
      SimBus bus(dir.path(), clock, dir / "Challenge.ini");
      std::string error;
      EXPECT_FALSE(bus.Load(error));
      EXPECT_THAT(error, HasSubstr(expect));
      EXPECT_TRUE(bus.Enumerate().empty());
    }
    EXPECT_FALSE(FileExists(dir / "state.ini"));
    EXPECT_EQ(ini ? ReadFile(dir / "device.ini") : "", ini ? ini : "");
  }
}

}  // namespace
}  // namespace pdflash::sim::test
