#include "image/ecdsa_image.h"

#include <gtest/gtest.h>

#include <vector>

namespace pdflash {
namespace {

TEST(EcdsaImage, HeaderStartCarriesAddressesAndBcdDate) {
  std::vector<uint8_t> h(kEcdsaHeaderSize, 0xAA);
  uint8_t r[32], s[32];
  for (int i = 0; i < 32; ++i) r[i] = uint8_t(i), s[i] = uint8_t(0x80 + i);
  StartEcdsaHeader(h.data(), 0x4000, LocalTime{2023, 8, 30, 1, 2, 3}, r, s);
  const std::vector<uint8_t> fields(h.begin() + 48, h.begin() + 64);
  EXPECT_EQ(fields, (std::vector<uint8_t>{0, 5, 0, 0, 0, 5, 0x40, 0, 0, 4, 0xF0, 0x40, 0x20,
                                          0x23, 0x08, 0x30}));
  EXPECT_EQ(std::string(h.begin(), h.begin() + 16), "ECDSA IMAGE V0.1");
  EXPECT_EQ(h[16], 0);
  EXPECT_EQ(h[64 + 31], 31);
  EXPECT_EQ(h[96], 0x80);
  EXPECT_EQ(h[128], 0);
  EXPECT_EQ(h[4095], 0);
  const EcdsaHeaderCheck c = CheckEcdsaHeader(h.data());
  EXPECT_TRUE(c.title && c.start && c.signature);
  EXPECT_EQ(c.end, 0x54000u);
  h[50] = 0x05;  // start 0x00050500
  h[15] = '2';
  EXPECT_FALSE(CheckEcdsaHeader(h.data()).start);
  EXPECT_FALSE(CheckEcdsaHeader(h.data()).title);
}

TEST(EcdsaImage, CopySourceJudgedAgainstTheBlocks) {
  const EcdsaBlock blocks[] = {{0x50000, 0x1000}, {0x51000, 0x3000}};
  struct Case {
    uint32_t from, length;
    bool below, found, overlaps;
    int block;
  } cases[] = {
      {0x50000, 0x1000, false, true, false, 0}, {0x50800, 0x1000, false, true, true, 0},
      {0x52000, 0x2000, false, true, false, 1}, {0x53FFF, 0x2, false, true, true, 1},
      {0x40000, 0x100, true, false, false, 0},  {0x54000, 0x100, false, false, false, 0},
  };
  for (const Case& c : cases) {
    const CopyJudgement j = JudgeCopySource(c.from, c.length, blocks);
    EXPECT_EQ(j.below_first, c.below) << std::hex << c.from;
    EXPECT_EQ(j.found, c.found) << std::hex << c.from;
    EXPECT_EQ(j.overlaps, c.overlaps) << std::hex << c.from;
    if (c.found) {
      EXPECT_EQ(j.block, c.block);
    }
  }
  EXPECT_FALSE(JudgeCopySource(0x10, 1, {}).below_first);
  uint8_t d[32];
  EcdsaRegionDescriptor(0x50000, 0x6F000, 0x4F040, d);
  EXPECT_EQ(std::vector<uint8_t>(d, d + 13),
            (std::vector<uint8_t>{0, 5, 0, 0, 0, 6, 0xF0, 0, 0, 4, 0xF0, 0x40, 0}));
  EXPECT_EQ(RoundUp4K(5000), 0x2000u);
  EXPECT_EQ(RoundUp4K(0x1000), 0x1000u);
  EXPECT_EQ(RoundUp4K(0), 0u);
}

}  // namespace
}  // namespace pdflash
