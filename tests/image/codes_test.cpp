// The pure codes of the image formats: checksums and base64, with the lines
// their file procedures print.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/bytes.h"
#include "image/base64.h"
#include "image/checksum.h"
#include "secure/base64_files.h"
#include "support/harness.h"

namespace pdflash {
namespace {

const std::vector<uint8_t> kDigits = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};

TEST(Checksums, CheckValuesTrailersAndTheSumsFold) {
  test::ToolFixture fx;
  EXPECT_EQ(GetCrc8(fx.t.out, kDigits.data(), 9, 0), 0xF4);
  EXPECT_EQ(GetCrc16(kDigits.data(), 9), 0xB4C8);
  EXPECT_EQ(GetCrc16(kDigits.data(), 0), 0);
  EXPECT_EQ(Crc32(kDigits.data(), 9), 0x89A1897Fu);
  EXPECT_EQ(CheckSum16(fx.t.out, kDigits.data(), 8), 0x2F2B);
  const uint8_t odd[3] = {0x12, 0x34, 0x56};  // padded with a zero byte
  EXPECT_EQ(CheckSum16(fx.t.out, odd, 3), static_cast<uint16_t>(~(0x1234 + 0x5600)));

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
  EXPECT_EQ(CheckSum16(fx.t.out, ones, 4), 0x0000);  // the carry folds back
  EXPECT_EQ(GetCrc8(fx.t.out, kDigits.data(), 9, 1), 0xF4);
  EXPECT_EQ(fx.console.out,
            "    Temp1    CheckSum = 0x1FFFE\n    Temp2    CheckSum = 0xFFFF\n"
            "    Final    CheckSum = 0x0\n    GetCrc8 = 0xF4\n");
}

TEST(Checksums, Crc32TrailerLinesAndBadLengths) {
  test::ToolFixture fx;
  std::vector<uint8_t> b(kDigits.begin(), kDigits.end() - 1);
  b.insert(b.end(), {0xA2, 0x79, 0xE7, 0x20});
  EXPECT_EQ(CheckCrc32(fx.t.out, b.data(), 12, 0), 1u);
  EXPECT_EQ(CheckCrc32(fx.t.out, b.data(), 12, 1), 1u);
  b[11] = 0x21;
  EXPECT_EQ(CheckCrc32(fx.t.out, b.data(), 12, 0), 0u);
  EXPECT_EQ(CheckCrc32(fx.t.out, b.data(), 12, 1), 0u);
  const uint8_t zeros[8] = {};
  EXPECT_EQ(CheckCrc32(fx.t.out, zeros, 4, 0), 1u);  // the CRC of nothing is 0
  EXPECT_EQ(CheckCrc32(fx.t.out, zeros, 6, 0), 0u);  // bad lengths speak whatever the flag
  EXPECT_EQ(CheckCrc32(fx.t.out, zeros, 0, 1), 0u);
  EXPECT_EQ(fx.console.out,
            "    Get_CRC32: 0x20E779A2 \n"
            "    Get_CRC32: 0x20E779A2 \n    SPI_CRC32: 0x21E779A2 \n"
            "    Illegal CRC32 Length: 0x6 \n    Illegal CRC32 Length: 0x0 \n");
}

std::string Encode(const std::string& in) {
  std::string out(Base64EncodedLength(static_cast<uint32_t>(in.size())) + 4, '#');
  const uint32_t n = Base64Encode(reinterpret_cast<const uint8_t*>(in.data()), out.data(),
                                  static_cast<uint32_t>(in.size()));
  EXPECT_EQ(out.substr(n), std::string(out.size() - n, '#')) << "wrote past its count";
  return out.substr(0, n);
}

std::string Decode(const std::string& in) {
  std::vector<uint8_t> out(Base64DecodedCapacity(static_cast<uint32_t>(in.size())), 0);
  const uint32_t n = Base64Decode(in.data(), out.data(), static_cast<uint32_t>(in.size()));
  return std::string(out.begin(), out.begin() + n);
}

TEST(Base64, EncodeDecodeAndRoundTrips) {
  const std::pair<std::string, std::string> pairs[] = {
      {"abc", "YWJj"}, {"ab", "YWI="}, {"a", "YQ=="}, {std::string("\xFB\xFF\x00", 3), "+/8A"}};
  for (const auto& [plain, coded] : pairs) {
    EXPECT_EQ(Encode(plain), coded);
    EXPECT_EQ(Decode(coded), plain);
  }
  EXPECT_EQ(Encode("-abc"), "");  // a leading hyphen is refused
  EXPECT_EQ(Encode("a-b"), "YS1i");
  // Characters outside the alphabet read as 0; a short group is completed with
  // 0; a single character looks only at itself for padding.
  EXPECT_EQ(Decode("Y*I!"), std::string("\x60\x02\x00", 3));
  EXPECT_EQ(Decode("YWJjZA"), std::string("abcd\0\0", 6));
  EXPECT_EQ(Decode("="), std::string("\0\0", 2));

  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>((i * 7 + 3) & 0xFF));
  for (size_t len = 1; len <= all.size(); ++len) {
    const std::string in = all.substr(0, len);
    const std::string enc = Encode(in);
    ASSERT_EQ(enc.size(), (len + 2) / 3 * 4);
    ASSERT_EQ(Decode(enc), in) << "length " << len;
  }
}

TEST(Base64FileProcedures, EncodeAndDecodeEachLineLongLinesAndAMissingFile) {
  test::ToolFixture fx;
  fx.t.set.TextFilePath = "in.txt";
  test::WriteFile(fx.dir / "in.txt", "abc\n-----a\nab\xC3\xA9z\n\nlast");
  EXPECT_EQ(TextFileToBase64(fx.t), 1u);
  test::WriteFile(fx.dir / "in.txt", "YWJj\r\nYWI=\n=\nAGJj\n");
  EXPECT_EQ(Base64FileToText(fx.t), 1u);
  fx.t.set.TextFilePath = "missing.txt";
  EXPECT_EQ(TextFileToBase64(fx.t), 0u);
  EXPECT_EQ(Base64FileToText(fx.t), 0u);
  // Encoding stops at the first non-printable byte; a decoded zero ends the
  // printed text while the count keeps every byte.
  EXPECT_EQ(
      fx.console.out,
      "    Text File To Base64 Encode:\n    Text File Path:  \"in.txt\"\n    Length = 3\nYWJj\n"
      "    Length = 6\n\n    Length = 2\nYWI=\n    Length = 0\n    Length = 4\nbGFzdA==\n"
      "    Final_Output_Length = 16\n"
      "    Base64 File To Text Decode:\n    Text File Path:  \"in.txt\"\n    Length = 4\nabc\n"
      "    Length = 4\nab\n    Length = 1\n\n    Length = 4\n\n    Final_Output_Length = 10\n"
      "    Text File To Base64 Encode:\n    Text File Path:  \"missing.txt\"\n"
      "  Text File Open Error!\n"
      "    Base64 File To Text Decode:\n    Text File Path:  \"missing.txt\"\n"
      "  Text File Open Error!\n");

  // Long lines are read in pieces of 4095 characters and each piece printed
  // whole; a line of exactly 4095 leaves its line end for a second, empty read.
  fx.console.out.clear();
  fx.t.set.TextFilePath = fx.dir / "long.txt";  // an absolute path
  test::WriteFile(fx.dir / "long.txt",
                  std::string(5000, 'A') + "\n" + std::string(4095, 'A') + "\n");
  EXPECT_EQ(TextFileToBase64(fx.t), 1u);
  const std::string enc4095 = Encode(std::string(4095, 'A')),  // more than one buffer holds
      enc905 = Encode(std::string(905, 'A'));
  const std::string want = "    Text File To Base64 Encode:\n    Text File Path:  \"" +
                           fx.t.set.TextFilePath + "\"\n    Length = 4095\n" + enc4095 +
                           "\n    Length = 905\n" + enc905 + "\n    Length = 4095\n" + enc4095 +
                           "\n    Length = 0\n    Final_Output_Length = " +
                           std::to_string(2 * enc4095.size() + enc905.size()) + "\n";
  EXPECT_EQ(fx.console.out, want);
}

}  // namespace
}  // namespace pdflash
