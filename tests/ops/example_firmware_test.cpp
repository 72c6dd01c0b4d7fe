#include <gtest/gtest.h>

#include <map>
#include <string>

#include "image/bytes.h"
#include "image/checksum.h"
#include "ops/companion_files.h"
#include "ops/pd_file.h"
#include "support/harness.h"
#include "tools/fwgen.h"

namespace pdflash {
namespace {

using test::ToolFixture;
using test::WriteBytes;

std::map<std::string, std::vector<uint8_t>> Examples() {
  std::map<std::string, std::vector<uint8_t>> m;
  for (auto& f : fwgen::ExampleSet()) m[f.name] = f.bytes;
  return m;
}

TEST(ExampleFirmware, PdFilesReadAsTheirNamesSayAndFitTheirChips) {
  struct Want {
    const char* name;
    uint32_t size, version;
    uint16_t chip;
  } wants[] = {
      {"pd_32k_v0D010100.bin", 0x8000, 0x0D010100, 0x0106},
      {"pd_48k_v0B010100.bin", 0xC000, 0x0B010100, 0x0104},
      {"pd_50k_v0E010100.bin", 0xC800, 0x0E010100, 0x0107},
      {"pd_50k_v0E010200.bin", 0xC800, 0x0E010200, 0x0107},
      {"pd_64k_vA1010100.bin", 0x10000, 0xA1010100, 0x0108},
  };
  const auto files = Examples();
  for (const Want& w : wants) {
    ASSERT_TRUE(files.count(w.name)) << w.name;
    const auto& b = files.at(w.name);
    ASSERT_EQ(b.size(), w.size) << w.name;
    EXPECT_TRUE(Crc16Trailer(b.data(), w.size)) << w.name;
    // A device-side size probe tries the smaller sizes first; none may match.
    for (uint32_t n : {0x8000u, 0xC000u, 0xC800u}) {
      if (n < w.size) {
        EXPECT_FALSE(Crc16Trailer(b.data(), n)) << w.name << " at " << std::hex << n;
      }
    }

    ToolFixture fx;
    WriteBytes(fx.dir / w.name, b);
    fx.t.Pd[1].BinPath = w.name;
    fx.t.set.PD1VID = 0x2109;
    EXPECT_EQ(GetPdBinVersion(fx.t, 1), w.version) << w.name;
    fx.t.Pd[1].ProjectId = uint32_t{w.chip} << 16;
    EXPECT_EQ(CheckPdBin(fx.t, 1, b[0x1003], w.size), 1u) << w.name;
    fx.t.Pd[1].ProjectId = uint32_t{0x0102} << 16;
    EXPECT_EQ(CheckPdBin(fx.t, 1, b[0x1003], w.size), 0u) << w.name;
  }
}

TEST(ExampleFirmware, CompanionFilesReadBack) {
  const auto files = Examples();
  ToolFixture fx;
  for (const auto& [name, bytes] : files) WriteBytes(fx.dir / name, bytes);

  for (const char* dp : {"dp_64k.bin", "dp_128k.bin"}) {
    const auto& b = files.at(dp);
    EXPECT_TRUE(Crc16Trailer(b.data(), static_cast<uint32_t>(b.size())));
    // Erased padding, then a CRC without 0xFF bytes: how the backup tells the family.
    const size_t n = b.size();
    EXPECT_TRUE(b[n - 4] == 0xFF && b[n - 3] == 0xFF && b[n - 2] != 0xFF && b[n - 1] != 0xFF) << dp;
    fx.t.Dp[1].BinPath = dp;
    EXPECT_NE(GetDpBinVersion(fx.t, 1), 0u) << dp;
  }
  EXPECT_EQ(files.at("dp_64k.bin").size(), 0x10000u);
  EXPECT_EQ(files.at("dp_128k.bin").size(), 0x20000u);

  const auto& hub = files.at("hub.bin");
  EXPECT_EQ(Crc8(hub.data(), 0x1F), hub[0x1F]);
  const uint32_t fw_len = uint32_t{hub[0x0D]} << 16 | Be16(&hub[6]);
  const uint32_t fw_adr = uint32_t{hub[0x0C]} << 16 | Be16(&hub[4]);
  EXPECT_EQ(fw_adr, fwgen::kHubImageStart);
  ASSERT_EQ(hub.size(), fw_adr + fw_len);
  EXPECT_EQ(CheckCrc32(fx.t, hub.data() + fw_adr, fw_len, 0), 1u);
  fx.t.Hub[1].BinPath = "hub.bin";
  EXPECT_EQ(GetHubBinVersion(fx.t, 1), 0x0102u);

  const auto& vmm = files.at("vmm6.bin");
  for (uint8_t flag : {vmm[0x4FFF0], vmm[0x4FFF1]}) EXPECT_TRUE(flag != 0x00 && flag != 0xFF);
  fx.t.Vmm6[1].BinPath = "vmm6.bin";
  EXPECT_EQ(GetVmm6BinVersion(fx.t), 0x01020304u);
}

}  // namespace
}  // namespace pdflash
