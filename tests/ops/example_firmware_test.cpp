#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "image/checksum.h"
#include "ops/companion_files.h"
#include "ops/pd_file.h"
#include "support/harness.h"
#include "tools/fwgen.h"

namespace pdflash {
namespace {

// The example set reads back as its names say, with the tool's own readers.
TEST(ExampleFirmware, FilesReadAsTheirNamesSayAndPdFilesFitTheirChips) {
  const struct {
    const char* name;
    uint32_t size, version;
    uint16_t chip;
  } pds[] = {
      {"pd_32k_v0D010100.bin", 0x8000, 0x0D010100, 0x0106},
      {"pd_48k_v0B010100.bin", 0xC000, 0x0B010100, 0x0104},
      {"pd_50k_v0E010100.bin", 0xC800, 0x0E010100, 0x0107},
      {"pd_50k_v0E010200.bin", 0xC800, 0x0E010200, 0x0107},
      {"pd_64k_vA1010100.bin", 0x10000, 0xA1010100, 0x0108},
  };
  test::ToolFixture fx;
  std::map<std::string, std::vector<uint8_t>> files;
  for (auto& f : fwgen::ExampleSet()) {
    test::WriteBytes(fx.dir / f.name, f.bytes);
    files[f.name] = f.bytes;
  }
  for (const auto& w : pds) {
    ASSERT_EQ(files[w.name].size(), w.size) << w.name;
    const uint8_t* b = files[w.name].data();
    // A size probe on the device tries the smaller sizes first; none may match.
    for (uint32_t n : {0x8000u, 0xC000u, 0xC800u, 0x10000u})
      EXPECT_EQ(n <= w.size && Crc16Trailer(b, n), n == w.size) << w.name << std::hex << n;
    fx.t.Pd[1].BinPath = w.name;
    EXPECT_EQ(GetPdBinVersion(fx.t, 1), w.version) << w.name;
    fx.t.Pd[1].ProjectId = uint32_t{w.chip} << 16;
    EXPECT_EQ(CheckPdBin(fx.t, 1, b[0x1003], w.size), 1u) << w.name;
  }
  for (const auto& [dp, size] : {std::pair{"dp_64k.bin", 0x10000u}, {"dp_128k.bin", 0x20000u}}) {
    const auto& b = files[dp];
    ASSERT_EQ(b.size(), size);
    EXPECT_TRUE(Crc16Trailer(b.data(), size));
    // Erased padding, then a CRC without 0xFF bytes: how a backup tells the family.
    EXPECT_TRUE(b[size - 3] == 0xFF && b[size - 2] != 0xFF && b[size - 1] != 0xFF) << dp;
    fx.t.Dp[1].BinPath = dp;
    EXPECT_NE(GetDpBinVersion(fx.t, 1), 0u) << dp;
  }
  fx.t.Hub[1].BinPath = "hub.bin";
  EXPECT_EQ(GetHubBinVersion(fx.t, 1), 0x0102u);
  const auto& hub = files["hub.bin"];
  EXPECT_EQ(CheckCrc32(fx.t, hub.data() + fwgen::kHubImageStart,
                       static_cast<uint32_t>(hub.size()) - fwgen::kHubImageStart, 0),
            1u);
  fx.t.Vmm6[1].BinPath = "vmm6.bin";
  EXPECT_EQ(GetVmm6BinVersion(fx.t), 0x01020304u);
}

}  // namespace
}  // namespace pdflash
