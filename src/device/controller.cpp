#include "device/controller.h"

namespace pdflash {

namespace {

constexpr uint8_t kNone = 0xFF;

// chip, identity values, extended ID, file IDs, image size, backup size,
// flash by firmware, second SPI, security IC, low copy 2, no reset to firmware
constexpr Controller kControllers[] = {
    {0x0100, {0x00, kNone, kNone}, 0, 0, 0, 0, 0, 0x10000, false, false, false, false, false},
    {0x0102,
     {0x10, kNone, kNone},
     0,
     0,
     0x07,
     0x08,
     0x8000,
     0x10000,
     false,
     false,
     false,
     false,
     false},
    {0x0103, {0x70, 0x80, 0x81}, 0, 0, 0x09, 0x0A, 0x8000, 0x8000, false, false, false, true, true},
    {0x0104,
     {0x90, kNone, kNone},
     0,
     0,
     0x0B,
     0x0B,
     0xC000,
     0xC000,
     false,
     false,
     false,
     false,
     false},
    {0x0105,
     {0xA0, kNone, kNone},
     0,
     0,
     0x0C,
     0x0C,
     0xC000,
     0xC000,
     false,
     false,
     false,
     false,
     false},
    {0x0106,
     {0xB0, kNone, kNone},
     0,
     0,
     0x0D,
     0x0D,
     0x8000,
     0x8000,
     false,
     false,
     false,
     false,
     false},
    {0x0107,
     {0xC0, kNone, kNone},
     0,
     0,
     0x0E,
     0x0E,
     0xC800,
     0xC800,
     true,
     true,
     true,
     false,
     false},
    {0x0108,
     {kNone, kNone, kNone},
     0x35,
     0x96,
     0xA1,
     0xB1,
     0x10000,
     0x10000,
     false,
     false,
     false,
     false,
     false},
    {0x0109,
     {kNone, kNone, kNone},
     0x36,
     0x01,
     0xA2,
     0xB2,
     0x10000,
     0x10000,
     false,
     false,
     false,
     false,
     false},
};

struct Family {
  uint8_t nibble;
  bool jumps_directly;
  bool reports_orientation;
};

constexpr Family kFamilies[] = {
    {0x7, false, true},
    {0x8, true, true},
    {0xA, true, false},
};

const Family* FamilyOf(uint8_t identity) {
  for (const Family& f : kFamilies)
    if (f.nibble == identity >> 4) return &f;
  return nullptr;
}

}  // namespace

std::span<const Controller> Controllers() {
  return kControllers;
}

const Controller* ControllerByChip(uint16_t chip) {
  for (const Controller& c : kControllers)
    if (c.chip == chip) return &c;
  return nullptr;
}

uint32_t ProjectIdFromIdentity(uint8_t identity, bool& known) {
  known = false;
  if (identity == kNone) return 0;
  for (const Controller& c : kControllers)
    for (const uint8_t value : c.identity)
      if (value == identity) {
        known = true;
        return uint32_t{c.chip} << 16;
      }
  return 0;
}

bool ChipHasSecurityIc(uint16_t chip) {
  const Controller* c = ControllerByChip(chip);
  return c && c->security_ic;
}

bool IdentityHasSecurityIc(uint8_t identity) {
  bool known = false;
  const uint32_t project = ProjectIdFromIdentity(identity, known);
  return known && ChipHasSecurityIc(static_cast<uint16_t>(project >> 16));
}

uint32_t ProjectIdFromExtended(uint8_t high, uint8_t low, uint8_t version) {
  uint32_t code = uint32_t{high} << 8 | low;
  for (const Controller& c : kControllers)
    if (c.ext_high != 0 && c.ext_high == high && c.ext_low == low) code = c.chip;
  return code << 16 | uint32_t{version} << 8;
}

bool FamilyJumpsDirectly(uint8_t identity) {
  const Family* f = FamilyOf(identity);
  return f && f->jumps_directly;
}

bool FamilyReportsOrientation(uint8_t identity) {
  const Family* f = FamilyOf(identity);
  return f && f->reports_orientation;
}

}  // namespace pdflash
