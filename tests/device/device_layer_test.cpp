// Device and flash layer behaviour that no function of the program reaches
// with its own arguments (block limits, size check mode, write limits, the
// lock paths): driven directly on a virtual device.
#include <gtest/gtest.h>

#include "device/device.h"
#include "device/discovery.h"
#include "device/mode.h"
#include "flash/verified.h"
#include "sim/sim_device.h"
#include "sim/sim_support.h"

namespace pdflash {
namespace {

struct Link {
  explicit Link(const std::string& ini) : board(ini) {
    t.exe_dir = board.dir.path();  // the example Challenge.ini is there
    bool no_more = false;
    EXPECT_EQ(OpenDevice(link, bus, 0, t.Pd, no_more), 0u);
  }
  size_t Transfers() { return board.bus->Log().size(); }
  sim::test::Board board;
  sim::SimBus& bus = board.Run();
  test::CaptureConsole console;
  test::FakeHost host;
  Platform platform{console, board.clock, host, bus};
  Tool t{platform, BuildProfile{}};
  Device link{t.out, t.clock};
};

TEST(DeviceLayer, BlockRequestsAndSilentJumpCodes) {
  Link l("[Device]\nMode=Rom\n");
  uint8_t block[33] = {};
  EXPECT_EQ(l.link.ReadRegisterBlock(0x0900, block, 33, false), 0u);
  EXPECT_EQ(l.Transfers(), 0u);  // refused before anything is sent
  EXPECT_EQ(l.link.ReadRegisterBlock(0x0018, block, 32, false), 1u);
  EXPECT_EQ(block[0], 0xC0);
  EXPECT_EQ(l.board.bus->Log().back().setup.wLength, 32);

  // A jump code the device refuses: 0xA0 says so, 0xB0 and 0xC0 stay silent.
  EXPECT_EQ(l.link.VdrWrite(0xC0, true), 0u);
  EXPECT_EQ(l.console.out, "");
  EXPECT_EQ(l.link.VdrWrite(0xA1, true), 0u);
  EXPECT_EQ(l.console.out, "VDR-Write 0xA1 Fail\n");
}

TEST(DeviceLayer, SizeCheckModeTellsAMirrorFromALargerPart) {
  for (const uint32_t flash_size : {0x40000u, 0x80000u}) {
    Link l("[Device]\nMode=Rom\nFlashSize=" + std::to_string(flash_size / 0x10000) + "0000\n");
    l.board.bus->Device(0).Flash().ProgramImage(0x20000, {0x5A, 0xA5, 0x12, 0x34});
    l.t.set.DbgMsg = 1;
    const uint32_t ok = CheckFlashSize(l.link, l.t.set, 0x80000, 0x20000, 1);
    // A 256 KiB part wraps 0x60000 onto 0x20000.
    EXPECT_EQ(ok, flash_size == 0x80000 ? 1u : 0u) << l.console.out;
    EXPECT_NE(l.console.out.find(ok ? "    FlashSize_80000_OK\n" : "    FlashSize_80000_NG\n"),
              std::string::npos);
  }
  Link blank("[Device]\nMode=Rom\n");
  EXPECT_EQ(CheckFlashSize(blank.link, blank.t.set, 0x80000, 0x20000, 0), 1u);
  EXPECT_EQ(blank.console.out, "    ChkSize_Data_All_FF.\n");
}

TEST(DeviceLayer, VerifiedWriteLengthLimits) {
  Link l("[Device]\nMode=Rom\nFlashSize=200000\n");
  std::vector<uint8_t> image(0x100001, 0x5A);
  EXPECT_EQ(VerifiedWrite(l.link, 0, 0, 0, 0x100001, image.data(), 0), 0u);
  EXPECT_EQ(l.console.out, "WrRdCmp_Length_Over.\n");
  EXPECT_EQ(l.Transfers(), 0u);
  l.console.out.clear();
  EXPECT_EQ(VerifiedWrite(l.link, 0, 0, 0, 0, image.data(), 0), 0u);
  EXPECT_NE(l.console.out.find("WrRdCmp_Cmp_Error\n"), std::string::npos);
  EXPECT_EQ(VerifiedWrite(l.link, 0, 0, 0, 0x100000, image.data(), 0), 1u);
}

TEST(DeviceLayer, LockSendsTheCounterBackOnlyWhenOpen) {
  Link l("[Device]\nChallengeClient=1\n");
  const size_t before = l.Transfers();
  EXPECT_EQ(LockChallenge(l.link, 0), 1u);  // already locked: one status read
  EXPECT_EQ(l.Transfers(), before + 1);
  EXPECT_EQ(MathChallenge(l.link, l.t.exe_dir, 1, 0), 1u);
  EXPECT_NE(l.board.bus->Device(0).ChallengeCounter(), 0);
  EXPECT_EQ(LockChallenge(l.link, 0), 1u);
  EXPECT_EQ(l.board.bus->Device(0).ChallengeCounter(), 0);
}

}  // namespace
}  // namespace pdflash
