#include "sim/sim_config.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace pdflash::sim {

namespace {

struct KeyEntry {
  KeyInfo info;
  uint32_t DeviceConfig::*field;  // null for Mode and text keys
  uint32_t max;
  int digits;  // width when written back
  // Text keys: the field, and the most hex digits it takes (0: any text).
  std::string DeviceConfig::*text;
  size_t hex_digits;
};

constexpr uint32_t kMaxFlash = 0x1000000;  // 24-bit addresses

const std::vector<KeyEntry>& KeyTable() {
  static const std::vector<KeyEntry> table = {
      {{"Identity", "C0", "register 0x0018"}, &DeviceConfig::Identity, 0xFF, 2},
      {{"ExtIdHigh", "0", "register 0x009C (extended identity, used when Identity is FF)"},
       &DeviceConfig::ExtIdHigh,
       0xFF,
       2},
      {{"ExtIdLow", "0", "register 0x009D"}, &DeviceConfig::ExtIdLow, 0xFF, 2},
      {{"ExtVersion", "0", "register 0x009E"}, &DeviceConfig::ExtVersion, 0xFF, 2},
      {{"AppVID", "2109", "USB vendor ID while application firmware runs"},
       &DeviceConfig::AppVID,
       0xFFFF,
       4},
      {{"AppPID", "0107", "USB product ID while application firmware runs"},
       &DeviceConfig::AppPID,
       0xFFFF,
       4},
      {{"RomVID", "2109", "USB vendor ID while ROM code runs"}, &DeviceConfig::RomVID, 0xFFFF, 4},
      {{"RomPID", "1107", "USB product ID while ROM code runs"}, &DeviceConfig::RomPID, 0xFFFF, 4},
      {{"BcdDevice", "0100", "bcdDevice of the device descriptor"},
       &DeviceConfig::BcdDevice,
       0xFFFF,
       4},
      {{"Mode", "App", "App or Rom; rewritten when the run ends"}, nullptr, 0, 0},
      {{"UsbAddress", "5", "register 0x0021; bits 0-6 are the bus address"},
       &DeviceConfig::UsbAddress,
       0xFF,
       2},
      {{"Location", "Port_#0001.Hub_#0001", "location text the platform reports"}, nullptr, 0, 0},
      {{"Orientation", "1", "low nibble of register 0x1005 (0 and F: cable must be flipped)"},
       &DeviceConfig::Orientation,
       0xF,
       1},
      {{"UfpStatus", "0", "registers 0x2CF2 (low) and 0x2CF3 (high)"},
       &DeviceConfig::UfpStatus,
       0xFFFF,
       4},
      {{"FlashSize", "80000", "first SPI flash in bytes; addresses wrap at this size"},
       &DeviceConfig::FlashSize,
       kMaxFlash,
       1},
      {{"Flash2Size", "0", "second SPI flash in bytes (identity C0 only); 0 = none"},
       &DeviceConfig::Flash2Size,
       kMaxFlash,
       1},
      {{"ChallengeClient", "0", "client whose coefficient set checks answers; 0 = no challenge"},
       &DeviceConfig::ChallengeClient,
       0x7F,
       1},
      {{"RomVersion", "35000100", "version request 0xE2 while ROM code runs"},
       &DeviceConfig::RomVersion,
       0xFFFFFFFF,
       8},
      {{"FailTransfer", "0", "control transfer N of a run fails (counted from 1); 0 = none"},
       &DeviceConfig::FailTransfer,
       0xFFFFFFFF,
       1},
      {{"UnplugAtTransfer", "0", "from transfer N of a run on the device is gone; 0 = never"},
       &DeviceConfig::UnplugAtTransfer,
       0xFFFFFFFF,
       1},
      {{"FlashStatus", "0",
        "status register 1 of the first flash at power-on; rewritten when the run ends"},
       &DeviceConfig::FlashStatus,
       0xFF,
       2},
      {{"FlashStatus2", "0",
        "status register 2 of the first flash at power-on; rewritten when the run ends"},
       &DeviceConfig::FlashStatus2,
       0xFF,
       2},
      {{"Flash2Status", "0", "status register 1 of the second flash at power-on"},
       &DeviceConfig::Flash2Status,
       0xFF,
       2},
      {{"Flash2Status2", "0", "status register 2 of the second flash at power-on"},
       &DeviceConfig::Flash2Status2,
       0xFF,
       2},
      {{"ReenumerationDelay", "3E8", "milliseconds a restarted device stays off the bus"},
       &DeviceConfig::ReenumerationDelay,
       0xFFFFFFFF,
       1},
      {{"SpiMasterStall", "0",
        "byte N of this run through the register SPI master keeps 0x00F1 busy; 0 = none"},
       &DeviceConfig::SpiMasterStall,
       0xFFFFFFFF,
       1},
      {{"ScyKeyHash", "", "SHA-256 of the trusted public key x|y (64 hex digits); empty = any key"},
       nullptr,
       0,
       0,
       &DeviceConfig::ScyKeyHash,
       64},
      {{"ScyInstallSeconds", "5", "device seconds an image install stays busy"},
       &DeviceConfig::ScyInstallSeconds,
       0xFFFF,
       1},
      {{"ScyState", "0", "install state register 0x2BFE at power-on"},
       &DeviceConfig::ScyState,
       0xFF,
       2},
      {{"EccStall", "0", "1 = the ECC engine never reports ready"}, &DeviceConfig::EccStall, 1, 1},
      {{"ShaStall", "0", "1 = the SHA-256 engine never reports done"},
       &DeviceConfig::ShaStall,
       1,
       1},
      {{"TrngSeed", "", "hex bytes that make the TRNG repeatable; empty = truly random"},
       nullptr,
       0,
       0,
       &DeviceConfig::TrngSeed,
       64},
  };
  return table;
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

const KeyEntry* FindKey(const std::string& key) {
  for (const auto& s : KeyTable())
    if (SameText(s.info.name, key)) return &s;
  return nullptr;
}

// "[Name]" -> "Name"; empty when the line is not a section header.
std::string SectionOf(const std::string& line) {
  const std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[' || t.back() != ']') return {};
  return Trim(t.substr(1, t.size() - 2));
}

bool IsComment(const std::string& t) {
  return t.empty() || t[0] == ';' || t[0] == '#';
}

}  // namespace

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

bool ParseHex(const std::string& text, uint32_t& value) {
  std::string t = Trim(text);
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t = t.substr(2);
  if (t.empty() || t.size() > 8) return false;
  uint32_t v = 0;
  for (char c : t) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    v = v << 4 |
        static_cast<uint32_t>(std::isdigit(static_cast<unsigned char>(c))
                                  ? c - '0'
                                  : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
  }
  value = v;
  return true;
}

std::string HexText(uint32_t value, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, value);
  return buf;
}

const std::vector<KeyInfo>& DeviceKeys() {
  static const std::vector<KeyInfo> keys = [] {
    std::vector<KeyInfo> k;
    for (const auto& s : KeyTable()) k.push_back(s.info);
    return k;
  }();
  return keys;
}

bool SetDeviceKey(DeviceConfig& c, const std::string& key, const std::string& value_text,
                  std::string& error) {
  const KeyEntry* entry = FindKey(key);
  if (!entry) {
    error = "unknown key '" + key + "'";
    return false;
  }
  const std::string value = Trim(value_text);
  const std::string name = entry->info.name;
  if (name == "Mode") {
    if (SameText(value, "App"))
      c.mode = Mode::App;
    else if (SameText(value, "Rom"))
      c.mode = Mode::Rom;
    else {
      error = "Mode must be App or Rom, not '" + value + "'";
      return false;
    }
    return true;
  }
  if (name == "Location") {
    c.Location = value;
    return true;
  }
  if (entry->text) {
    const bool hex = std::all_of(value.begin(), value.end(), [](char ch) {
      return std::isxdigit(static_cast<unsigned char>(ch));
    });
    if (!hex || value.size() % 2 || value.size() > entry->hex_digits ||
        (name == "ScyKeyHash" && !value.empty() && value.size() != 64)) {
      error = name + " needs " +
              (name == "ScyKeyHash" ? std::string("64 hex digits")
                                    : "an even number of hex digits, at most " +
                                          std::to_string(entry->hex_digits)) +
              ", not '" + value + "'";
      return false;
    }
    c.*(entry->text) = value;
    return true;
  }
  uint32_t v = 0;
  if (!ParseHex(value, v)) {
    error = name + " needs a hexadecimal number, not '" + value + "'";
    return false;
  }
  if (v > entry->max) {
    char buf[64];
    std::snprintf(buf, sizeof buf, " is at most %X", entry->max);
    error = name + buf + ", not " + value;
    return false;
  }
  c.*(entry->field) = v;
  return true;
}

std::string DeviceKeyText(const DeviceConfig& c, const std::string& key) {
  const KeyEntry* entry = FindKey(key);
  if (!entry) return {};
  const std::string name = entry->info.name;
  if (name == "Mode") return c.mode == Mode::App ? "App" : "Rom";
  if (name == "Location") return c.Location;
  if (entry->text) return c.*(entry->text);
  return HexText(c.*(entry->field), entry->digits);
}

int DeviceSectionNumber(const std::string& section) {
  if (section.size() < 6 || !SameText(section.substr(0, 6), "Device")) return 0;
  const std::string rest = section.substr(6);
  if (rest.empty()) return 1;
  if (rest.size() > 3 || !std::all_of(rest.begin(), rest.end(), [](char ch) {
        return std::isdigit(static_cast<unsigned char>(ch));
      }))
    return 0;
  const int n = std::stoi(rest);
  return n >= 2 ? n : 0;
}

std::string DeviceSectionName(int number) {
  return number <= 1 ? std::string("Device") : "Device" + std::to_string(number);
}

bool ParseDeviceIni(const std::string& text, std::vector<DeviceConfig>& devices,
                    std::string& error) {
  std::map<int, DeviceConfig> found;
  DeviceConfig* current = nullptr;
  int line_no = 0;
  for (const std::string& line : SplitLines(text)) {
    ++line_no;
    const std::string t = Trim(line);
    if (IsComment(t)) continue;
    if (t.front() == '[') {
      const std::string name = SectionOf(t);
      const int n = DeviceSectionNumber(name);
      current = nullptr;
      if (n == 0) continue;  // not ours
      if (found.count(n)) {
        error =
            "device.ini line " + std::to_string(line_no) + ": section [" + name + "] appears twice";
        return false;
      }
      DeviceConfig c;
      c.number = n;
      c.section = DeviceSectionName(n);
      current = &found.emplace(n, c).first->second;
      continue;
    }
    if (!current) continue;
    const size_t eq = t.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = Trim(t.substr(0, eq));
    const std::string value = Trim(t.substr(eq + 1));
    if (!FindKey(key)) continue;  // unknown keys are ignored
    // An empty number takes the default; an empty location means none is known.
    if (value.empty() && !SameText(key, "Location")) continue;
    std::string why;
    if (!SetDeviceKey(*current, key, value, why)) {
      error = "device.ini line " + std::to_string(line_no) + " [" + current->section + "]: " + why;
      return false;
    }
  }
  devices.clear();
  for (auto& [n, c] : found) {
    if (c.FlashSize < 0x1000 || c.FlashSize % 0x1000 != 0) {
      error = "device.ini [" + c.section +
              "]: FlashSize must be a multiple of 1000 (4 KiB), at least 1000";
      return false;
    }
    if (c.Flash2Size % 0x1000 != 0) {
      error = "device.ini [" + c.section + "]: Flash2Size must be 0 or a multiple of 1000 (4 KiB)";
      return false;
    }
    devices.push_back(c);
  }
  if (devices.empty()) {
    error = "device.ini has no [Device] section";
    return false;
  }
  return true;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out;
}

void SetIniLine(std::vector<std::string>& lines, const std::string& section, const std::string& key,
                const std::string& value) {
  bool in_section = false;
  size_t insert_at = std::string::npos;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string t = Trim(lines[i]);
    if (!t.empty() && t.front() == '[') {
      if (in_section) break;
      in_section = SameText(SectionOf(t), section);
      if (in_section) insert_at = i + 1;
      continue;
    }
    if (!in_section || IsComment(t)) continue;
    const size_t eq = t.find('=');
    if (eq == std::string::npos) continue;
    if (SameText(Trim(t.substr(0, eq)), key)) {
      lines[i] = key + "=" + value;
      return;
    }
    insert_at = i + 1;
  }
  if (insert_at == std::string::npos) {
    if (!lines.empty() && !Trim(lines.back()).empty()) lines.push_back("");
    lines.push_back("[" + section + "]");
    insert_at = lines.size();
  }
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insert_at), key + "=" + value);
}

bool HasIniKey(const std::vector<std::string>& lines, const std::string& section,
               const std::string& key) {
  for (const auto& [k, v] : IniEntries(lines, section))
    if (SameText(k, key)) return true;
  return false;
}

std::vector<std::pair<std::string, std::string>> IniEntries(const std::vector<std::string>& lines,
                                                            const std::string& section) {
  std::vector<std::pair<std::string, std::string>> out;
  bool in_section = false;
  for (const auto& line : lines) {
    const std::string t = Trim(line);
    if (!t.empty() && t.front() == '[') {
      in_section = SameText(SectionOf(t), section);
      continue;
    }
    if (!in_section || IsComment(t)) continue;
    const size_t eq = t.find('=');
    if (eq != std::string::npos) out.emplace_back(Trim(t.substr(0, eq)), Trim(t.substr(eq + 1)));
  }
  return out;
}

std::string FlashFileName(int device_number, int flash) {
  const std::string base = flash == 2 ? "flash2.bin" : "flash.bin";
  return device_number <= 1 ? base : "dev" + std::to_string(device_number) + "_" + base;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  std::ifstream f(std::filesystem::path(path), std::ios::binary);
  if (!f) return false;
  std::ostringstream s;
  s << f.rdbuf();
  out = s.str();
  return true;
}

bool WriteWholeFile(const std::string& path, const std::string& content) {
  std::ofstream f(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
  if (!f) return false;
  f.write(content.data(), static_cast<std::streamsize>(content.size()));
  // What is still buffered fails only at the close.
  f.close();
  return !f.fail();
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  return (std::filesystem::path(dir) / name).string();
}

}  // namespace pdflash::sim
