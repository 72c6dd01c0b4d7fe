#include "sim/pdsim.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <tuple>

#include "sim/sim_config.h"
#include "sim_support.h"

namespace pdflash::sim::test {
namespace {

using pdflash::test::FileExists;
using pdflash::test::ReadBytes;
using pdflash::test::WriteBytes;
using ::testing::HasSubstr;

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
  const std::string ini = pdflash::test::ReadFile(board + "/device.ini");
  EXPECT_THAT(ini, HasSubstr("Mode=Rom"));  // device 2's, its key written in any case
  for (const KeyInfo& k : DeviceKeys())
    EXPECT_THAT(ini, HasSubstr(std::string("\n") + k.name + "="));
  auto flash = ReadBytes(board + "/flash.bin");
  EXPECT_EQ(std::count(flash.begin(), flash.end(), 0xFF), 0x80000);
  EXPECT_EQ(flash.size(), 0x80000u);
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
  flash = ReadBytes(board + "/flash.bin");
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
