// Never bricked: an update cut off at transfer N, by a failed transfer or by
// the device disappearing, ends in failure and leaves a valid PD copy.
//
// An uncut update is measured first (its transfer count T). Every N from 1 to
// T would be some 40000 whole runs for the eight combinations, too slow for
// CI, so each combination runs every N within kDense transfers of a phase
// boundary of the flash traffic (which covers each erase phase whole, since
// sector erases alternate with their polls and checks) and every kStride-th
// N in between. kStride is odd, so the samples fall on every request of the
// four-request program step (write enable, program, two status polls).
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <set>

#include "scenario/scenario_support.h"

namespace pdflash::test {
namespace {

constexpr uint32_t kDense = 24;
constexpr uint32_t kStride = 11;

struct CutCase {
  const char* name;
  ChipKind chip;
  bool copy2;  // besides copy 1, the old firmware is in copy 2 too
  const char* key;
};

void PrintTo(const CutCase& c, std::ostream* os) {
  *os << c.name;
}

// Transfer numbers (from 1) at which the kind of flash traffic changes:
// check reads, sector erases, programs, read-back; each erase counts alone.
std::set<uint32_t> Landmarks(const std::vector<sim::TransferRecord>& log) {
  std::set<uint32_t> marks = {1, static_cast<uint32_t>(log.size())};
  int previous_kind = -1;
  uint32_t previous_at = 0;
  for (uint32_t i = 0; i < log.size(); ++i) {
    const SetupPacket& s = log[i].setup;
    int kind;
    if (s.bRequest == kSectorErase)
      kind = 1;
    else if (s.bRequest == kProgram)
      kind = 2;
    else if (s.bRequest == kReadData)
      kind = 10 + s.wLength;  // 32-byte checks and 64-byte read-back
    else
      continue;
    if (kind == 1 || kind != previous_kind) {
      marks.insert(i + 1);
      if (previous_at) marks.insert(previous_at);
    }
    previous_kind = kind;
    previous_at = i + 1;
  }
  return marks;
}

class UpdateCutOff : public ::testing::TestWithParam<CutCase> {};

TEST_P(UpdateCutOff, EndsInFailureWithAValidCopy) {
  const CutCase& c = GetParam();
  const uint32_t size = c.chip.size;
  const uint32_t copy2 = Copy2(size);
  Program p;
  SimBoard board(p);
  auto keys = c.chip.keys;
  keys.push_back("FlashSize=40000");
  board.Init(keys);
  const auto old_fw = Firmware(size, c.chip.version, 5);
  board.LoadFirmware(old_fw, true, c.copy2);
  const std::string ini = board.DeviceIni();
  const auto start = board.Flash();
  const auto image = Firmware(size, c.chip.version + 0x100, 9);
  WriteBytes(p.File("new.bin"), image);
  p.Settings(std::string(kBoardIds) + "PD1Bin=new.bin\n");

  // Puts the board back as it was, with the cut at transfer n (0: none).
  auto reset = [&](uint32_t n) {
    std::string text = ini;
    const std::string key = std::string("\n") + c.key + "=0\n";
    const size_t at = text.find(key);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, key.size(), std::string("\n") + c.key + "=" + Hex(n) + "\n");
    WriteFile(board.dir() + "/device.ini", text);
    WriteBytes(board.dir() + "/flash.bin", start);
    std::filesystem::remove(board.dir() + "/state.ini");
    p.console.out.clear();
  };
  auto holds_new = [&](const std::vector<uint8_t>& flash) {
    return Same(flash, 0x20000, image) && Same(flash, copy2, image);
  };

  ASSERT_EQ(board.Run(), 1u) << p.out;
  ASSERT_TRUE(holds_new(board.Flash()));
  const auto uncut = board.log;
  const auto total = static_cast<uint32_t>(uncut.size());
  uint32_t first_erase = 0;
  while (first_erase < total && uncut[first_erase].setup.bRequest != kSectorErase) ++first_erase;
  ++first_erase;  // as a transfer number
  const auto marks = Landmarks(uncut);

  board.keep_log = false;
  uint32_t runs = 0, passes = 0, recoveries = 0;
  for (uint32_t n = 1; n <= total; ++n) {
    const auto near = marks.lower_bound(n > kDense ? n - kDense : 0);
    if (n % kStride != 0 && (near == marks.end() || *near > n + kDense)) continue;
    reset(n);
    const uint32_t result = board.Run();
    const auto flash = board.Flash();
    ++runs;
    ASSERT_TRUE(ValidCopy(flash, 0x20000, size) || ValidCopy(flash, copy2, size))
        << c.key << "=" << n << " left no valid copy\n"
        << p.out;
    if (result == 1) {
      // Only a failed transfer that the tool may pass over (a register read
      // of the search, a retried status write) can still end in PASS, and
      // only before the first erase; the flash must then be complete.
      ++passes;
      ASSERT_EQ(std::string(c.key), "FailTransfer") << n;
      ASSERT_LT(n, first_erase) << p.out;
      ASSERT_TRUE(holds_new(flash)) << n;
    } else {
      ASSERT_NE(p.out.find("Return_Value = 0x"), std::string::npos) << n;
    }
    // Now and then the cut board is updated again, from whatever state it
    // was left in.
    if (runs % 100 == 0) {
      reset(0);
      WriteBytes(board.dir() + "/flash.bin", flash);
      ASSERT_EQ(board.Run(), 1u) << "after " << c.key << "=" << n << "\n" << p.out;
      ASSERT_TRUE(holds_new(board.Flash()));
      ++recoveries;
    }
  }
  std::cout << "[ cut-off  ] " << c.name << ": " << total << " transfers uncut, " << runs
            << " cuts, " << passes << " passed over before the first erase, " << recoveries
            << " updated again afterwards\n";
  RecordProperty("transfers", static_cast<int>(total));
  RecordProperty("cuts", static_cast<int>(runs));
}

INSTANTIATE_TEST_SUITE_P(
    Scenario, UpdateCutOff,
    ::testing::Values(CutCase{"K32_copy1_failed_transfer", Chip32K(), false, "FailTransfer"},
                      CutCase{"K32_copy1_unplugged", Chip32K(), false, "UnplugAtTransfer"},
                      CutCase{"K32_both_failed_transfer", Chip32K(), true, "FailTransfer"},
                      CutCase{"K32_both_unplugged", Chip32K(), true, "UnplugAtTransfer"},
                      CutCase{"K50_copy1_failed_transfer", Chip50K(), false, "FailTransfer"},
                      CutCase{"K50_copy1_unplugged", Chip50K(), false, "UnplugAtTransfer"},
                      CutCase{"K50_both_failed_transfer", Chip50K(), true, "FailTransfer"},
                      CutCase{"K50_both_unplugged", Chip50K(), true, "UnplugAtTransfer"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pdflash::test
