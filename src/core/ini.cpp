#include "core/ini.h"

#include <cstdio>
#include <cstring>

#include "core/files.h"

namespace pdflash {

namespace {

// Finds the entry's value; false when the file, section or entry is missing.
bool FindEntry(const std::string& folder, const char* section, const char* key,
               const std::string& file, std::string& value) {
  const std::string marker = std::string("[") + section + "]";
  const std::string prefix = std::string(key) + "=";
  FILE* f = OpenIn(folder, file, "r");
  if (!f) return false;
  char line[200];
  bool in_section = false;
  bool found = false;
  // A line longer than the buffer comes in pieces; only its first piece can
  // be an entry, or a long comment could carry a key in its tail.
  bool first_piece = true;
  while (std::fgets(line, sizeof line, f)) {
    size_t len = std::strlen(line);
    const bool starts_line = first_piece;
    first_piece = len > 0 && line[len - 1] == '\n';
    if (first_piece) line[--len] = '\0';
    // What Windows text mode does for CRLF files.
    if (len > 0 && line[len - 1] == '\r') line[--len] = '\0';
    if (!in_section) {
      in_section = std::strstr(line, marker.c_str()) != nullptr;
      continue;
    }
    if (std::strchr(line, '[')) break;
    if (starts_line && len > prefix.size() &&
        std::strncmp(line, prefix.c_str(), prefix.size()) == 0) {
      value.assign(line + prefix.size());
      found = true;
      break;
    }
  }
  std::fclose(f);
  return found;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

HexText ScanHexText(const char* s) {
  HexText h;
  while (*s == ' ' || *s == '\t' || *s == '\r' || *s == '\n' || *s == '\v' || *s == '\f') ++s;
  bool minus = false;
  if (*s == '+' || *s == '-') minus = (*s++ == '-');
  if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    h.digits = true;  // the 0 itself counts, as it does for scanf
    s += 2;
  }
  uint32_t v = 0;
  int significant = 0;
  for (int d; (d = HexDigit(*s)) >= 0; ++s) {
    v = (v << 4) | static_cast<uint32_t>(d);
    if (significant > 0 || d != 0) ++significant;
    h.digits = true;
  }
  h.over32 = significant > 8;
  h.negative = minus && significant > 0;
  h.value = minus ? 0u - v : v;
  return h;
}

bool ScanHex(const char* s, uint32_t& value) {
  const HexText h = ScanHexText(s);
  if (h.digits) value = h.value;
  return h.digits;
}

uint32_t ReadIniInt(const std::string& folder, const char* section, const char* key, uint32_t def,
                    const std::string& file) {
  std::string text;
  uint32_t v = 0;
  if (FindEntry(folder, section, key, file, text) && ScanHex(text.c_str(), v)) return v;
  return def;
}

IniNumber ReadIniNumber(const std::string& folder, const char* section, const char* key,
                        uint32_t max, const std::string& file, uint32_t& value,
                        std::string& text) {
  if (!FindEntry(folder, section, key, file, text)) return IniNumber::Absent;
  const HexText h = ScanHexText(text.c_str());
  if (!h.digits) return IniNumber::Absent;
  if (h.negative || h.over32 || h.value > max) return IniNumber::OutOfRange;
  value = h.value;
  return IniNumber::Value;
}

int ReadIniString(const std::string& folder, const char* section, const char* key,
                  std::string& dest, size_t dest_size, const char* def, const std::string& file) {
  std::string text;
  const bool found = FindEntry(folder, section, key, file, text);
  dest = found ? text : std::string(def);
  if (dest_size > 0 && dest.size() > dest_size - 1) dest.resize(dest_size - 1);
  return found ? 1 : 0;
}

}  // namespace pdflash
