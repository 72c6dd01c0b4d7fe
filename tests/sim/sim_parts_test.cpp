// The virtual device's part models against values worked out apart from the
// code.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/crc16.h"

namespace pdflash::sim::test {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(SimCrc16, KnownAnswersAndTheTrailerIsLowByteFirst) {
  const std::string digits = "123456789";
  const auto* d = reinterpret_cast<const uint8_t*>(digits.data());
  EXPECT_EQ(Crc16Usb(d, 9), 0xB4C8);
  EXPECT_EQ(Crc16Usb(d, 0), 0x0000);
  Bytes counting(256);
  for (int i = 0; i < 256; ++i) counting[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(Crc16Usb(counting.data(), counting.size()), 0x2193);

  Bytes image(d, d + 9);
  image.insert(image.end(), {0xC8, 0xB4});
  EXPECT_TRUE(HasCrc16Trailer(image.data(), image.size()));
  std::swap(image[9], image[10]);
  EXPECT_FALSE(HasCrc16Trailer(image.data(), image.size())) << "high byte first";
  std::swap(image[9], image[10]);
  image[4] ^= 0x01;
  EXPECT_FALSE(HasCrc16Trailer(image.data(), image.size()));
  EXPECT_FALSE(HasCrc16Trailer(image.data(), 1));
}

}  // namespace
}  // namespace pdflash::sim::test
