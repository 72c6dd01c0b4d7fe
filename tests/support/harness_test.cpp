#include "support/harness.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace pdflash::test {
namespace {

TEST(Harness, LineEndsComeBackAsLf) {
  EXPECT_EQ(WithLf("a\r\nb\r\n"), "a\nb\n");
  // In-place progress lines keep their carriage returns.
  EXPECT_EQ(WithLf("\r    reading...50%\r                    \r\r\n"),
            "\r    reading...50%\r                    \r\n");
  EXPECT_EQ(WithLf("end\r"), "end\r");

  // A file written in text mode reads back the same on every build; its
  // bytes show the platform's line ends.
  TempDir dir;
  FILE* f = std::fopen((dir / "log.txt").c_str(), "a");
  ASSERT_NE(f, nullptr);
  std::fputs("\r    x\nDone\n", f);
  std::fclose(f);
  EXPECT_EQ(ReadFile(dir / "log.txt"), "\r    x\nDone\n");
#ifdef _WIN32
  EXPECT_EQ(ReadBytes(dir / "log.txt").size(), 14u);
#else
  EXPECT_EQ(ReadBytes(dir / "log.txt").size(), 12u);
#endif
}

}  // namespace
}  // namespace pdflash::test
