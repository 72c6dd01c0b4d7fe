#include "image/base64.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/harness.h"

namespace pdflash {
namespace {

using test::ToolFixture;
using test::WriteFile;

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

TEST(Base64FileProcedures, EncodeEachLineDecodeEachLineMissingFile) {
  ToolFixture fx;
  fx.t.set.TextFilePath = "in.txt";
  WriteFile(fx.dir / "in.txt", "abc\n-----a\nab\xC3\xA9z\n\nlast");
  EXPECT_EQ(TextFileToBase64(fx.t), 1u);
  WriteFile(fx.dir / "in.txt", "YWJj\r\nYWI=\n=\nAGJj\n");
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
}

TEST(Base64FileProcedures, LongLinesAreReadIn4095CharacterPiecesAndPrintedWhole) {
  ToolFixture fx;
  fx.t.set.TextFilePath = fx.dir / "long.txt";
  // A line of exactly 4095 leaves its line end for a second, empty read.
  WriteFile(fx.dir / "long.txt", std::string(5000, 'A') + "\n" + std::string(4095, 'A') + "\n");
  EXPECT_EQ(TextFileToBase64(fx.t), 1u);
  // 5460 characters, more than one buffer holds.
  const std::string enc4095 = Encode(std::string(4095, 'A')),
                    enc905 = Encode(std::string(905, 'A'));
  const std::string want = "    Text File To Base64 Encode:\n    Text File Path:  \"" +
                           fx.t.set.TextFilePath + "\"\n    Length = 4095\n" + enc4095 +
                           "\n    Length = 905\n" + enc905 + "\n    Length = 4095\n" + enc4095 +
                           "\n    Length = 0\n    Final_Output_Length = " +
                           std::to_string(2 * enc4095.size() + enc905.size()) + "\n";
  EXPECT_TRUE(fx.console.out == want)
      << fx.console.out.size() << " characters instead of " << want.size();
}

}  // namespace
}  // namespace pdflash
