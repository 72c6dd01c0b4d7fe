#include "image/device_info.h"

#include <cstdio>
#include <iterator>

namespace pdflash {

namespace {

constexpr DeviceInfoField kFields[] = {
    {0x03, 0x04, 0x10, 46, true, "SerialNumber="},  {0x05, 0x06, 0x40, 46, true, "iProduct="},
    {0x07, 0x08, 0x80, 62, true, "iSerialNumber="}, {0x09, 0x0A, 0xC0, 46, true, "iVersion="},
    {0x0B, 0x0C, 0xFE, 2, false, "bcdDevice="},
};

// "BBInfo.Txt" shows at most this many characters of a text field.
constexpr size_t kBbInfoChars = 23;

}  // namespace

const DeviceInfoField* InfoFields(size_t& count) {
  count = std::size(kFields);
  return kFields;
}

const DeviceInfoField* InfoFieldForWrite(uint8_t code) {
  for (const auto& f : kFields)
    if (f.write_code == code) return &f;
  return nullptr;
}

const DeviceInfoField* InfoFieldForCheck(uint8_t code) {
  for (const auto& f : kFields)
    if (f.check_code == code) return &f;
  return nullptr;
}

std::string InfoFieldText(const uint8_t* zone, const DeviceInfoField& f, size_t max_chars,
                          uint8_t last) {
  std::string s;
  for (size_t i = 0; i < f.length / 2 && i < max_chars; ++i) {
    const uint8_t c = zone[f.offset + 2 * i];
    if (c < 0x20 || c > last) break;
    s += static_cast<char>(c);
  }
  return s;
}

std::string BbInfoText(const uint8_t* zone) {
  std::string s = "[Billboard]\n";
  for (const auto& f : kFields) {
    if (!f.text) continue;
    s += f.bb_key;
    s += InfoFieldText(zone, f, kBbInfoChars, 0x7F);
    s += "\n";
  }
  char bcd[24];
  std::snprintf(bcd, sizeof bcd, "bcdDevice=%02X%02X\n", zone[0xFE], zone[0xFF]);
  return s + bcd;
}

bool LooksLikeCutRewrite(const uint8_t* now, const uint8_t* was, const uint8_t* meant) {
  for (uint32_t i = 0; i < kDeviceInfoSectorSize; ++i) {
    const uint8_t b = now[i];
    if (b != was[i] && b != meant[i] && b != 0xFF && b != (was[i] & meant[i])) return false;
  }
  return true;
}

}  // namespace pdflash
