// The normal firmware update end to end: which copy is written first, what
// the flash holds afterwards, and what a controlling application sees.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "scenario/scenario_support.h"

namespace pdflash::test {
namespace {

using ::testing::HasSubstr;

struct OrderCase {
  const char* name;
  ChipKind chip;
  // What the flash holds before: copy 1 and copy 2 of the old firmware, or
  // in copy 1 a valid image of another size.
  bool copy1, copy2, copy1_other_size;
  uint32_t first_target;
};

void PrintTo(const OrderCase& c, std::ostream* os) {
  *os << c.name;
}

class UpdateOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(UpdateOrder, InvalidCopyFirstValidCopyLastAndNothingElseChanges) {
  const OrderCase& c = GetParam();
  const uint32_t size = c.chip.size;
  const uint32_t copy2 = Copy2(size);
  const uint32_t second_target = c.first_target == 0x20000 ? copy2 : 0x20000;

  Program p;
  SimBoard board(p);
  board.Init(c.chip.keys);
  board.Load(0, Background(0x80000));
  const auto old_fw = Firmware(size, c.chip.version, 5);
  board.LoadFirmware(old_fw, c.copy1, c.copy2);
  if (c.copy1_other_size) board.Load(0x20000, Firmware(0x8000, 0x0D010100, 6));
  const auto before = board.Flash();
  const auto image = Firmware(size, c.chip.version + 0x100, 9);
  WriteBytes(p.File("new.bin"), image);
  p.Settings(std::string(kBoardIds) + "PD1Bin=new.bin\nOutputProgress=3\n");

  EXPECT_EQ(board.Run(), 1u) << p.out;
  EXPECT_THAT(p.out, HasSubstr("=    PD_FW_Update_PASS.   =\n"));
  EXPECT_THAT(p.out, HasSubstr("Return_Value = 0x1\n"));
  EXPECT_EQ(p.out.find("    Firmware_1_OK ...\n") != std::string::npos,
            c.copy1 && !c.copy1_other_size);
  const size_t first_line = p.out.find("    Write_FW_to_" + Hex(c.first_target) + " ...\n");
  const size_t second_line = p.out.find("    Write_FW_to_" + Hex(second_target) + " ...\n");
  EXPECT_LT(first_line, second_line);
  EXPECT_NE(second_line, std::string::npos);

  // Every sector the image touches, the last one too when the image ends
  // inside it; the first target completely before the second.
  std::vector<uint32_t> erases;
  for (uint32_t target : {c.first_target, second_target})
    for (uint32_t o = 0; o < size; o += 0x1000) erases.push_back(target + o);
  EXPECT_EQ(RequestAddresses(board.log, kSectorErase), erases);
  const auto programs = RequestAddresses(board.log, kProgram);
  ASSERT_EQ(programs.size(), 2 * size / 64);
  for (size_t i = 0; i < programs.size(); ++i)
    ASSERT_EQ(programs[i], (i < size / 64 ? c.first_target : second_target) + i % (size / 64) * 64)
        << i;
  size_t last_first_program = 0, first_second_erase = 0;
  for (size_t i = 0; i < board.log.size(); ++i) {
    const auto& r = board.log[i];
    if (r.setup.bRequest == kProgram && FlashAddress(r.setup) < c.first_target + size &&
        FlashAddress(r.setup) >= c.first_target)
      last_first_program = i;
    if (!first_second_erase && r.setup.bRequest == kSectorErase &&
        FlashAddress(r.setup) == second_target)
      first_second_erase = i;
  }
  EXPECT_LT(last_first_program, first_second_erase);

  // Both copies hold the new image; the rest of each erased sector is blank;
  // every other byte is what it was.
  auto expected = before;
  const uint32_t sectors_end = (size + 0xFFF) & ~0xFFFu;
  for (uint32_t target : {0x20000u, copy2}) {
    std::copy(image.begin(), image.end(), expected.begin() + target);
    std::fill(expected.begin() + target + size, expected.begin() + target + sectors_end, 0xFF);
  }
  EXPECT_TRUE(board.Flash() == expected);

  // One update is worth 100 points: 10 + 15 + 30 for the first copy, 15 + 30
  // for the second, reported on the console and as marker files.
  EXPECT_EQ(ProgressLines(p.out), (std::vector<int>{10, 25, 55, 70, 100}));
  const auto markers = MarkerFiles(p.dir.path());
  EXPECT_EQ(markers,
            (std::vector<std::string>{"010.txt", "025.txt", "055.txt", "070.txt", "100.txt"}));
  for (const auto& m : markers) EXPECT_EQ(ReadFile(p.File(m)), m);
}

INSTANTIATE_TEST_SUITE_P(
    Scenario, UpdateOrder,
    ::testing::Values(OrderCase{"K32_copy1_valid", Chip32K(), true, false, false, 0x28000},
                      OrderCase{"K32_only_copy2_valid", Chip32K(), false, true, false, 0x20000},
                      OrderCase{"K50_both_valid", Chip50K(), true, true, false, 0x30000},
                      OrderCase{"K50_blank", Chip50K(), false, false, false, 0x20000},
                      OrderCase{"K50_copy1_valid_for_another_size", Chip50K(), false, true, true,
                                0x20000},
                      OrderCase{"K64_copy1_valid", Chip64K(), true, false, false, 0x30000}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pdflash::test
