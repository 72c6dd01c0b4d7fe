#include "image/checksum.h"

#include <gtest/gtest.h>

#include <vector>

#include "image/bytes.h"
#include "support/harness.h"

namespace pdflash {
namespace {

using test::ToolFixture;

const std::vector<uint8_t> kDigits = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};

TEST(Checksums, CheckValuesAndTrailers) {
  ToolFixture fx;
  EXPECT_EQ(GetCrc8(fx.t, kDigits.data(), 9, 0), 0xF4);
  EXPECT_EQ(GetCrc8(fx.t, kDigits.data(), 9, 1), 0xF4);
  EXPECT_EQ(fx.console.out, "    GetCrc8 = 0xF4\n");
  EXPECT_EQ(GetCrc16(kDigits.data(), 9), 0xB4C8);
  EXPECT_EQ(GetCrc16(kDigits.data(), -5), 0);
  EXPECT_EQ(Crc32(kDigits.data(), 9), 0x89A1897Fu);
  EXPECT_EQ(CheckSum16(fx.t, kDigits.data(), 8), 0x2F2B);

  auto image = kDigits;
  image.resize(11);
  StampCrc16(image.data(), 11);
  EXPECT_EQ(image[9], 0xC8);  // low byte first
  EXPECT_EQ(image[10], 0xB4);
  EXPECT_TRUE(Crc16Trailer(image.data(), 11));
  image[0] ^= 0x80;
  EXPECT_FALSE(Crc16Trailer(image.data(), 11));
  EXPECT_FALSE(Crc16Trailer(image.data(), 1));
}

TEST(Checksums, Crc32TrailerLinesAndBadLengths) {
  ToolFixture fx;
  std::vector<uint8_t> b(kDigits.begin(), kDigits.end() - 1);
  b.insert(b.end(), {0xA2, 0x79, 0xE7, 0x20});
  EXPECT_EQ(CheckCrc32(fx.t, b.data(), 12, 0), 1u);
  EXPECT_EQ(CheckCrc32(fx.t, b.data(), 12, 1), 1u);
  b[11] = 0x21;
  EXPECT_EQ(CheckCrc32(fx.t, b.data(), 12, 0), 0u);
  EXPECT_EQ(CheckCrc32(fx.t, b.data(), 12, 1), 0u);
  const uint8_t zeros[8] = {};
  EXPECT_EQ(CheckCrc32(fx.t, zeros, 4, 0), 1u);  // the CRC of nothing is 0
  EXPECT_EQ(CheckCrc32(fx.t, zeros, 6, 0), 0u);  // bad lengths speak whatever the flag
  EXPECT_EQ(CheckCrc32(fx.t, zeros, 0, 1), 0u);
  EXPECT_EQ(fx.console.out,
            "    Get_CRC32: 0x20E779A2 \n"
            "    Get_CRC32: 0x20E779A2 \n    SPI_CRC32: 0x21E779A2 \n"
            "    Illegal CRC32 Length: 0x6 \n"
            "    Illegal CRC32 Length: 0x0 \n");
}

TEST(Checksums, Sum16FoldsCarriesPadsOddLengthsAndClosesAStoredSum) {
  ToolFixture fx;
  fx.t.set.DbgMsg = 1;
  const uint8_t ones[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(CheckSum16(fx.t, ones, 4), 0x0000);
  EXPECT_EQ(fx.console.out,
            "    Temp1    CheckSum = 0x1FFFE\n"
            "    Temp2    CheckSum = 0xFFFF\n"
            "    Final    CheckSum = 0x0\n");
  fx.t.set.DbgMsg = 0;
  const uint8_t odd[3] = {0x12, 0x34, 0x56};
  EXPECT_EQ(CheckSum16(fx.t, odd, 3), static_cast<uint16_t>(~(0x1234 + 0x5600)));

  std::vector<uint8_t> b(64);
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 37 + 11);
  PutBe16(&b[62], CheckSum16(fx.t, b.data(), 62));
  EXPECT_EQ(CheckSum16(fx.t, b.data(), 64), 0x0000);
}

}  // namespace
}  // namespace pdflash
