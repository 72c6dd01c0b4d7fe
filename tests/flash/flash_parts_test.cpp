// Invariants of the flash-part table: the default row can do everything run
// control asks of it, and no row sends a zero opcode where one is needed.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "flash/parts.h"

namespace pdflash {
namespace {

TEST(FlashParts, RowsAreNamedAndUsable) {
  std::set<std::string> names;
  constexpr uint8_t kKnownQuirks =
      kQuirkSstStatusEnable | kQuirkW25xExtraEnable | kQuirkStatus2Repair;
  for (const FlashPart& p : FlashParts()) {
    ASSERT_NE(p.name, nullptr);
    EXPECT_TRUE(names.insert(p.name).second) << p.name;
    for (const uint8_t op :
         {p.WriteEnable, p.WriteStatus, p.ChipErase, p.Read, p.ReadStatus, p.PageProgram})
      EXPECT_NE(op, 0x00) << p.name;
    EXPECT_EQ(p.quirks & ~kKnownQuirks, 0) << p.name;
  }
  // Run control always uses the default row: the updates need its sector erase.
  EXPECT_NE(FlashRow(kDefaultFlashRow).SectorErase, 0x00);
  // A row byte outside the table falls back to the default part.
  EXPECT_EQ(&FlashRow(static_cast<uint8_t>(FlashParts().size())), &FlashRow(kDefaultFlashRow));
  EXPECT_EQ(&FlashRow(0xFF), &FlashRow(kDefaultFlashRow));
  EXPECT_EQ(FlashTypeQuirks(0), kQuirkNone);
}

}  // namespace
}  // namespace pdflash
