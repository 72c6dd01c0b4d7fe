// The board directory as the virtual device's memory between runs, and the
// pdsim command that prepares it.
#include <gmock/gmock.h>

#include <tuple>

#include "core/bytes.h"
#include "sim/pdsim.h"
#include "sim/sim_config.h"
#include "sim_support.h"

namespace pdflash::sim::test {
namespace {

using pdflash::test::FileExists;
using pdflash::test::ReadBytes;
using pdflash::test::ReadFile;
using pdflash::test::WriteBytes;
using pdflash::test::WriteFile;
using ::testing::HasSubstr;

TEST(SimState, RunsShareTheDirectoryLikeABoardThatStaysPluggedIn) {
  Board b(
      "; my board\n[Device]\nCustomKey=kept\nChallengeClient=1\nFlash2Size=10000\n"
      "flash2status2=02\n");
  Bytes flash(0x80000, 0xFF);
  const auto old_fw = fwgen::MakePdFirmware({.size = 0x8000, .version = 0x0E010101});
  std::copy(old_fw.begin(), old_fw.end(), flash.begin() + 0x20000);
  WriteBytes(b.dir / "flash.bin", flash);
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
  b.bus.reset();  // the run ends
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

struct Pdsim {
  int Run(std::vector<std::string> args) {
    out.clear();
    err.clear();
    return RunPdsim(args, out, err);
  }
  std::string out, err;
};

TEST(Pdsim, InitWritesEveryKeyLoadWritesBytesExactlyShowReportsTheCopies) {
  TempDir dir;
  const std::string board = dir / "b";
  Pdsim p;
  ASSERT_EQ(p.Run({"init", board, "Identity=B0", "Flash2Size=40000", "Device2.UsbAddress=6",
                   "Device2.Flash2Size=10000", "device2.mode=rom"}),
            0)
      << p.err;
  const std::string ini = ReadFile(board + "/device.ini");
  EXPECT_THAT(ini, HasSubstr("Mode=Rom"));  // device 2's, its key written in any case
  for (const KeyInfo& k : DeviceKeys())
    EXPECT_THAT(ini, HasSubstr(std::string("\n") + k.name + "="));
  EXPECT_EQ(ReadBytes(board + "/flash.bin"), Bytes(0x80000, 0xFF));
  EXPECT_EQ(ReadBytes(board + "/dev2_flash2.bin").size(), 0x10000u);

  WriteBytes(dir / "fw1.bin", fwgen::MakePdFirmware({.version = 0x0E010203}));
  WriteBytes(dir / "fw2.bin", fwgen::MakePdFirmware({.version = 0x0E010204}));
  WriteBytes(dir / "zeros.bin", std::vector<uint8_t>(0x10, 0x00));
  WriteBytes(dir / "ones.bin", std::vector<uint8_t>(0x08, 0xFF));
  pdflash::test::WriteFile(board + "/state.ini", "[Device]\nBootedCopy=none\n");
  ASSERT_EQ(p.Run({"load", board, "20000", dir / "fw1.bin"}), 0) << p.err;
  EXPECT_FALSE(FileExists(board + "/state.ini")) << "a programmer session power-cycles the board";
  ASSERT_EQ(p.Run({"load", board, "0x30000", dir / "fw2.bin"}), 0) << p.err;
  ASSERT_EQ(p.Run({"load", board, "100", dir / "zeros.bin"}), 0);
  ASSERT_EQ(p.Run({"load", board, "104", dir / "ones.bin"}), 0);
  const auto flash = ReadBytes(board + "/flash.bin");
  EXPECT_EQ(flash[0x103], 0x00);
  EXPECT_EQ(flash[0x104], 0xFF) << "a programmer writes the bytes, it does not AND them";
  EXPECT_EQ(flash[0x10C], 0x00);
  EXPECT_EQ(p.Run({"load", board, "7FFF8", dir / "zeros.bin"}), 1);
  EXPECT_THAT(p.err, HasSubstr("10 bytes at 7FFF8 do not fit into a flash of 80000 bytes"));
  EXPECT_EQ(ReadBytes(board + "/flash.bin"), flash) << "a refused load changes nothing";

  ASSERT_EQ(p.Run({"show", board}), 0) << p.err;
  for (const char* line :
       {"[Device] application firmware, identity B0, running version 0E.01.02.03 (copy at 020000)",
        "PD copy 1 at 020000: valid, version 0E.01.02.03, size C800, VID/PID 2109/0107",
        "PD copy 2 at 030000: valid, version 0E.01.02.04, size C800",
        "PD copy 2 at 028000: not valid", "second flash 40000 bytes"})
    EXPECT_THAT(p.out, HasSubstr(line));
}

TEST(Pdsim, RefusesBadInputWithAReason) {
  TempDir dir;
  Pdsim p;
  const std::string board = dir / "b";
  const std::tuple<std::vector<std::string>, int, const char*> cases[] = {
      {{}, 2, "Usage:"},
      {{"init", board, "Colour=red"}, 2, "unknown key 'Colour'"},
      {{"init", board, "Board2.Identity=B0"}, 2, "'Board2' is not a device section"},
      {{"init", board, "FlashSize=1800"}, 2, "multiples of 1000"},
      {{"show", board}, 1, "no device.ini"},
      {{"load", board, "0"}, 2, "needs DIR ADDR FILE"},
  };
  for (const auto& [args, code, message] : cases) {
    EXPECT_EQ(p.Run(args), code) << message;
    EXPECT_THAT(p.err, HasSubstr(message));
  }
  EXPECT_FALSE(FileExists(board + "/device.ini")) << "nothing written on bad input";
}

}  // namespace
}  // namespace pdflash::sim::test
