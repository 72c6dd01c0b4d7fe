#include "image/checksum.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "image/bytes.h"
#include "support/harness.h"

namespace pdflash {
namespace {

using test::ToolFixture;

std::vector<uint8_t> Ascii(const char* s) {
  return std::vector<uint8_t>(s, s + std::strlen(s));
}

TEST(Crc8, CheckValueAndPrintFlag) {
  ToolFixture fx;
  const auto digits = Ascii("123456789");
  EXPECT_EQ(GetCrc8(fx.t, digits.data(), 9, 0), 0xF4);
  EXPECT_EQ(fx.console.out, "");
  EXPECT_EQ(GetCrc8(fx.t, digits.data(), 9, 1), 0xF4);
  EXPECT_EQ(fx.console.out, "    GetCrc8 = 0xF4\n");
  EXPECT_EQ(Crc8(digits.data(), 0), 0);
  // A single bit error must change the value.
  auto bad = digits;
  bad[4] ^= 0x01;
  EXPECT_NE(Crc8(bad.data(), 9), 0xF4);
}

TEST(Crc16, CheckValueTrailerAndShortLengths) {
  const auto digits = Ascii("123456789");
  EXPECT_EQ(GetCrc16(digits.data(), 9), 0xB4C8);
  EXPECT_EQ(GetCrc16(digits.data(), 0), 0);
  EXPECT_EQ(GetCrc16(digits.data(), -5), 0);

  auto image = digits;
  image.resize(11);
  StampCrc16(image.data(), 11);
  EXPECT_EQ(image[9], 0xC8);  // low byte first
  EXPECT_EQ(image[10], 0xB4);
  EXPECT_TRUE(Crc16Trailer(image.data(), 11));
  image[0] ^= 0x80;
  EXPECT_FALSE(Crc16Trailer(image.data(), 11));
  EXPECT_FALSE(Crc16Trailer(image.data(), 1));
}

TEST(Crc32, CheckValuesAndStoredTrailer) {
  EXPECT_EQ(Crc32(Ascii("123456789").data(), 9), 0x89A1897Fu);
  ToolFixture fx;
  auto b = Ascii("12345678");
  b.insert(b.end(), {0xA2, 0x79, 0xE7, 0x20});
  EXPECT_EQ(CheckCrc32(fx.t, b.data(), 12, 0), 1u);
  EXPECT_EQ(fx.console.out, "");
  EXPECT_EQ(CheckCrc32(fx.t, b.data(), 12, 1), 1u);
  EXPECT_EQ(fx.console.out, "    Get_CRC32: 0x20E779A2 \n");

  // A mismatch shows the stored value as one number, but only when asked.
  fx.console.out.clear();
  b[11] = 0x21;
  EXPECT_EQ(CheckCrc32(fx.t, b.data(), 12, 0), 0u);
  EXPECT_EQ(fx.console.out, "");
  EXPECT_EQ(CheckCrc32(fx.t, b.data(), 12, 1), 0u);
  EXPECT_EQ(fx.console.out, "    Get_CRC32: 0x20E779A2 \n    SPI_CRC32: 0x21E779A2 \n");

  // Four bytes hold only the CRC of nothing, which is 0.
  const uint8_t zeros[4] = {0, 0, 0, 0};
  EXPECT_EQ(CheckCrc32(fx.t, zeros, 4, 0), 1u);
}

TEST(Crc32, BadLengthsAreReportedWhateverThePrintFlag) {
  ToolFixture fx;
  const uint8_t b[8] = {};
  EXPECT_EQ(CheckCrc32(fx.t, b, 6, 0), 0u);
  EXPECT_EQ(CheckCrc32(fx.t, b, 3, 0), 0u);
  EXPECT_EQ(CheckCrc32(fx.t, b, 0, 1), 0u);
  EXPECT_EQ(fx.console.out,
            "    Illegal CRC32 Length: 0x6 \n"
            "    Illegal CRC32 Length: 0x3 \n"
            "    Illegal CRC32 Length: 0x0 \n");
}

TEST(CheckSum16, CheckValuesAndTraceLines) {
  ToolFixture fx;
  const auto digits = Ascii("12345678");
  EXPECT_EQ(CheckSum16(fx.t, digits.data(), 8), 0x2F2B);
  EXPECT_EQ(fx.console.out, "");
  fx.t.set.DbgMsg = 1;
  EXPECT_EQ(CheckSum16(fx.t, digits.data(), 8), 0x2F2B);
  EXPECT_EQ(fx.console.out,
            "    Temp1    CheckSum = 0xD0D4\n"
            "    Temp2    CheckSum = 0xD0D4\n"
            "    Final    CheckSum = 0x2F2B\n");
  fx.t.set.DbgMsg = 0;
  const std::vector<uint8_t> zeros(20, 0);
  EXPECT_EQ(CheckSum16(fx.t, zeros.data(), 20), 0xFFFF);
}

TEST(CheckSum16, CarriesFoldBackAndOddLengthPadsWithZero) {
  ToolFixture fx;
  fx.t.set.DbgMsg = 1;
  // FFFF + FFFF = 1FFFE folds to FFFF, whose complement is 0.
  const uint8_t ones[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(CheckSum16(fx.t, ones, 4), 0x0000);
  EXPECT_EQ(fx.console.out,
            "    Temp1    CheckSum = 0x1FFFE\n"
            "    Temp2    CheckSum = 0xFFFF\n"
            "    Final    CheckSum = 0x0\n");
  fx.t.set.DbgMsg = 0;

  // An odd length counts as if one zero byte followed (RFC 1071), and only the
  // given bytes are read.
  const std::vector<uint8_t> odd = {0x12, 0x34, 0x56};
  const std::vector<uint8_t> padded = {0x12, 0x34, 0x56, 0x00};
  EXPECT_EQ(CheckSum16(fx.t, odd.data(), 3), CheckSum16(fx.t, padded.data(), 4));
  EXPECT_EQ(CheckSum16(fx.t, odd.data(), 3), static_cast<uint16_t>(~(0x1234 + 0x5600)));
  const uint8_t one = 0xAB;
  EXPECT_EQ(CheckSum16(fx.t, &one, 1), static_cast<uint16_t>(~0xAB00));
}

TEST(CheckSum16, StoredSumMakesTheWholeBufferSumToFFFF) {
  ToolFixture fx;
  std::vector<uint8_t> b(64);
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 37 + 11);
  PutBe16(&b[62], CheckSum16(fx.t, b.data(), 62));
  EXPECT_EQ(CheckSum16(fx.t, b.data(), 64), 0x0000);
}

}  // namespace
}  // namespace pdflash
