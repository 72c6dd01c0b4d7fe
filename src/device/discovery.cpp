#include "device/discovery.h"

#include <vector>

#include "core/bytes.h"
#include "device/controller.h"
#include "device/registers.h"

namespace pdflash {

namespace {

// Only the first 20 interfaces of an enumeration are looked at.
constexpr uint32_t kMaxInterfaces = 20;
// HRESULTs of the enumeration: no interface n, path longer than the link holds.
constexpr uint32_t kNoMoreItems = 0x80070103;
constexpr uint32_t kPathTooLong = 0x8007007A;
constexpr size_t kMaxPathChars = kPathSize - 1;

// Registry digit '1'..'9' at a fixed position of the location text; 0 = none.
uint8_t LocationDigit(const std::string& text, size_t pos) {
  const char c = pos < text.size() ? text[pos] : '\0';
  return (c >= '1' && c <= '9') ? static_cast<uint8_t>(c - '0') : 0;
}

uint8_t LocationChar(const std::string& text, size_t pos) {
  return pos < text.size() ? static_cast<uint8_t>(text[pos]) : 0;
}

// Tokens between '#' separators, empty ones skipped.
std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> tokens;
  std::string current;
  for (const char c : path) {
    if (c == '#') {
      if (!current.empty()) tokens.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) tokens.push_back(current);
  return tokens;
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

bool HasConfiguredIds(const PdTable& pd, const UsbDeviceInfo& info) {
  const uint16_t vid = Le16(&info.descriptor[8]), pid = Le16(&info.descriptor[10]);
  for (const DeviceRecord& r : pd) {
    const std::pair<uint16_t, uint16_t> pairs[] = {
        {r.Vid, r.Pid}, {r.Vid2, r.Pid2}, {r.Vid3, r.Pid3}, {r.RomVid, r.RomPid}};
    for (const auto& [v, p] : pairs)
      if ((v != 0 || p != 0) && v == vid && p == pid) return true;
  }
  return false;
}

}  // namespace

uint32_t OpenDevice(Device& dev, UsbBus& bus, uint32_t n, const PdTable& pd, bool& no_more) {
  no_more = false;
  dev.Forget("");
  const std::vector<UsbDeviceInfo> devices = bus.Enumerate();
  if (n >= devices.size()) {
    no_more = true;
    return kNoMoreItems;
  }
  const UsbDeviceInfo& info = devices[n];
  if (info.path.size() > kMaxPathChars) {
    dev.Forget(info.path.substr(0, kMaxPathChars));
    return kPathTooLong;
  }
  const UsbStatus status = dev.Open(bus, info);
  if (status == UsbStatus::Ok) return 0;
  // Only a device with one of our IDs is worth a line: other devices on a
  // Linux bus are often closed to ordinary users.
  if (status == UsbStatus::AccessDenied && HasConfiguredIds(pd, info)) {
    LogPrint(dev.out, "    Open_Device_Access_Denied: %s\n", info.path.c_str());
    const std::string hint = bus.OpenFailureHint(status);
    if (!hint.empty()) LogPrint(dev.out, "    %s\n", hint.c_str());
  }
  return static_cast<uint32_t>(status);
}

uint32_t GetRegistryLocation(Device& dev, UsbBus& bus, uint32_t n, uint8_t& hub, uint8_t& port) {
  Output& out = dev.out;
  hub = 0;
  port = 0;
  LogPrint(out, "    DevicePath = %s\n", dev.Path().c_str());
  const std::vector<std::string> tokens = SplitPath(dev.Path());
  auto token = [&](size_t i) { return i < tokens.size() ? tokens[i] : std::string(); };
  std::string reg_path = "SYSTEM\\CurrentControlSet\\Enum\\USB\\";
  auto limit = [](std::string& s) {
    if (s.size() > kMaxPathChars) s.resize(kMaxPathChars);
  };
  LogPrint(out, "    Split_1 = %s\n", token(0).c_str());
  LogPrint(out, "    wcRegPath_1 = %s\n", reg_path.c_str());
  const std::string ids = Upper(token(1));
  reg_path += ids;
  limit(reg_path);
  LogPrint(out, "    Split_2 = %s\n", ids.c_str());
  LogPrint(out, "    wcRegPath_2 = %s\n", reg_path.c_str());
  // Two appends, not "\\" + token: g++ 12 -O3 reports a false -Wrestrict there.
  reg_path += '\\';
  reg_path += token(2);
  limit(reg_path);
  LogPrint(out, "    Split_3 = %s\n", token(2).c_str());
  LogPrint(out, "    wcRegPath_3 = %s\n", reg_path.c_str());

  std::string text;
  switch (bus.Location(dev.Info(), text)) {
    case LocationStatus::KeyMissing:
      LogPrint(out, "    RegOpenKeyEx FAIL \n");
      return 0;
    case LocationStatus::ValueMissing:
      LogPrint(out, "    RegQueryValueEx FAIL \n");
      return 0;
    case LocationStatus::Ok:
      break;
  }
  // The value buffer holds 255 bytes including the terminator.
  if (text.size() > 254) text.resize(254);
  LogPrint(out, "    DevicePath=%s\n", dev.Path().c_str());
  LogPrint(out, "    Dev_%d, LocationInformation = %s, %X, %X\n", n, text.c_str(),
           LocationChar(text, 19), LocationChar(text, 9));
  // "Port_#0001.Hub_#0002": only the last digit of each number counts.
  port = LocationDigit(text, 9);
  hub = LocationDigit(text, 19);
  return (port != 0 && hub != 0) ? 1 : 0;
}

bool MatchesPdRecord(const DeviceRecord& rec, uint16_t vid, uint16_t pid, uint8_t rom_only) {
  if (!rom_only) {
    if (vid == rec.Vid && pid == rec.Pid) return true;
    if (rec.Vid2 != 0 && rec.Pid2 != 0 && vid == rec.Vid2 && pid == rec.Pid2) return true;
    if (rec.Vid3 != 0 && rec.Pid3 != 0 && vid == rec.Vid3 && pid == rec.Pid3) return true;
  }
  return vid == rec.RomVid && pid == rec.RomPid;
}

bool CableNeedsFlip(Device& dev) {
  uint8_t identity = 0;
  if (!dev.ReadRegister(reg::kIdentity, identity, false)) return false;
  if (!FamilyReportsOrientation(identity)) return false;
  uint8_t orientation = 0;
  if (!dev.ReadRegister(reg::kOrientation, orientation, false)) return false;
  const uint8_t code = orientation & 0x0F;
  if (code != 0 && code != 0x0F) return false;
  LogPrint(dev.out, "    Please flip the USB-C cable and retry again.\n");
  return true;
}

RunMode ReadRunMode(Device& dev, bool echo) {
  uint8_t control = 0;
  if (!dev.ReadRegister(reg::kSpiControl, control, echo)) return RunMode::Unknown;
  return (control & reg::kApplicationRuns) ? RunMode::Application : RunMode::Rom;
}

uint32_t ReadUfpStatus(Device& dev) {
  uint8_t low = 0, high = 0;
  dev.ReadRegister(reg::kUfpStatusLow, low, false);
  dev.ReadRegister(reg::kUfpStatusHigh, high, false);
  return uint32_t{low} | uint32_t{high} << 8;
}

WalkEnd WalkDevices(Device& dev, UsbBus& bus, const RunSettings& s, const PdTable& pd,
                    const Walk& walk) {
  for (uint32_t n = 0; n < kMaxInterfaces; ++n) {
    if (s.DbgMsg) LogPrint(dev.out, "Loop = %d\n", n);
    bool no_more = false;
    if (OpenDevice(dev, bus, n, pd, no_more) != 0) {
      if (no_more) return WalkEnd::NoMoreDevices;
      continue;
    }
    if (s.DbgMsg) LogPrint(dev.out, "    DevicePath=%s\n", dev.Path().c_str());
    const DescriptorIds ids = dev.ReadDescriptorIds();
    if (!walk.ours(n, ids)) {
      LogPrint(dev.out, "    Not_Our_billboard_%d\n", n);
      dev.Close();
      continue;
    }
    LogPrint(dev.out, "    Found Target Device: \n");
    if (!walk.found(n, ids)) return WalkEnd::Stopped;
  }
  return WalkEnd::Limit;
}

}  // namespace pdflash
