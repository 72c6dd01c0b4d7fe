#include "ops/search.h"

#include "device/chip.h"
#include "device/discovery.h"
#include "ops/dp.h"
#include "ops/pd_version.h"
#include "ops/rom_switch.h"
#include "ops/vmm6.h"

namespace pdflash {

namespace {

void PrintProjectId(Tool& t, const DeviceRecord& rec) {
  if (!t.set.DbgMsg) return;
  if (rec.ProjectId != 0)
    LogPrint(t.out, "    PJID = 0x%08X, %s\n", rec.ProjectId, rec.ChipName.c_str());
  else
    LogPrint(t.out, "    No_Matched_PJID.\n");
}

// Identify step: the IDs it enumerated under, the chip, the running version
// and the USB address.
void Identify(Tool& t, Device& dev, uint8_t d, const DescriptorIds& ids) {
  DeviceRecord& rec = t.Pd[d];
  rec.CurVid = ids.vid;
  rec.CurPid = ids.pid;
  rec.BcdDevice = ids.bcd;
  ReadChipIdentity(dev, rec, false);
  PrintProjectId(t, rec);
  GetPdFwVersion(t, dev, d, false);
  t.CurrentUsbAddress = GetUsbAddress(dev);
}

// GPIO step: GPIO8 is pulled down so the VMM6 chip lets go of the shared
// flash; functions that never touch the flash, and the ones that manage GPIO8
// themselves, skip it.
void ReleaseSharedFlash(Tool& t, Device& dev) {
  const RunSettings& s = t.set;
  if (s.CreateCRC16Only || s.CreatePDImgOnly || s.I2CTestOnly || s.FuncTestOnly) {
    if (s.DbgMsg) LogPrint(t.out, "    No_Pull_Down1\n");
    return;
  }
  if (t.ControlMode == 0x40010 || (t.ControlMode & 0x600000) != 0) {
    if (s.DbgMsg) LogPrint(t.out, "    No_Pull_Down2\n");
  } else if (s.SkipGPIO8Ctl) {
    LogPrint(t.out, "    Skip_GPIO8_Low_3\n");
  } else {
    SetGpio(dev, 8, 0);
  }
}

// Find-and-open step: walks the bus for record d's controller and applies
// the address and location filters; the accepted device stays open.
bool FindTarget(Tool& t, Device& dev, uint8_t d, uint8_t rom_only) {
  const RunSettings& s = t.set;
  const bool by_location = s.WinLocationHub != 0 || s.WinLocationPort != 0;
  uint8_t hub = 0, port = 0;
  uint32_t located = 0;
  Walk walk;
  walk.ours = [&](uint32_t n, const DescriptorIds& ids) {
    if (by_location) {
      located = GetRegistryLocation(dev, t.bus, n, hub, port);
      if (located)
        LogPrint(t.out, "    Registry_Location = Hub%04d, Port%04d\n", hub, port);
      else
        LogPrint(t.out, "    Registry_Location_Not_Found\n");
    }
    return MatchesPdRecord(t.Pd[d], ids.vid, ids.pid, rom_only);
  };
  walk.found = [&](uint32_t, const DescriptorIds& ids) {
    Identify(t, dev, d, ids);
    if (s.USBSetAddress != 0 && s.USBSetAddress != t.CurrentUsbAddress) {
      dev.Close();
      LogPrint(t.out, "    Not_Target_USB_Address \n");
      return true;
    }
    if (by_location && !(located && hub == s.WinLocationHub && port == s.WinLocationPort)) {
      dev.Close();
      LogPrint(t.out, "    Not_Target_Location_Info\n");
      return true;
    }
    return false;  // accepted
  };
  switch (WalkDevices(dev, t.bus, s, t.Pd, walk)) {
    case WalkEnd::Stopped:
      return true;
    case WalkEnd::NoMoreDevices:
      LogPrint(t.out, "    DeviceNotFound\n");
      return false;
    case WalkEnd::Limit:
      return false;
  }
  return false;
}

}  // namespace

uint32_t SearchDevice(Tool& t, Device& dev, uint8_t d, uint8_t rom_only, uint8_t& in_rom,
                      uint8_t close_after) {
  const RunSettings& s = t.set;
  if (!FindTarget(t, dev, d, rom_only)) return 0;

  uint32_t result = 1;
  if (ReadRunMode(dev) == RunMode::Rom) in_rom = 1;
  GetPdFormalVer(t, dev, in_rom);
  if (s.SkipJumpRom) in_rom = 1;
  // The device stays open: the caller may still want to read it.
  if (CableNeedsFlip(dev)) result = 0;
  t.UfpStatus[d] = ReadUfpStatus(dev);

  if (s.PDVMM6ShareSPI && d == 1) {
    ReleaseSharedFlash(t, dev);
    if (s.ReadVerOnly || t.ControlMode == 0x40080) GetVmm6FwVersion(t, dev, in_rom);
  }
  if (s.PDDPShareSPI && d == 1 && (s.ReadVerOnly || t.ControlMode == 0x40040))
    GetDpFwVersion(t, dev, in_rom);

  if (close_after) dev.Close();
  return result;
}

uint32_t WaitRomDevice(Tool& t, Device& dev, uint8_t d) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    uint8_t in_rom = 0;
    const uint32_t found = SearchDevice(t, dev, d, 1, in_rom, 0);
    if (found && in_rom) return 1;
    if (found) dev.Close();
    t.clock.SleepMs(3000);
  }
  return 0;
}

uint32_t SameIdFwResetAll(Tool& t, Device& dev, uint8_t d) {
  LogPrint(t.out, "Same_IDFW_Reset_All\n");
  Walk walk;
  walk.ours = [&](uint32_t, const DescriptorIds& ids) {
    return MatchesPdRecord(t.Pd[d], ids.vid, ids.pid, 0);
  };
  walk.found = [&](uint32_t, const DescriptorIds&) {
    if (CableNeedsFlip(dev)) {
      dev.Close();
      return false;
    }
    if (ReadRunMode(dev) == RunMode::Application) ResetToRom(t, dev, false);
    dev.Close();
    return true;
  };
  return WalkDevices(dev, t.bus, t.set, t.Pd, walk) == WalkEnd::Stopped ? 0 : 1;
}

uint32_t SameIdFwCheckRom(Tool& t, Device& dev, uint8_t d, uint8_t expected) {
  DeviceRecord& rec = t.Pd[d];
  t.SameIdAddress.fill(0);
  uint32_t count = 0;
  LogPrint(t.out, "Same_IDFW_Check_Rom\n");
  Walk walk;
  walk.ours = [&](uint32_t, const DescriptorIds& ids) {
    return ids.vid == rec.RomVid && ids.pid == rec.RomPid;
  };
  walk.found = [&](uint32_t, const DescriptorIds&) {
    ReadChipIdentity(dev, rec, false);
    PrintProjectId(t, rec);
    t.CurrentUsbAddress = GetUsbAddress(dev);
    if (CableNeedsFlip(dev)) {
      dev.Close();
      return false;
    }
    const RunMode mode = ReadRunMode(dev);
    dev.Close();
    if (mode != RunMode::Rom) {
      LogPrint(t.out, "    Still_Find_FW_Mode_Device.\n");
      return false;
    }
    t.SameIdAddress[count++] = t.CurrentUsbAddress;
    if (count == t.SameIdAddress.size()) {
      LogPrint(t.out, "    Device_Cnt_Over.\n");
      return false;
    }
    return true;
  };
  switch (WalkDevices(dev, t.bus, t.set, t.Pd, walk)) {
    case WalkEnd::Stopped:
      return 0;
    case WalkEnd::NoMoreDevices:
      LogPrint(t.out, "    DeviceNotFound\n");
      break;
    case WalkEnd::Limit:
      break;
  }
  return count == expected ? 1 : 0;
}

}  // namespace pdflash
