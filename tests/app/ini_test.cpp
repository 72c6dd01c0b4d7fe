#include <gtest/gtest.h>

#include "app/ini.h"
#include "support/harness.h"

namespace pdflash {
namespace {

using test::ToolFixture;
using test::WriteFile;

TEST(ScanHex, ReadsLikeScanfHex) {
  uint32_t v = 0;
  EXPECT_TRUE(ScanHex("10", v));
  EXPECT_EQ(v, 0x10u);
  EXPECT_TRUE(ScanHex(" \t0x1f", v));
  EXPECT_EQ(v, 0x1Fu);
  EXPECT_TRUE(ScanHex("-1", v));
  EXPECT_EQ(v, 0xFFFFFFFFu);
  EXPECT_TRUE(ScanHex("12G4", v));
  EXPECT_EQ(v, 0x12u);
  EXPECT_FALSE(ScanHex("on", v));
  EXPECT_FALSE(ScanHex("", v));
}

}  // namespace
}  // namespace pdflash
