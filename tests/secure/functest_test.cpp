#include <gtest/gtest.h>

#include "device/challenge.h"
#include "secure/functest.h"
#include "support/harness.h"

namespace pdflash {
namespace {

using test::ToolFixture;
using test::WriteFile;

TEST(FunctionTest, Ipv4ChecksumBothWays) {
  ToolFixture f;
  EXPECT_EQ(RunFunctionTest(f.t, nullptr, 0x03), 1u);
  // The header's checksum, computed by hand: 4500 001C 7468 0000 8011 0000
  // C0A8 0001 C0A8 00C7 sums to 0x2BBAD, folds to 0xBBAF, inverts to 0x4450.
  EXPECT_EQ(f.console.out,
            "Function_Test_0x03\n---------- IPV4_Test ----------\n    Test_a: 0x4450\n"
            "    Test_b: 0x4450\n\n");
  ToolFixture verbose;
  verbose.t.set.DbgMsg = 1;
  RunFunctionTest(verbose.t, nullptr, 0x03);
  EXPECT_NE(verbose.console.out.find("    Temp1    CheckSum = 0x2BBAD\n"), std::string::npos);
}

TEST(FunctionTest, UnknownNumbersFail) {
  ToolFixture f;
  EXPECT_EQ(RunFunctionTest(f.t, nullptr, 0x7F), 0u);
  EXPECT_EQ(f.console.out, "Function_Test_0x7F\ndev_handle = 0\n");
  ToolFixture device_test_without_device;
  EXPECT_EQ(RunFunctionTest(device_test_without_device.t, nullptr, 0x8E), 0u);
  EXPECT_EQ(device_test_without_device.console.out, "Function_Test_0x8E\ndev_handle = 0\n");
}

TEST(FunctionTest, CoefficientCollisionsForClient3) {
  ToolFixture f;
  WriteFile(f.dir / "Challenge.ini", test::ExampleChallengeFile());
  // Client 3 of the example file multiplies by an odd number: no collisions.
  EXPECT_EQ(RunFunctionTest(f.t, nullptr, 0x04), 1u);
  EXPECT_NE(f.console.out.find("---------- Coeficient_Test,  Client 3 ----------\n    ---- 0x0000 ----\n"),
            std::string::npos);
  EXPECT_NE(f.console.out.find("    ---- 0xF000 ----\n    ---- hit = 0x0000 ----\n"), std::string::npos);

  // Every even challenge shares its answer with the next odd one: all listed.
  ToolFixture halves;
  WriteFile(halves.dir / "Challenge.ini", "[Challenge]\nTest=FFFE,0001,0000,0000,0000\n");
  EXPECT_EQ(CoefficientTest(halves.t.out, halves.t.exe_dir, 0), 0u);
  const std::string& listed = halves.console.out;
  EXPECT_NE(listed.find("    ---- 0x0000 ----\n    0, 1, [0]\n    2, 3, [2]\n"), std::string::npos);
  EXPECT_NE(listed.find("    FFFE, FFFF, [FFFE]\n    ---- hit = 0x8000 ----\n"), std::string::npos);
  EXPECT_EQ(listed.find("list stops"), std::string::npos);

  // One answer for all: two billion pairs, counted exactly, listed in part.
  ToolFixture constant;
  WriteFile(constant.dir / "Challenge.ini", "[Challenge]\nTest=0000,0001,0000,0001,1234\n");
  EXPECT_EQ(CoefficientTest(constant.t.out, constant.t.exe_dir, 0), 0u);
  const std::string& out = constant.console.out;
  size_t pairs = 0;
  for (size_t at = out.find(", [1234]\n"); at != std::string::npos; at = out.find(", [1234]\n", at + 1))
    ++pairs;
  EXPECT_EQ(pairs, 0x10000u);
  EXPECT_NE(out.find("    0, FFFF, [1234]\n    1, 2, [1234]\n"), std::string::npos);
  EXPECT_NE(out.find("    ---- list stops after 0x10000 pairs ----\n"), std::string::npos);
  EXPECT_NE(out.find("    ---- hit = 0x7FFF8000 ----\n"), std::string::npos);

  // The list fills up exactly at the end of one challenge's pairs: the next
  // challenge's pairs are the first ones left out, and the stop is said.
  ToolFixture fours;
  WriteFile(fours.dir / "Challenge.ini", "[Challenge]\nTest=FFF3,0001,0000,0000,0000\n");
  EXPECT_EQ(CoefficientTest(fours.t.out, fours.t.exe_dir, 0), 0u);
  EXPECT_NE(fours.console.out.find("    ---- list stops after 0x10000 pairs ----\n"), std::string::npos);
  EXPECT_NE(fours.console.out.find("    ---- hit = 0x18000 ----\n"), std::string::npos);

  ToolFixture missing;
  EXPECT_EQ(RunFunctionTest(missing.t, nullptr, 0x04), 0u);
  EXPECT_NE(missing.console.out.find("    Challenge_Coefficients_Missing: "), std::string::npos);
}

}  // namespace
}  // namespace pdflash
