// Invariants of the controller table: every lookup the logic makes finds one
// row, and every row describes firmware the update can actually place.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "device/controller.h"
#include "image/flash_map.h"
#include "image/pd_image.h"

namespace pdflash {
namespace {

TEST(ControllerTable, KeysAreUniqueAndEveryIdentityLeadsBackToItsRow) {
  std::set<uint16_t> chips;
  std::set<uint8_t> identities;
  std::set<uint16_t> extended;
  for (const Controller& c : Controllers()) {
    EXPECT_TRUE(chips.insert(c.chip).second) << std::hex << c.chip;
    EXPECT_EQ(ControllerByChip(c.chip), &c);
    for (const uint8_t id : c.identity) {
      if (id == 0xFF) continue;  // unused slot; 0xFF itself means "extended"
      EXPECT_TRUE(identities.insert(id).second) << std::hex << int(id);
      bool known = false;
      EXPECT_EQ(ProjectIdFromIdentity(id, known), uint32_t{c.chip} << 16);
      EXPECT_TRUE(known);
    }
    if (c.ext_high != 0) {
      EXPECT_TRUE(extended.insert(uint16_t(c.ext_high << 8 | c.ext_low)).second);
      EXPECT_EQ(ProjectIdFromExtended(c.ext_high, c.ext_low, 0x02),
                uint32_t{c.chip} << 16 | 0x0200);
    }
  }
  bool known = true;
  EXPECT_EQ(ProjectIdFromIdentity(0xFF, known), 0u);
  EXPECT_FALSE(known);
  // An unknown extended identity is its own chip code.
  EXPECT_EQ(ProjectIdFromExtended(0x12, 0x34, 0x05), 0x12340500u);
  EXPECT_EQ(ControllerByChip(0x1107), nullptr);  // a ROM PID is no chip code
}

TEST(ControllerTable, FirmwareOfEveryRowFitsACopyAndCanBeMatched) {
  const auto sizes = std::begin(kPdImageSizes), sizes_end = std::end(kPdImageSizes);
  int second_spi = 0;
  for (const Controller& c : Controllers()) {
    SCOPED_TRACE(c.chip);
    EXPECT_LE(c.backup_size, kPdCopyArea);
    EXPECT_TRUE(std::find(sizes, sizes_end, c.backup_size) != sizes_end);
    if (c.image_size == 0) {
      EXPECT_EQ(c.fid_a | c.fid_b, 0);
      continue;
    }
    EXPECT_TRUE(std::find(sizes, sizes_end, c.image_size) != sizes_end);
    for (const uint8_t fid : {c.fid_a, c.fid_b}) {
      // 0x00 and 0x0F mark test files, and IDs below 0xA0 are compared by
      // their low nibble only: anything else could never match.
      EXPECT_NE(fid, 0x00);
      EXPECT_NE(fid, 0x0F);
      EXPECT_TRUE(fid >= 0xA0 || fid <= 0x0F) << std::hex << int(fid);
    }
    if (c.second_spi) {
      ++second_spi;
      EXPECT_TRUE(c.security_ic);  // one chip has both the second port and the security IC
      EXPECT_TRUE(c.app_serves_flash);  // the port select is a firmware register
    }
  }
  EXPECT_EQ(second_spi, 1);
  // The security functions find the IC by the identity register as well.
  EXPECT_TRUE(IdentityHasSecurityIc(0xC0));
  EXPECT_FALSE(IdentityHasSecurityIc(0x70));
  EXPECT_FALSE(IdentityHasSecurityIc(0xFF));
}

}  // namespace
}  // namespace pdflash
