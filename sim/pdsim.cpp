#include "sim/pdsim.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>

#include "core/bytes.h"
#include "sim/companion_view.h"
#include "sim/gadget.h"
#include "sim/pd_copy.h"
#include "sim/security_block.h"
#include "sim/sim_config.h"

namespace pdflash::sim {

namespace {

namespace fs = std::filesystem;

std::string Format(const char* fmt, uint32_t a, uint32_t b = 0, uint32_t c = 0, uint32_t d = 0) {
  char buf[128];
  std::snprintf(buf, sizeof buf, fmt, a, b, c, d);
  return buf;
}

std::string VersionText(uint32_t v) {
  return Format("%02X.%02X.%02X.%02X", v >> 24, (v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
}

std::string Usage() {
  std::string u =
      "Usage:\n"
      "  pdsim init DIR [KEY=VALUE ...]   write DIR/device.ini with defaults and a blank flash\n"
      "  pdsim load DIR ADDR FILE [--flash2] [--device N]\n"
      "                                   write FILE into the flash at ADDR, as a programmer\n"
      "                                   would (the board is power-cycled)\n"
      "  pdsim show DIR                   print mode, IDs, the PD firmware copies (of both\n"
      "                                   flashes), the DP, hub and VMM6 firmware in the\n"
      "                                   flash, the information zone and the security zone\n"
      "  pdsim gadget DIR                 serve the board on a USB device controller\n"
      "                                   (Linux, root; pdsim gadget --help)\n"
      "\n"
      "Numbers are hexadecimal. KEY=VALUE sets a key of the first device ([Device]);\n"
      "DeviceN.KEY=VALUE sets it for the N-th device (DeviceN section, N from 2), which\n"
      "init then adds with defaults for the other keys. Example:\n"
      "  pdsim init board Identity=B0 Device2.Identity=C0 Device2.UsbAddress=6\n"
      "\n"
      "device.ini keys (default, meaning):\n";
  for (const KeyInfo& k : DeviceKeys()) {
    char line[200];
    std::snprintf(line, sizeof line, "  %-19s %-21s %s\n", k.name, k.default_text, k.meaning);
    u += line;
  }
  u += "\n"
       "Files in DIR: device.ini; flash.bin and flash2.bin of [Device]; devN_flash.bin and\n"
       "devN_flash2.bin of [DeviceN]; state.ini, the volatile state (registers, challenge,\n"
       "started firmware copy, install state) kept between runs; deleting it power-cycles\n"
       "the board.\n"
       "\n"
       "The security block (identity C0) computes real P-256 and SHA-256. An install\n"
       "(0x2BFE) ends in 80 | code: 1 bad title or addresses, 2 data digest differs from\n"
       "the header, 3 signature does not verify with the header's key, 4 key hash differs\n"
       "from ScyKeyHash, 5 a copy entry reads outside the signed data.\n";
  return u;
}

bool LoadConfigs(const std::string& dir, std::vector<DeviceConfig>& configs, std::string& err) {
  std::string text;
  if (!ReadWholeFile(JoinPath(dir, kDeviceIni), text)) {
    err = "pdsim: no device.ini in '" + dir + "' (run pdsim init first)\n";
    return false;
  }
  std::string why;
  if (!ParseDeviceIni(text, configs, why)) {
    err = "pdsim: " + why + "\n";
    return false;
  }
  return true;
}

// The flash image as the board holds it; blank when the file is missing.
bool ReadFlash(const std::string& dir, const DeviceConfig& c, int flash,
               std::vector<uint8_t>& bytes, std::string& err) {
  const uint32_t size = flash == 2 ? c.Flash2Size : c.FlashSize;
  const std::string name = FlashFileName(c.number, flash);
  const std::string path = JoinPath(dir, name);
  bytes.assign(size, 0xFF);
  if (!fs::exists(path)) return true;
  std::string text;
  if (!ReadWholeFile(path, text)) {
    err = "pdsim: " + name + " cannot be read\n";
    return false;
  }
  if (text.size() != size) {
    err = "pdsim: " + name + " holds " + std::to_string(text.size()) +
          " bytes, but the flash has " + Format("%X", size) + " (hex)\n";
    return false;
  }
  bytes.assign(text.begin(), text.end());
  return true;
}

int Init(const std::vector<std::string>& args, std::string& out, std::string& err) {
  if (args.size() < 2) {
    err = "pdsim init: missing DIR\n" + Usage();
    return 2;
  }
  const std::string dir = args[1];
  std::map<int, DeviceConfig> devices;
  devices[1] = DeviceConfig{};
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string& a = args[i];
    const size_t eq = a.find('=');
    if (eq == std::string::npos || eq == 0) {
      err = "pdsim init: '" + a + "' is not KEY=VALUE\n";
      return 2;
    }
    std::string key = a.substr(0, eq);
    int number = 1;
    const size_t dot = key.find('.');
    if (dot != std::string::npos) {
      number = DeviceSectionNumber(key.substr(0, dot));
      if (number == 0) {
        err = "pdsim init: '" + key.substr(0, dot) +
              "' is not a device section (Device, Device2, ...)\n";
        return 2;
      }
      key = key.substr(dot + 1);
    }
    DeviceConfig& c = devices[number];
    c.number = number;
    c.section = DeviceSectionName(number);
    std::string why;
    if (!SetDeviceKey(c, key, a.substr(eq + 1), why)) {
      err = "pdsim init: " + why + "\n";
      return 2;
    }
  }
  std::string ini =
      "; Virtual PD controller board; one section per device, in bus order.\n"
      "; Every number is hexadecimal. Mode and the flash status registers are\n"
      "; rewritten when a run ends. See pdsim --help for the keys.\n";
  for (auto& [n, c] : devices) {
    if (c.FlashSize < 0x1000 || c.FlashSize % 0x1000 || c.Flash2Size % 0x1000) {
      err = "pdsim init: [" + c.section +
            "] flash sizes must be multiples of 1000 (4 KiB), FlashSize at least 1000\n";
      return 2;
    }
    ini += "\n[" + c.section + "]\n";
    for (const KeyInfo& k : DeviceKeys())
      ini += std::string(k.name) + "=" + DeviceKeyText(c, k.name) + "\n";
  }
  std::error_code ec;
  fs::create_directories(fs::path(dir), ec);
  if (!fs::is_directory(fs::path(dir))) {
    err = "pdsim init: cannot create directory '" + dir + "'\n";
    return 1;
  }
  if (!WriteWholeFile(JoinPath(dir, kDeviceIni), ini)) {
    err = "pdsim init: cannot write " + JoinPath(dir, kDeviceIni) + "\n";
    return 1;
  }
  for (auto& [n, c] : devices) {
    for (int flash = 1; flash <= 2; ++flash) {
      const uint32_t size = flash == 1 ? c.FlashSize : c.Flash2Size;
      const std::string path = JoinPath(dir, FlashFileName(n, flash));
      if (size == 0) {
        fs::remove(fs::path(path), ec);
        continue;
      }
      if (!WriteWholeFile(path, std::string(size, '\xFF'))) {
        err = "pdsim init: cannot write " + path + "\n";
        return 1;
      }
    }
  }
  fs::remove(fs::path(JoinPath(dir, kStateFile)), ec);
  out += "pdsim: " + dir + ": " + std::to_string(devices.size()) + " device(s), blank flash\n";
  return 0;
}

int Load(const std::vector<std::string>& args, std::string& out, std::string& err) {
  std::vector<std::string> pos;
  int flash = 1;
  int number = 1;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--flash2") {
      flash = 2;
    } else if (args[i] == "--device") {
      uint32_t n = 0;
      if (i + 1 >= args.size() || !ParseHex(args[i + 1], n) || n == 0 || n > 999) {
        err = "pdsim load: --device needs a device number (1 for [Device], 2 for [Device2], ...)\n";
        return 2;
      }
      number = static_cast<int>(n);
      ++i;
    } else {
      pos.push_back(args[i]);
    }
  }
  if (pos.size() != 3) {
    err = "pdsim load: needs DIR ADDR FILE\n" + Usage();
    return 2;
  }
  const std::string& dir = pos[0];
  uint32_t address = 0;
  if (!ParseHex(pos[1], address)) {
    err = "pdsim load: ADDR '" + pos[1] + "' is not a hexadecimal address\n";
    return 2;
  }
  std::vector<DeviceConfig> configs;
  if (!LoadConfigs(dir, configs, err)) return 1;
  const DeviceConfig* c = nullptr;
  for (const auto& d : configs)
    if (d.number == number) c = &d;
  if (!c) {
    err = "pdsim load: device.ini has no [" + DeviceSectionName(number) + "]\n";
    return 1;
  }
  const uint32_t size = flash == 2 ? c->Flash2Size : c->FlashSize;
  if (size == 0) {
    err = "pdsim load: [" + c->section + "] has no second flash (Flash2Size is 0)\n";
    return 1;
  }
  std::string file;
  if (!ReadWholeFile(pos[2], file)) {
    err = "pdsim load: cannot read '" + pos[2] + "'\n";
    return 1;
  }
  if (file.empty()) {
    err = "pdsim load: '" + pos[2] + "' is empty\n";
    return 1;
  }
  if (address >= size || file.size() > size - address) {
    err = "pdsim load: " + Format("%X bytes at %X do not fit into a flash of %X bytes\n",
                                  static_cast<uint32_t>(file.size()), address, size);
    return 1;
  }
  std::vector<uint8_t> bytes;
  if (!ReadFlash(dir, *c, flash, bytes, err)) return 1;
  std::copy(file.begin(), file.end(), bytes.begin() + address);
  const std::string name = FlashFileName(c->number, flash);
  if (!WriteWholeFile(JoinPath(dir, name), std::string(bytes.begin(), bytes.end()))) {
    err = "pdsim load: cannot write " + name + "\n";
    return 1;
  }
  // The part was programmed with the board off: it starts afresh.
  std::error_code ec;
  fs::remove(fs::path(JoinPath(dir, kStateFile)), ec);
  out += "pdsim: " + Format("%X bytes to %06X of ", static_cast<uint32_t>(file.size()), address) +
         name + " [" + c->section + "]\n";
  return 0;
}

void ShowCopies(const std::vector<uint8_t>& flash, std::string& out) {
  const auto copies = InspectAllCopies(flash);
  const char* names[] = {"copy 1", "copy 2", "copy 2"};
  for (size_t i = 0; i < copies.size(); ++i) {
    const PdCopy& p = copies[i];
    char head[64];
    std::snprintf(head, sizeof head, "  PD %s at %06X: ", names[i], p.address);
    out += head;
    if (p.valid)
      out += "valid, version " + VersionText(p.version) +
             Format(", size %X, VID/PID %04X/%04X\n", p.size, p.vid, p.pid);
    else
      out += "not valid\n";
  }
}

// A UTF-16LE string of the information zone as the host would show it;
// "(erased)" for a field of 0xFF bytes.
std::string ZoneText(const std::vector<uint8_t>& flash, uint32_t at, uint32_t bytes) {
  if (std::all_of(flash.begin() + at, flash.begin() + at + bytes,
                  [](uint8_t b) { return b == 0xFF; }))
    return "(erased)";
  std::string s = "\"";
  for (uint32_t i = 0; i < bytes; i += 2) {
    const uint16_t c = static_cast<uint16_t>(flash[at + i] | flash[at + i + 1] << 8);
    if (c == 0) break;
    s += c >= 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c)) : Format("\\u%04X", c);
  }
  return s + "\"";
}

// The unit's USB strings and bcdDevice, kept in the sector at 3F000.
void ShowInfoZone(const std::vector<uint8_t>& flash, std::string& out) {
  constexpr uint32_t kZone = 0x3F000;
  if (flash.size() < kZone + 0x1000) return;
  struct Field {
    const char* name;
    uint32_t offset, bytes;
  };
  static constexpr Field kFields[] = {{"serial number", 0x10, 46},
                                      {"product string", 0x40, 46},
                                      {"serial-number string", 0x80, 62},
                                      {"version string", 0xC0, 46}};
  out += "  information zone at 03F000:\n";
  for (const Field& f : kFields) {
    char head[40];
    std::snprintf(head, sizeof head, "    %-21s ", f.name);
    out += head + ZoneText(flash, kZone + f.offset, f.bytes) + "\n";
  }
  out += Format("    bcdDevice             %02X%02X\n", flash[kZone + 0xFE], flash[kZone + 0xFF]);
}

int Show(const std::vector<std::string>& args, std::string& out, std::string& err) {
  if (args.size() != 2) {
    err = "pdsim show: needs DIR\n" + Usage();
    return 2;
  }
  const std::string& dir = args[1];
  std::vector<DeviceConfig> configs;
  if (!LoadConfigs(dir, configs, err)) return 1;
  std::string state_text;
  ReadWholeFile(JoinPath(dir, kStateFile), state_text);
  const auto state_lines = SplitLines(state_text);
  for (const DeviceConfig& c : configs) {
    std::vector<uint8_t> flash1, flash2;
    if (!ReadFlash(dir, c, 1, flash1, err)) return 1;
    if (c.Flash2Size && !ReadFlash(dir, c, 2, flash2, err)) return 1;
    const bool app = c.mode == Mode::App;
    // What runs: ROM code, or the firmware started from a copy (as recorded
    // while the board stayed powered, else the copy the ROM would pick now).
    std::optional<uint32_t> booted_version;
    std::string booted_from;
    uint32_t install_state = c.ScyState;
    for (const auto& [k, v] : IniEntries(state_lines, c.section)) {
      uint32_t x = 0;
      if (k == "ScyState" && ParseHex(v, x)) install_state = x;
      if (k == "BootedVersion" && ParseHex(v, x)) booted_version = x;
      if (k == "BootedCopy") booted_from = v;
    }
    if (app && !booted_version) {
      const auto copy = FindBootCopy(flash1);
      booted_version = copy ? copy->version : 0;
      booted_from = copy ? Format("%06X", copy->address) : "none";
    }
    out += "[" + c.section + "] " + (app ? "application firmware" : "ROM code") +
           Format(", identity %02X", c.Identity);
    if (c.Identity == 0xFF)
      out += Format(" (extended %02X%02X, version %02X)", c.ExtIdHigh, c.ExtIdLow, c.ExtVersion);
    out += ", running version " + VersionText(app ? *booted_version : c.RomVersion);
    if (app) out += booted_from == "none" ? " (no valid copy)" : " (copy at " + booted_from + ")";
    out += "\n";
    out += Format("  IDs: application %04X/%04X, ROM %04X/%04X", c.AppVID, c.AppPID, c.RomVID,
                  c.RomPID) +
           Format(", now %04X/%04X, bcdDevice %04X\n", app ? c.AppVID : c.RomVID,
                  app ? c.AppPID : c.RomPID, c.BcdDevice);
    out += Format("  USB address %02X, location ", c.UsbAddress & 0x7F) + c.Location +
           Format(", challenge client %X\n", c.ChallengeClient);
    out +=
        Format("  flash %X bytes, status %02X/%02X\n", c.FlashSize, c.FlashStatus, c.FlashStatus2);
    ShowCopies(flash1, out);
    out += DescribeCompanions(flash1);
    ShowInfoZone(flash1, out);
    if (c.Identity == 0xC0) out += DescribeSecurityZone(flash1, install_state);
    if (c.Flash2Size) {
      out += Format("  second flash %X bytes, status %02X/%02X\n", c.Flash2Size, c.Flash2Status,
                    c.Flash2Status2);
      ShowCopies(flash2, out);
    }
  }
  return 0;
}

}  // namespace

int RunPdsim(const std::vector<std::string>& args, std::string& out, std::string& err) {
  if (args.empty()) {
    err = Usage();
    return 2;
  }
  const std::string& cmd = args[0];
  if (cmd == "--help" || cmd == "-h" || cmd == "help") {
    out = Usage();
    return 0;
  }
  if (cmd == "init") return Init(args, out, err);
  if (cmd == "load") return Load(args, out, err);
  if (cmd == "show") return Show(args, out, err);
  if (cmd == "gadget") return RunGadget({args.begin() + 1, args.end()}, out, err);
  err = "pdsim: unknown command '" + cmd + "'\n" + Usage();
  return 2;
}

}  // namespace pdflash::sim
