#include "device/discovery.h"

#include <vector>

#include "app/log.h"
#include "device/vendor.h"
#include "core/bytes.h"
#include "ops/pd_version.h"

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

// Version reads of the companion chips that share the PD flash. Their readers
// come with the DP converter and VMM6 firmware support; until then these do
// nothing.
void ReadSharedVmm6Version(Tool&, UsbLink&, uint8_t /*in_rom*/) {}
void ReadSharedDpVersion(Tool&, UsbLink&, uint8_t /*in_rom*/) {}

void PrintProjectId(Tool& t, const DeviceRecord& rec) {
  if (!t.set.DbgMsg) return;
  if (rec.ProjectId != 0)
    LogPrint(t, "    PJID = 0x%08X, %s\n", rec.ProjectId, rec.ChipName.c_str());
  else
    LogPrint(t, "    No_Matched_PJID.\n");
}

// GPIO8 is pulled down so the VMM6 chip lets go of the shared flash; functions
// that never touch the flash, and the ones that manage GPIO8 themselves, skip it.
void ReleaseSharedFlash(Tool& t, UsbLink& link) {
  const RunSettings& s = t.set;
  if (s.CreateCRC16Only || s.CreatePDImgOnly || s.I2CTestOnly || s.FuncTestOnly) {
    if (s.DbgMsg) LogPrint(t, "    No_Pull_Down1\n");
    return;
  }
  if (t.ControlMode == 0x40010 || (t.ControlMode & 0x600000) != 0) {
    if (s.DbgMsg) LogPrint(t, "    No_Pull_Down2\n");
  } else if (s.SkipGPIO8Ctl) {
    LogPrint(t, "    Skip_GPIO8_Low_3\n");
  } else {
    SetGpio(t, link, 8, 0);
  }
}

}  // namespace

namespace {

bool HasConfiguredIds(const Tool& t, const UsbDeviceInfo& info) {
  const uint16_t vid = Le16(&info.descriptor[8]), pid = Le16(&info.descriptor[10]);
  for (const DeviceRecord& r : t.Pd) {
    const std::pair<uint16_t, uint16_t> pairs[] = {
        {r.Vid, r.Pid}, {r.Vid2, r.Pid2}, {r.Vid3, r.Pid3}, {r.RomVid, r.RomPid}};
    for (const auto& [v, p] : pairs)
      if ((v != 0 || p != 0) && v == vid && p == pid) return true;
  }
  return false;
}

}  // namespace

uint32_t OpenDevice(Tool& t, uint32_t n, UsbLink& link, bool& no_more) {
  no_more = false;
  link.open = false;
  link.dev.reset();
  link.path.clear();
  const std::vector<UsbDeviceInfo> devices = t.bus.Enumerate();
  if (n >= devices.size()) {
    no_more = true;
    return kNoMoreItems;
  }
  const UsbDeviceInfo& info = devices[n];
  if (info.path.size() > kMaxPathChars) {
    link.path = info.path.substr(0, kMaxPathChars);
    return kPathTooLong;
  }
  link.path = info.path;
  link.info = info;
  UsbStatus status = UsbStatus::Failed;
  std::unique_ptr<UsbDevice> dev = t.bus.Open(info, status);
  if (!dev) {
    if (status == UsbStatus::Ok) status = UsbStatus::Failed;
    // Only a device with one of our IDs is worth a line: other devices on a
    // Linux bus are often closed to ordinary users.
    if (status == UsbStatus::AccessDenied && HasConfiguredIds(t, info)) {
      LogPrint(t, "    Open_Device_Access_Denied: %s\n", info.path.c_str());
      const std::string hint = t.bus.OpenFailureHint(status);
      if (!hint.empty()) LogPrint(t, "    %s\n", hint.c_str());
    }
    return static_cast<uint32_t>(status);
  }
  link.dev = std::move(dev);
  link.open = true;
  return 0;
}

void CloseDevice(UsbLink& link) {
  if (!link.open) return;
  link.dev.reset();
  link.open = false;
}

uint32_t GetRegistryLocation(Tool& t, uint32_t n, UsbLink& link, uint8_t& hub, uint8_t& port) {
  hub = 0;
  port = 0;
  LogPrint(t, "    DevicePath = %s\n", link.path.c_str());
  const std::vector<std::string> tokens = SplitPath(link.path);
  auto token = [&](size_t i) { return i < tokens.size() ? tokens[i] : std::string(); };
  std::string reg_path = "SYSTEM\\CurrentControlSet\\Enum\\USB\\";
  auto limit = [](std::string& s) {
    if (s.size() > kMaxPathChars) s.resize(kMaxPathChars);
  };
  LogPrint(t, "    Split_1 = %s\n", token(0).c_str());
  LogPrint(t, "    wcRegPath_1 = %s\n", reg_path.c_str());
  const std::string ids = Upper(token(1));
  reg_path += ids;
  limit(reg_path);
  LogPrint(t, "    Split_2 = %s\n", ids.c_str());
  LogPrint(t, "    wcRegPath_2 = %s\n", reg_path.c_str());
  reg_path += "\\" + token(2);
  limit(reg_path);
  LogPrint(t, "    Split_3 = %s\n", token(2).c_str());
  LogPrint(t, "    wcRegPath_3 = %s\n", reg_path.c_str());

  std::string text;
  switch (t.bus.Location(link.info, text)) {
    case LocationStatus::KeyMissing:
      LogPrint(t, "    RegOpenKeyEx FAIL \n");
      return 0;
    case LocationStatus::ValueMissing:
      LogPrint(t, "    RegQueryValueEx FAIL \n");
      return 0;
    case LocationStatus::Ok:
      break;
  }
  // The value buffer holds 255 bytes including the terminator.
  if (text.size() > 254) text.resize(254);
  LogPrint(t, "    DevicePath=%s\n", link.path.c_str());
  LogPrint(t, "    Dev_%d, LocationInformation = %s, %X, %X\n", n, text.c_str(),
           LocationChar(text, 19), LocationChar(text, 9));
  // "Port_#0001.Hub_#0002": only the last digit of each number counts.
  port = LocationDigit(text, 9);
  hub = LocationDigit(text, 19);
  return (port != 0 && hub != 0) ? 1 : 0;
}

DescriptorIds ReadDescriptorIds(UsbLink& link) {
  std::array<uint8_t, 18> desc{};
  if (link.dev) link.dev->ReadDeviceDescriptor(desc);
  return DescriptorIds{Le16(&desc[8]), Le16(&desc[10]), Le16(&desc[12])};
}

bool MatchesPdRecord(const DeviceRecord& rec, uint16_t vid, uint16_t pid, uint8_t rom_only) {
  if (!rom_only) {
    if (vid == rec.Vid && pid == rec.Pid) return true;
    if (rec.Vid2 != 0 && rec.Pid2 != 0 && vid == rec.Vid2 && pid == rec.Pid2) return true;
    if (rec.Vid3 != 0 && rec.Pid3 != 0 && vid == rec.Vid3 && pid == rec.Pid3) return true;
  }
  return vid == rec.RomVid && pid == rec.RomPid;
}

bool CableNeedsFlip(Tool& t, UsbLink& link) {
  uint8_t identity = 0;
  if (!ReadRegister(t, link, 0x0018, identity, false)) return false;
  const uint8_t family = identity >> 4;
  if (family != 0x7 && family != 0x8) return false;
  uint8_t orientation = 0;
  if (!ReadRegister(t, link, 0x1005, orientation, false)) return false;
  const uint8_t code = orientation & 0x0F;
  if (code != 0 && code != 0x0F) return false;
  LogPrint(t, "    Please flip the USB-C cable and retry again.\n");
  return true;
}

uint32_t SearchDevice(Tool& t, UsbLink& link, uint8_t d, uint8_t rom_only, uint8_t& in_rom,
                      uint8_t close_after) {
  const RunSettings& s = t.set;
  DeviceRecord& rec = t.Pd[d];
  const bool by_location = s.WinLocationHub != 0 || s.WinLocationPort != 0;
  bool accepted = false;
  for (uint32_t n = 0; n < kMaxInterfaces && !accepted; ++n) {
    if (s.DbgMsg) LogPrint(t, "Loop = %d\n", n);
    bool no_more = false;
    if (OpenDevice(t, n, link, no_more) != 0) {
      if (no_more) {
        LogPrint(t, "    DeviceNotFound\n");
        return 0;
      }
      continue;
    }
    if (s.DbgMsg) LogPrint(t, "    DevicePath=%s\n", link.path.c_str());
    const DescriptorIds ids = ReadDescriptorIds(link);

    uint8_t hub = 0, port = 0;
    uint32_t located = 0;
    if (by_location) {
      located = GetRegistryLocation(t, n, link, hub, port);
      if (located)
        LogPrint(t, "    Registry_Location = Hub%04d, Port%04d\n", hub, port);
      else
        LogPrint(t, "    Registry_Location_Not_Found\n");
    }

    if (!MatchesPdRecord(rec, ids.vid, ids.pid, rom_only)) {
      LogPrint(t, "    Not_Our_billboard_%d\n", n);
      CloseDevice(link);
      continue;
    }
    LogPrint(t, "    Found Target Device: \n");
    rec.CurVid = ids.vid;
    rec.CurPid = ids.pid;
    rec.BcdDevice = ids.bcd;
    ReadChipIdentity(t, link, d, false);
    PrintProjectId(t, rec);
    GetPdFwVersion(t, link, d, false);
    GetUsbAddress(t, link);

    if (s.USBSetAddress != 0 && s.USBSetAddress != t.CurrentUsbAddress) {
      CloseDevice(link);
      LogPrint(t, "    Not_Target_USB_Address \n");
      continue;
    }
    if (by_location && !(located && hub == s.WinLocationHub && port == s.WinLocationPort)) {
      CloseDevice(link);
      LogPrint(t, "    Not_Target_Location_Info\n");
      continue;
    }
    accepted = true;
  }
  if (!accepted) return 0;

  uint32_t result = 1;
  uint8_t mode = 0xFF;
  if (ReadRegister(t, link, 0x00F7, mode, false) && (mode & 0x80) == 0) in_rom = 1;
  GetPdFormalVer(t, link, in_rom);
  if (s.SkipJumpRom) in_rom = 1;
  // The device stays open: the caller may still want to read it.
  if (CableNeedsFlip(t, link)) result = 0;

  uint8_t ufp_low = 0, ufp_high = 0;
  ReadRegister(t, link, 0x2CF2, ufp_low, false);
  ReadRegister(t, link, 0x2CF3, ufp_high, false);
  t.UfpStatus[d] = static_cast<uint32_t>(ufp_low) | static_cast<uint32_t>(ufp_high) << 8;

  if (s.PDVMM6ShareSPI && d == 1) {
    ReleaseSharedFlash(t, link);
    if (s.ReadVerOnly || t.ControlMode == 0x40080) ReadSharedVmm6Version(t, link, in_rom);
  }
  if (s.PDDPShareSPI && d == 1 && (s.ReadVerOnly || t.ControlMode == 0x40040))
    ReadSharedDpVersion(t, link, in_rom);

  if (close_after) CloseDevice(link);
  return result;
}

uint32_t WaitRomDevice(Tool& t, UsbLink& link, uint8_t d) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    uint8_t in_rom = 0;
    const uint32_t found = SearchDevice(t, link, d, 1, in_rom, 0);
    if (found && in_rom) return 1;
    if (found) CloseDevice(link);
    t.clock.SleepMs(3000);
  }
  return 0;
}

uint32_t SameIdFwCheckRom(Tool& t, UsbLink& link, uint8_t d, uint8_t expected) {
  const RunSettings& s = t.set;
  DeviceRecord& rec = t.Pd[d];
  t.SameIdAddress.fill(0);
  uint32_t count = 0;
  uint32_t result = 0;
  LogPrint(t, "Same_IDFW_Check_Rom\n");
  for (uint32_t n = 0; n < kMaxInterfaces; ++n) {
    if (s.DbgMsg) LogPrint(t, "Loop = %d\n", n);
    bool no_more = false;
    if (OpenDevice(t, n, link, no_more) == 0) {
      if (s.DbgMsg) LogPrint(t, "    DevicePath=%s\n", link.path.c_str());
      const DescriptorIds ids = ReadDescriptorIds(link);
      if (ids.vid != rec.RomVid || ids.pid != rec.RomPid) {
        LogPrint(t, "    Not_Our_billboard_%d\n", n);
        CloseDevice(link);
      } else {
        LogPrint(t, "    Found Target Device: \n");
        ReadChipIdentity(t, link, d, false);
        PrintProjectId(t, rec);
        GetUsbAddress(t, link);
        if (CableNeedsFlip(t, link)) {
          CloseDevice(link);
          return 0;
        }
        uint8_t mode = 0xFF;
        const uint32_t read = ReadRegister(t, link, 0x00F7, mode, false);
        CloseDevice(link);
        if (!read || (mode & 0x80) != 0) {
          LogPrint(t, "    Still_Find_FW_Mode_Device.\n");
          return 0;
        }
        t.SameIdAddress[count++] = t.CurrentUsbAddress;
        if (count == t.SameIdAddress.size()) {
          LogPrint(t, "    Device_Cnt_Over.\n");
          return 0;
        }
      }
    }
    result = count == expected ? 1 : 0;
    if (no_more) {
      LogPrint(t, "    DeviceNotFound\n");
      return result;
    }
  }
  return result;
}

}  // namespace pdflash
