// Reader of the INI form the settings file uses: "[Section]" anywhere in a
// line opens the section, any later line containing "[" closes it, and the
// first "KEY=value" line (value not empty) is the entry. Every number is
// hexadecimal.
#pragma once

#include <cstdint>
#include <string>

namespace pdflash {

// The value of the entry, or the default when there is none (or when it holds
// no hexadecimal number at all).
// Relative file names resolve against `folder`.
uint32_t ReadIniInt(const std::string& folder, const char* section, const char* key, uint32_t def,
                    const std::string& file);

enum class IniNumber {
  Absent,      // no entry, or no hexadecimal number in it: the default holds
  Value,       // value = the number
  OutOfRange,  // negative, more than 32 bits, or above max: value untouched
};
// The entry's number, refused when it does not fit a field whose largest
// value is `max`; `text` gets the entry's value text.
IniNumber ReadIniNumber(const std::string& folder, const char* section, const char* key,
                        uint32_t max, const std::string& file, uint32_t& value, std::string& text);

// 1 and dest = the value (cut to dest_size - 1 characters) when the entry
// exists; 0 and dest = def otherwise.
int ReadIniString(const std::string& folder, const char* section, const char* key,
                  std::string& dest, size_t dest_size, const char* def, const std::string& file);

// Scans text like "%X": blanks, optional sign, optional 0x, hex digits, in
// 32-bit arithmetic. False when no digit follows.
bool ScanHex(const char* text, uint32_t& value);

struct HexText {
  bool digits = false;    // any hexadecimal digit at all
  bool negative = false;  // a minus before a number other than 0
  bool over32 = false;    // more than eight digits after the leading zeros
  uint32_t value = 0;     // as ScanHex gives it
};
HexText ScanHexText(const char* text);

}  // namespace pdflash
