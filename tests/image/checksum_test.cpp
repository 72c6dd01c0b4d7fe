#include "image/checksum.h"

#include <gtest/gtest.h>

#include <vector>

#include "image/bytes.h"
#include "support/harness.h"

namespace pdflash {
namespace {

const std::vector<uint8_t> kDigits = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};

TEST(Checksums, CheckValuesTrailersAndTheSumsFold) {
  test::ToolFixture fx;
  EXPECT_EQ(GetCrc8(fx.t, kDigits.data(), 9, 0), 0xF4);
  EXPECT_EQ(GetCrc16(kDigits.data(), 9), 0xB4C8);
  EXPECT_EQ(GetCrc16(kDigits.data(), 0), 0);
  EXPECT_EQ(Crc32(kDigits.data(), 9), 0x89A1897Fu);
  EXPECT_EQ(CheckSum16(fx.t, kDigits.data(), 8), 0x2F2B);
  const uint8_t odd[3] = {0x12, 0x34, 0x56};  // padded with a zero byte
  EXPECT_EQ(CheckSum16(fx.t, odd, 3), static_cast<uint16_t>(~(0x1234 + 0x5600)));

  auto image = kDigits;
  image.resize(11);
  StampCrc16(image.data(), 11);
  EXPECT_EQ(Le16(&image[9]), 0xB4C8);
  EXPECT_TRUE(Crc16Trailer(image.data(), 11));
  image[0] ^= 0x80;
  EXPECT_FALSE(Crc16Trailer(image.data(), 11));
  EXPECT_EQ(fx.console.out, "");

  fx.t.set.DbgMsg = 1;
  const uint8_t ones[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(CheckSum16(fx.t, ones, 4), 0x0000);  // the carry folds back
  EXPECT_EQ(GetCrc8(fx.t, kDigits.data(), 9, 1), 0xF4);
  EXPECT_EQ(fx.console.out,
            "    Temp1    CheckSum = 0x1FFFE\n    Temp2    CheckSum = 0xFFFF\n"
            "    Final    CheckSum = 0x0\n    GetCrc8 = 0xF4\n");
}

TEST(Checksums, Crc32TrailerLinesAndBadLengths) {
  test::ToolFixture fx;
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
            "    Illegal CRC32 Length: 0x6 \n    Illegal CRC32 Length: 0x0 \n");
}

}  // namespace
}  // namespace pdflash
