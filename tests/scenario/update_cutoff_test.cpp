// Never bricked: an update cut off at transfer N, by a failed transfer or by
// the device disappearing, ends in failure and leaves a valid PD copy.
//
// Every N for the eight combinations would be some 40000 whole runs, so each
// runs every N within kDense transfers of a change in the flash traffic (each
// sector erase counts alone, so erase phases are covered whole) and every
// kStride-th N between. kStride is odd, so the samples fall on every request
// of the four-request program step.
#include <iostream>

#include "scenario/scenario_support.h"

namespace pdflash::test {
namespace {

constexpr uint32_t kDense = 24, kStride = 11;

struct CutCase {
  const char* name;
  ChipKind chip;
  bool copy2;  // the old firmware is in copy 2 as well as in copy 1
  const char* key;
};

void PrintTo(const CutCase& c, std::ostream* os) { *os << c.name; }

class UpdateCutOff : public ::testing::TestWithParam<CutCase> {};

TEST_P(UpdateCutOff, EndsInFailureWithAValidCopy) {
  const CutCase& c = GetParam();
  const uint32_t size = c.chip.size;
  auto keys = c.chip.keys;
  keys.push_back("FlashSize=40000");
  Rig r(keys, Firmware(size, c.chip.version, 5), true, c.copy2);
  const std::string ini = r.board.DeviceIni();
  const auto start = r.board.Flash();
  const auto image = Firmware(size, c.chip.version + 0x100, 9);

  // The board with this flash and the cut at transfer n (0: none).
  auto reset = [&](uint32_t n, const std::vector<uint8_t>& flash) {
    r.ResetForCut(ini, c.key, n, flash);
  };

  ASSERT_EQ(r.Run("", image), 1u) << r.p.out;
  ASSERT_TRUE(BothCopies(r.board.Flash(), image));
  const Log uncut = r.board.log;
  const auto total = static_cast<uint32_t>(uncut.size());
  const size_t first_erase = Where(uncut, {kSectorErase}).at(0) + 1;
  const auto marks = Landmarks(uncut, true);

  r.board.keep_log = false;
  uint32_t runs = 0, passes = 0;
  for (uint32_t n = 1; n <= total; ++n) {
    const auto near = marks.lower_bound(n > kDense ? n - kDense : 0);
    if (n % kStride != 0 && (near == marks.end() || *near > n + kDense)) continue;
    reset(n, start);
    const uint32_t result = r.board.Run();
    const auto flash = r.board.Flash();
    ++runs;
    ASSERT_TRUE(ValidCopy(flash, 0x20000, size) || ValidCopy(flash, Copy2(size), size))
        << c.key << "=" << n << " left no valid copy\n"
        << r.p.out;
    if (result == 1) {
      // Only a failure the tool may pass over (a register read of the search,
      // a retried status write) can still pass: before the first erase, with
      // the flash complete.
      ++passes;
      ASSERT_EQ(std::string(c.key), "FailTransfer") << n;
      ASSERT_LT(n, first_erase) << r.p.out;
      ASSERT_TRUE(BothCopies(flash, image)) << n;
    } else {
      ASSERT_NE(r.p.out.find("Return_Value = 0x"), std::string::npos) << n;
    }
    // Now and then the cut board is updated again from where it was left.
    if (runs % 100 == 0) {
      reset(0, flash);
      ASSERT_EQ(r.board.Run(), 1u) << "after " << c.key << "=" << n << "\n" << r.p.out;
      ASSERT_TRUE(BothCopies(r.board.Flash(), image));
    }
  }
  std::cout << "[ cut-off  ] " << c.name << ": " << total << " transfers uncut, " << runs
            << " cuts, " << passes << " passed over before the first erase\n";
  RecordProperty("transfers", static_cast<int>(total));
  RecordProperty("cuts", static_cast<int>(runs));
}

INSTANTIATE_TEST_SUITE_P(
    Scenario, UpdateCutOff,
    ::testing::Values(CutCase{"K32_copy1_failed_transfer", kChip32K, false, "FailTransfer"},
                      CutCase{"K32_copy1_unplugged", kChip32K, false, "UnplugAtTransfer"},
                      CutCase{"K32_both_failed_transfer", kChip32K, true, "FailTransfer"},
                      CutCase{"K32_both_unplugged", kChip32K, true, "UnplugAtTransfer"},
                      CutCase{"K50_copy1_failed_transfer", kChip50K, false, "FailTransfer"},
                      CutCase{"K50_copy1_unplugged", kChip50K, false, "UnplugAtTransfer"},
                      CutCase{"K50_both_failed_transfer", kChip50K, true, "FailTransfer"},
                      CutCase{"K50_both_unplugged", kChip50K, true, "UnplugAtTransfer"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pdflash::test
