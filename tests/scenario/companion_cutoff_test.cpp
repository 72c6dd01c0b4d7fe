// Never bricked, for the companion chips: a DP or VMM6 update cut off at
// transfer N, by a failed transfer or by the device disappearing, ends in
// failure, leaves a copy (bank) the reader accepts and the PD copies as they
// were.
//
// The share settings are 2 (only the companion chip is written), so every
// cut falls into the companion update. N runs over every transfer within
// kDense of a change in the flash traffic (each sector erase counts as one)
// and every kStride-th transfer between; PDFLASH_FULL_CUTOFF=1 runs every N.
#include <cstdlib>
#include <functional>
#include <iostream>

#include "scenario/scenario_support.h"
#include "sim/crc16.h"
#include "sim/pd_copy.h"

namespace pdflash::test {
namespace {

// A person's full run (PDFLASH_FULL_CUTOFF=1) cuts at every transfer; CI
// cuts densely around each phase change and sparsely between.
constexpr uint32_t kDense = 8, kStride = 251;

bool FullMatrix() {
  const char* v = std::getenv("PDFLASH_FULL_CUTOFF");
  return v && *v && std::string(v) != "0";
}

// The device's own judgement of an image: marker and CRC-16 trailer.
bool DpImageAt(const std::vector<uint8_t>& f, uint32_t at, uint32_t size) {
  return f.size() >= at + size && f[at] == 0x02 && sim::HasCrc16Trailer(&f[at], size);
}

bool FlagValid(const std::vector<uint8_t>& f, uint32_t bank) {
  auto ok = [](uint8_t b) { return b != 0x00 && b != 0xFF; };
  return ok(f[bank + 0x4FFF0]) && ok(f[bank + 0x4FFF1]);
}

struct Case {
  const char* name;
  const char* key;
  std::vector<std::string> keys;  // device.ini
  std::string settings;           // with the file as cut.bin
  std::function<void(Rig&)> setup;
  std::vector<uint8_t> file;
  // Empty when the flash after a cut is sound; otherwise what is wrong.
  std::function<std::string(const std::vector<uint8_t>& flash)> sound;
  bool pd_kept = true;  // the PD copies stay as they were
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name << "/" << c.key; }

// Some copy of the family at its places holds an image the reader takes.
std::function<std::string(const std::vector<uint8_t>&)> DpSound(std::vector<uint32_t> places,
                                                                std::vector<uint32_t> sizes) {
  return [=](const std::vector<uint8_t>& f) {
    for (uint32_t at : places)
      for (uint32_t n : sizes)
        if (DpImageAt(f, at, n)) return std::string();
    return std::string("no valid DP copy");
  };
}

std::string Vmm6Sound(const std::vector<uint8_t>& f, const std::vector<uint8_t>& old_image,
                      const std::vector<uint8_t>& new_image) {
  const bool v0 = FlagValid(f, 0x100000), v1 = FlagValid(f, 0x150000);
  if (!v0 && !v1) return "no valid VMM6 bank";
  // The bank the reader takes (bank 0 when both are valid) must be whole.
  const uint32_t used = v0 ? 0x100000 : 0x150000;
  if (!Same(f, used, old_image) && !Same(f, used, new_image))
    return "the valid bank holds a broken image";
  // Two valid banks only once the new bank is whole: the flag switch was cut.
  if (v0 && v1 && !Same(f, 0x100000, new_image) && !Same(f, 0x150000, new_image))
    return "two valid banks before the new one was written";
  return {};
}

std::vector<Case> Cases() {
  std::vector<Case> cases;
  for (const char* key : {"FailTransfer", "UnplugAtTransfer"}) {
    const std::string dp = "PDDPShareSPI=2\nDP1Bin=cut.bin\n";
    cases.push_back({"kmdpa_128k", key, {"FlashSize=80000"}, dp,
                     [](Rig& r) { r.board.Load(0x40000, Dp(0x20000, 0x06000100, 5)); },
                     Dp(0x20000, 0x06010100, 9),
                     DpSound({0x40000, 0x60000}, {0x18000, 0x20000})});
    // The only valid copy is a 128 KiB one; the 96 KiB file must keep it.
    cases.push_back({"kmdpa_96k_over_128k_copy", key, {"FlashSize=80000"}, dp,
                     [](Rig& r) { r.board.Load(0x40000, Dp(0x20000, 0x06000100, 5)); },
                     Dp(0x18000, 0x06010100, 9),
                     DpSound({0x40000, 0x60000}, {0x18000, 0x20000})});
    cases.push_back({"kmdpb_strap0", key, {"FlashSize=80000"}, dp + "DPStrapping=0\n",
                     [](Rig& r) { r.board.Load(0x40000, Dp(0x10000, 0x05000100, 5)); },
                     Dp(0x10000, 0x05010100, 9), DpSound({0x40000, 0x50000}, {0x10000})});
    cases.push_back({"kmdpb_strap1", key, {"FlashSize=80000"}, dp + "DPStrapping=1\n",
                     [](Rig& r) { r.board.Load(0x70000, Dp(0x10000, 0x05000100, 5)); },
                     Dp(0x10000, 0x05010100, 9), DpSound({0x60000, 0x70000}, {0x10000})});
    const auto old_vmm = fwgen::MakeVmm6Firmware({.c = 1, .seed = 5}),
               new_vmm = fwgen::MakeVmm6Firmware({.c = 2, .seed = 9});
    cases.push_back({"vmm6_bank0_active", key, {"FlashSize=200000"},
                     "PDVMM6ShareSPI=2\nVMM6Bin=cut.bin\n",
                     [old_vmm](Rig& r) {
                       r.board.Load(0x100000, old_vmm);
                       r.board.Load(0x19FFF0, {0xFF, 0xFF});
                     },
                     new_vmm,
                     [old_vmm, new_vmm](const std::vector<uint8_t>& f) {
                       return Vmm6Sound(f, old_vmm, new_vmm);
                     }});
    // Copy 1 holds a valid 32 KiB image, copy 2 nothing: a 50 KiB file
    // must leave copy 1 until copy 2 is written.
    cases.push_back({"pd_50k_over_32k_copy1", key, {"FlashSize=80000"}, "",
                     [](Rig& r) {
                       r.board.Load(0x20000, Background(0x20000, 77));
                       r.board.Load(0x20000, Firmware(0x8000, 0x0D010100, 6));
                     },
                     Firmware(0xC800, 0x0E010200, 9),
                     [](const std::vector<uint8_t>& f) {
                       return sim::FindBootCopy(f) ? std::string() : "no PD copy the ROM boots";
                     },
                     false});
  }
  return cases;
}

class CompanionCutOff : public ::testing::TestWithParam<Case> {};

TEST_P(CompanionCutOff, EndsInFailureWithAValidCopy) {
  const Case& c = GetParam();
  auto keys = c.keys;
  keys.push_back(std::string(c.key) + "=0");
  Rig r(keys);
  c.setup(r);
  WriteBytes(r.p.File("cut.bin"), c.file);
  r.p.Settings(c.settings + kBoardIds + "PD1Bin=cut.bin\n");
  const std::string ini = r.board.DeviceIni();
  const auto start = r.board.Flash();
  auto reset = [&](uint32_t n, const std::vector<uint8_t>& flash) {
    r.ResetForCut(ini, c.key, n, flash);
  };

  ASSERT_EQ(r.board.Run(), 1u) << r.p.out;
  const Log uncut = r.board.log;
  ASSERT_EQ(c.sound(r.board.Flash()), "");
  const auto total = static_cast<uint32_t>(uncut.size());
  const size_t first_erase = Where(uncut, {kSectorErase}).at(0) + 1;
  const auto marks = Landmarks(uncut, false);
  const bool full = FullMatrix();

  r.board.keep_log = false;
  uint32_t runs = 0, passes = 0;
  for (uint32_t n = 1; n <= total; ++n) {
    const auto near = marks.lower_bound(n > kDense ? n - kDense : 0);
    if (!full && n % kStride != 0 && (near == marks.end() || *near > n + kDense)) continue;
    reset(n, start);
    const uint32_t result = r.board.Run();
    const auto flash = r.board.Flash();
    ++runs;
    ASSERT_EQ(c.sound(flash), "") << c.key << "=" << n << "\n" << r.p.out;
    // The PD copies and everything below the companion area stay.
    if (c.pd_kept) {
      ASSERT_TRUE(std::equal(start.begin(), start.begin() + 0x40000, flash.begin()))
          << c.key << "=" << n;
    }
    if (result == 1) {
      ++passes;
      ASSERT_EQ(std::string(c.key), "FailTransfer") << n;
      ASSERT_LT(n, first_erase) << r.p.out;
    }
  }
  std::cout << "[ cut-off  ] " << c.name << "/" << c.key << ": " << total << " transfers uncut, "
            << runs << " cuts, " << passes << " passed over before the first erase\n";
  RecordProperty("transfers", static_cast<int>(total));
  RecordProperty("cuts", static_cast<int>(runs));
}

INSTANTIATE_TEST_SUITE_P(Scenario, CompanionCutOff, ::testing::ValuesIn(Cases()),
                         [](const auto& info) {
                           return std::string(info.param.name) + "_" + info.param.key;
                         });

}  // namespace
}  // namespace pdflash::test
