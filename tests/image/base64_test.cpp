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

std::string Decode(const std::string& in, uint32_t* count = nullptr) {
  std::vector<uint8_t> out(Base64DecodedCapacity(static_cast<uint32_t>(in.size())), 0);
  const uint32_t n = Base64Decode(in.data(), out.data(), static_cast<uint32_t>(in.size()));
  if (count) *count = n;
  return std::string(out.begin(), out.begin() + n);
}

TEST(Base64, EncodesWithPaddingAndRefusesALeadingHyphen) {
  EXPECT_EQ(Encode("abc"), "YWJj");
  EXPECT_EQ(Encode("ab"), "YWI=");
  EXPECT_EQ(Encode("a"), "YQ==");
  EXPECT_EQ(Encode("-abc"), "");
  EXPECT_EQ(Encode(""), "");
  EXPECT_EQ(Encode("a-b"), "YS1i");  // only the first byte counts
  EXPECT_EQ(Encode(std::string("\xFB\xFF\x00", 3)), "+/8A");
}

TEST(Base64, DecodesAndCountsPadding) {
  uint32_t n = 0;
  EXPECT_EQ(Decode("YWI=", &n), "ab");
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(Decode("YQ==", &n), "a");
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(Decode("+/8A"), std::string("\xFB\xFF\x00", 3));
  // Characters outside the alphabet read as 0; a short group is completed with 0.
  EXPECT_EQ(Decode("Y*I!", &n), std::string("\x60\x02\x00", 3));
  EXPECT_EQ(Decode("YWJjZA", &n), std::string("abcd\0\0", 6));
  // One character: only the last character is looked at for padding.
  EXPECT_EQ(Decode("=", &n), std::string("\0\0", 2));
  EXPECT_EQ(Decode("", &n), "");
}

TEST(Base64, RoundTripsEveryLengthAndByte) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>((i * 7 + 3) & 0xFF));
  for (size_t len = 1; len <= all.size(); ++len) {
    const std::string in = all.substr(0, len);
    if (in[0] == '-') continue;
    const std::string enc = Encode(in);
    ASSERT_EQ(enc.size(), (len + 2) / 3 * 4);
    ASSERT_EQ(Decode(enc), in) << "length " << len;
  }
}

TEST(TextFileToBase64, EncodesEachLineUpToTheFirstNonPrintableByte) {
  ToolFixture fx;
  fx.t.set.TextFilePath = "in.txt";
  WriteFile(fx.dir / "in.txt", "abc\n-----a\nab\xC3\xA9z\n\nhi\tthere\nlast");
  EXPECT_EQ(TextFileToBase64(fx.t), 1u);
  EXPECT_EQ(fx.console.out,
            "    Text File To Base64 Encode:\n"
            "    Text File Path:  \"in.txt\"\n"
            "    Length = 3\n"
            "YWJj\n"
            "    Length = 6\n"
            "\n"
            "    Length = 2\n"
            "YWI=\n"
            "    Length = 0\n"
            "    Length = 2\n"
            "aGk=\n"
            "    Length = 4\n"
            "bGFzdA==\n"
            "    Final_Output_Length = 20\n");
}

TEST(TextFileToBase64, LongLinesAreReadIn4095CharacterPiecesAndPrintedWhole) {
  ToolFixture fx;
  fx.t.set.TextFilePath = fx.dir / "long.txt";  // an absolute path works too
  // 5000 characters arrive as 4095 and 905; a line of exactly 4095 leaves its
  // line end for a second, empty read.
  WriteFile(fx.dir / "long.txt", std::string(5000, 'A') + "\n" + std::string(4095, 'A') + "\n");
  EXPECT_EQ(TextFileToBase64(fx.t), 1u);
  // Groups of 41 41 41 encode as QUFB; 4095 bytes give 5460 characters, more
  // than one 4096-byte buffer or one message holds.
  std::string enc4095;
  for (int i = 0; i < 1365; ++i) enc4095 += "QUFB";
  std::string enc905;
  for (int i = 0; i < 301; ++i) enc905 += "QUFB";
  enc905 += "QUE=";
  const std::string want = "    Text File To Base64 Encode:\n    Text File Path:  \"" +
                           fx.t.set.TextFilePath + "\"\n    Length = 4095\n" + enc4095 +
                           "\n    Length = 905\n" + enc905 + "\n    Length = 4095\n" + enc4095 +
                           "\n    Length = 0\n    Final_Output_Length = " +
                           std::to_string(2 * enc4095.size() + enc905.size()) + "\n";
  EXPECT_TRUE(fx.console.out == want)
      << fx.console.out.size() << " characters instead of " << want.size();
}

TEST(Base64FileToText, DecodesEachLineAndTotalsTheCounts) {
  ToolFixture fx;
  fx.t.set.TextFilePath = "in.b64";
  WriteFile(fx.dir / "in.b64", "YWJj\r\nYWI=\n=\nAGJj\n");
  EXPECT_EQ(Base64FileToText(fx.t), 1u);
  // A decoded zero ends the printed text; the count still holds all bytes.
  EXPECT_EQ(fx.console.out,
            "    Base64 File To Text Decode:\n"
            "    Text File Path:  \"in.b64\"\n"
            "    Length = 4\n"
            "abc\n"
            "    Length = 4\n"
            "ab\n"
            "    Length = 1\n"
            "\n"
            "    Length = 4\n"
            "\n"
            "    Final_Output_Length = 10\n");
}

TEST(Base64FileProcedures, MissingFileIsReported) {
  ToolFixture fx;
  fx.t.set.TextFilePath = "missing.txt";
  EXPECT_EQ(TextFileToBase64(fx.t), 0u);
  EXPECT_EQ(Base64FileToText(fx.t), 0u);
  EXPECT_EQ(fx.console.out,
            "    Text File To Base64 Encode:\n"
            "    Text File Path:  \"missing.txt\"\n"
            "  Text File Open Error!\n"
            "    Base64 File To Text Decode:\n"
            "    Text File Path:  \"missing.txt\"\n"
            "  Text File Open Error!\n");
}

}  // namespace
}  // namespace pdflash
