// Never bricked: an update of the PD copies or of a companion chip, cut off
// at transfer N by a failed transfer or by the device disappearing, ends in
// failure and leaves a copy (bank) the reader accepts.
//
// Every N of every case would be some 40000 whole runs: N runs over every
// transfer within `dense` of a change in the flash traffic and every
// `stride`-th between; PDFLASH_FULL_CUTOFF=1 runs every N. The companion
// cases use share setting 2, so every cut falls into the companion update.
#include <cstdlib>
#include <functional>
#include <iostream>

#include "scenario/scenario_support.h"
#include "sim/crc16.h"
#include "sim/pd_copy.h"

namespace pdflash::test {
namespace {

using Judge = std::function<std::string(const std::vector<uint8_t>& flash)>;  // "": sound

struct Case {
  std::string name;
  const char* key;
  std::vector<std::string> keys;  // device.ini
  std::vector<uint8_t> old;       // in copy 1, and in copy 2 with `copy2`
  bool copy2;
  std::string settings;  // with the file as cut.bin
  std::function<void(Rig&)> setup;
  std::vector<uint8_t> file;
  Judge sound;
  bool pd_kept;              // the PD copies and all below 0x40000 stay
  uint32_t dense, stride;    // stride odd: samples fall on every request of a program step
  bool every_erase = false;  // each sector erase a phase of its own
  Judge done = {};           // after a cut and a clean run again; none: not tried
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

bool DpImageAt(const std::vector<uint8_t>& f, uint32_t at, uint32_t size) {
  return f.size() >= at + size && f[at] == 0x02 && sim::HasCrc16Trailer(&f[at], size);
}
bool FlagValid(const std::vector<uint8_t>& f, uint32_t bank) {
  auto ok = [](uint8_t b) { return b != 0x00 && b != 0xFF; };
  return ok(f[bank + 0x4FFF0]) && ok(f[bank + 0x4FFF1]);
}
Judge DpSound(std::vector<uint32_t> places, std::vector<uint32_t> sizes) {
  return [=](const std::vector<uint8_t>& f) {
    for (uint32_t at : places)
      for (uint32_t n : sizes)
        if (DpImageAt(f, at, n)) return std::string();
    return std::string("no valid DP copy");
  };
}
Judge Vmm6Sound(const std::vector<uint8_t>& old_image, const std::vector<uint8_t>& new_image) {
  return [=](const std::vector<uint8_t>& f) -> std::string {
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
  };
}

std::vector<Case> Cases() {
  std::vector<Case> cases;
  const auto old_pd = Firmware(0xC800, 0x0E010100, 5);
  const auto keep = [](Rig&) {};
  for (const char* key : {"FailTransfer", "UnplugAtTransfer"}) {
    const std::string k = std::string("_") + key;
    for (const ChipKind* chip : {&kChip32K, &kChip50K})
      for (const bool copy2 : {false, true}) {
        const uint32_t size = chip->size;
        const auto image = Firmware(size, chip->version + 0x100, 9);
        auto keys = chip->keys;
        keys.push_back("FlashSize=40000");
        cases.push_back({std::string(size == 0x8000 ? "K32" : "K50") +
                             (copy2 ? "_both" : "_copy1") + k,
                         key, keys, Firmware(size, chip->version, 5), copy2, "", keep, image,
                         [size](const std::vector<uint8_t>& f) {
                           return ValidCopy(f, 0x20000, size) || ValidCopy(f, Copy2(size), size)
                                      ? "" : "no valid copy";
                         },
                         false, 24, 11, true,
                         [image](const std::vector<uint8_t>& f) {
                           return BothCopies(f, image) ? "" : "not both copies";
                         }});
      }
    const std::string dp = "PDDPShareSPI=2\nDP1Bin=cut.bin\n";
    const std::vector<std::string> half = {"FlashSize=80000"};
    auto at = [](uint32_t address, std::vector<uint8_t> b) {
      return [=](Rig& r) { r.board.Load(address, b); };
    };
    const auto kmdpa = DpSound({0x40000, 0x60000}, {0x18000, 0x20000});
    cases.push_back({"kmdpa_128k" + k, key, half, old_pd, true, dp,
                     at(0x40000, Dp(0x20000, 0x06000100, 5)), Dp(0x20000, 0x06010100, 9), kmdpa,
                     true, 8, 251});
    // The only valid copy is a 128 KiB one; the 96 KiB file must keep it.
    cases.push_back({"kmdpa_96k_over_128k_copy" + k, key, half, old_pd, true, dp,
                     at(0x40000, Dp(0x20000, 0x06000100, 5)), Dp(0x18000, 0x06010100, 9), kmdpa,
                     true, 8, 251});
    cases.push_back({"kmdpb_strap0" + k, key, half, old_pd, true, dp + "DPStrapping=0\n",
                     at(0x40000, Dp(0x10000, 0x05000100, 5)), Dp(0x10000, 0x05010100, 9),
                     DpSound({0x40000, 0x50000}, {0x10000}), true, 8, 251});
    cases.push_back({"kmdpb_strap1" + k, key, half, old_pd, true, dp + "DPStrapping=1\n",
                     at(0x70000, Dp(0x10000, 0x05000100, 5)), Dp(0x10000, 0x05010100, 9),
                     DpSound({0x60000, 0x70000}, {0x10000}), true, 8, 251});
    const auto old_vmm = fwgen::MakeVmm6Firmware({.c = 1, .seed = 5}),
               new_vmm = fwgen::MakeVmm6Firmware({.c = 2, .seed = 9});
    cases.push_back({"vmm6_bank0_active" + k, key, {"FlashSize=200000"}, old_pd, true,
                     "PDVMM6ShareSPI=2\nVMM6Bin=cut.bin\n",
                     [old_vmm](Rig& r) {
                       r.board.Load(0x100000, old_vmm);
                       r.board.Load(0x19FFF0, {0xFF, 0xFF});
                     },
                     new_vmm, Vmm6Sound(old_vmm, new_vmm), true, 8, 251});
    // Copy 1 holds a valid 32 KiB image, copy 2 nothing: a 50 KiB file
    // must leave copy 1 until copy 2 is written.
    cases.push_back({"pd_50k_over_32k_copy1" + k, key, half, old_pd, true, "",
                     [](Rig& r) {
                       r.board.Load(0x20000, Background(0x20000, 77));
                       r.board.Load(0x20000, Firmware(0x8000, 0x0D010100, 6));
                     },
                     Firmware(0xC800, 0x0E010200, 9),
                     [](const std::vector<uint8_t>& f) {
                       return sim::FindBootCopy(f) ? "" : "no PD copy the ROM boots";
                     },
                     false, 8, 251});
  }
  return cases;
}

class CutOff : public ::testing::TestWithParam<Case> {};

TEST_P(CutOff, EndsInFailureWithAValidCopy) {
  const Case& c = GetParam();
  auto keys = c.keys;
  keys.push_back(std::string(c.key) + "=0");
  Rig r(keys, c.old, true, c.copy2);
  c.setup(r);
  WriteBytes(r.p.File("cut.bin"), c.file);
  r.p.Settings(c.settings + kBoardIds + "PD1Bin=cut.bin\n");
  const std::string ini = r.board.DeviceIni();
  const auto start = r.board.Flash();
  ASSERT_EQ(r.board.Run(), 1u) << r.p.out;
  ASSERT_EQ(c.sound(r.board.Flash()), "");
  if (c.done) {
    ASSERT_EQ(c.done(r.board.Flash()), "");
  }
  const Log uncut = r.board.log;
  const auto total = static_cast<uint32_t>(uncut.size());
  const size_t first_erase = Where(uncut, {kSectorErase}).at(0) + 1;
  const auto marks = Landmarks(uncut, c.every_erase);
  const char* full = std::getenv("PDFLASH_FULL_CUTOFF");
  const bool every = full && *full && std::string(full) != "0";

  r.board.keep_log = false;
  uint32_t runs = 0, passes = 0;
  for (uint32_t n = 1; n <= total; ++n) {
    const auto near = marks.lower_bound(n > c.dense ? n - c.dense : 0);
    if (!every && n % c.stride != 0 && (near == marks.end() || *near > n + c.dense)) continue;
    r.ResetForCut(ini, c.key, n, start);
    const uint32_t result = r.board.Run();
    const auto flash = r.board.Flash();
    ++runs;
    ASSERT_EQ(c.sound(flash), "") << c.key << "=" << n << "\n" << r.p.out;
    if (c.pd_kept) {
      ASSERT_TRUE(std::equal(start.begin(), start.begin() + 0x40000, flash.begin())) << n;
    }
    if (result == 1) {
      // Only a failure the tool may pass over (a register read of the search,
      // a retried status write) can still pass: before the first erase.
      ++passes;
      ASSERT_EQ(std::string(c.key), "FailTransfer") << n;
      ASSERT_LT(n, first_erase) << r.p.out;
      if (c.done) {
        ASSERT_EQ(c.done(flash), "") << n;
      }
    } else {
      ASSERT_NE(r.p.out.find("Return_Value = 0x"), std::string::npos) << n;
    }
    // Now and then the cut board is updated again from where it was left.
    if (c.done && runs % 100 == 0) {
      r.ResetForCut(ini, c.key, 0, flash);
      ASSERT_EQ(r.board.Run(), 1u) << "after " << c.key << "=" << n << "\n" << r.p.out;
      ASSERT_EQ(c.done(r.board.Flash()), "");
    }
  }
  std::cout << "[ cut-off  ] " << c.name << ": " << total << " transfers uncut, " << runs
            << " cuts, " << passes << " passed over before the first erase\n";
  RecordProperty("transfers", static_cast<int>(total));
  RecordProperty("cuts", static_cast<int>(runs));
}

INSTANTIATE_TEST_SUITE_P(Scenario, CutOff, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace pdflash::test
