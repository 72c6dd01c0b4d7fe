// The device information zone: the unit's USB strings and bcdDevice in one
// flash sector. Pure format: where each field sits and how it reads as text.
#pragma once

#include <cstdint>
#include <string>

namespace pdflash {

// The zone's sector; only its first 256 bytes hold fields.
inline constexpr uint32_t kDeviceInfoSector = 0x3F000;
inline constexpr uint32_t kDeviceInfoSectorSize = 0x1000;
inline constexpr uint32_t kDeviceInfoFieldBytes = 0x100;

struct DeviceInfoField {
  uint8_t write_code, check_code;
  uint16_t offset, length;
  bool text;           // UTF-16LE text; otherwise the bcdDevice, high byte first
  const char* bb_key;  // its "BBInfo.Txt" key
};

// The function code of "/CLEAR": product string to bcdDevice set to 0xFF.
inline constexpr uint8_t kClearInfoCode = 0x0F;
inline constexpr uint16_t kClearOffset = 0x40, kClearLength = 0xC0;

// The field a write or check code names; null for any other code.
const DeviceInfoField* InfoFieldForWrite(uint8_t code);
const DeviceInfoField* InfoFieldForCheck(uint8_t code);
// The fields in zone order.
const DeviceInfoField* InfoFields(size_t& count);

// The low bytes of the field's characters, up to `max_chars`, stopping at
// the first one outside first..last.
std::string InfoFieldText(const uint8_t* zone, const DeviceInfoField& f, size_t max_chars,
                          uint8_t last);

// "BBInfo.Txt" for the first 256 bytes of the zone.
std::string BbInfoText(const uint8_t* zone);

// The sector now in flash is what a cut rewrite of `was` into `meant` can
// leave: each byte as it was, as meant, erased, or programmed over without
// the erase (both ANDed). All three are a whole sector.
bool LooksLikeCutRewrite(const uint8_t* now, const uint8_t* was, const uint8_t* meant);

}  // namespace pdflash
