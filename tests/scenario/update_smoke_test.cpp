#include <gtest/gtest.h>

#include "support/sim_board.h"

namespace pdflash::test {
namespace {

TEST(UpdateScenario, OldToNewOnTheVirtualDevice) {
  Program p;
  SimBoard board(p);
  board.Init();
  fwgen::PdFirmwareSpec old_fw;
  old_fw.version = 0x0E010100;
  board.LoadFirmware(fwgen::MakePdFirmware(old_fw));
  fwgen::PdFirmwareSpec new_fw;
  new_fw.version = 0x0E010200;
  const auto image = fwgen::MakePdFirmware(new_fw);
  WriteBytes(p.File("new.bin"), image);
  p.Settings(std::string(kBoardIds) + "PD1Bin=new.bin\nResetAfterUpdate=1\n");
  EXPECT_EQ(board.Run(), 1u) << p.out;
  const auto flash = board.Flash();
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin() + 0x20000));
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin() + 0x30000));
  EXPECT_EQ(board.Run({"/F0"}), 0x0E010200u) << p.out;
}

}  // namespace
}  // namespace pdflash::test
