#include "app/run.h"

#include <string>

#include "app/legacy.h"
#include "app/settings.h"
#include "core/files.h"
#include "device/chip.h"
#include "device/controller.h"
#include "device/discovery.h"
#include "device/mode.h"
#include "device/registers.h"
#include "flash/parts.h"
#include "ops/device_info.h"
#include "ops/dp.h"
#include "ops/hub.h"
#include "ops/image_files.h"
#include "ops/pd_backup.h"
#include "ops/pd_download.h"
#include "ops/pd_file.h"
#include "ops/pd_update.h"
#include "ops/pd_version.h"
#include "ops/rom_switch.h"
#include "ops/search.h"
#include "ops/second_spi.h"
#include "ops/vmm6.h"
#include "secure/ecdsa.h"
#include "secure/functest.h"

namespace pdflash {

namespace {

// ControlMode classes, tested in this order.
constexpr uint32_t kFirmwareCheck = 0x10100;
constexpr uint32_t kDeviceQuery = 0x40000;
constexpr uint32_t kFileQuery = 0x80000;
constexpr uint32_t kDeviceInfo = 0x100000;
constexpr uint32_t kGpio = 0x200000;
constexpr uint32_t kRegister = 0x400000;

// The run's state between the device steps. Each step opens the device in a
// Device of its own, which closes when the step ends.
struct Run {
  Tool& t;
  uint8_t in_rom = 0;
  uint32_t result = 0;
};

// A label and a path of any length (a line is formatted in at most 499
// characters, and a cut path would name another folder).
void PrintPathLine(Tool& t, const char* label, const std::string& path) {
  LogPrint(t.out, "%s", label);
  for (size_t at = 0; at < path.size(); at += 256)
    LogPrint(t.out, "%s", path.substr(at, 256).c_str());
  LogPrint(t.out, "\n");
}

void StartUp(Tool& t) {
  // Kept whole: the working folder is the program's own, however deep.
  const std::string exe = t.host.ExePath();
  PrintPathLine(t, "ToolPath   = ", exe);
  const auto cut = exe.find_last_of("/\\");
  t.exe_dir = cut == std::string::npos ? std::string() : exe.substr(0, cut + 1);
  t.cwd = t.exe_dir;
  PrintPathLine(t, "WorkingDir = ", t.cwd);
}

void Banner(Tool& t) {
  LogPrint(t.out, "=========================================\n");
  LogPrint(t.out, "%s", "");
  LogPrint(t.out, "=                                       =\n");
  LogPrint(t.out, "=               2023.08.30              =\n");
  LogPrint(t.out, "=========================================\n");
  const uint8_t level = t.build.PermissionLevel;
  if (level >= 0xF0)
    LogPrint(t.out, "================ LEVEL-S ================\n");
  else if (level >= 0x30)
    LogPrint(t.out, "================ LEVEL-3 ================\n");
  else if (level >= 0x20)
    LogPrint(t.out, "================ LEVEL-2 ================\n");
  else if (level >= 0x10)
    LogPrint(t.out, "================ LEVEL-1 ================\n");
  else
    LogPrint(t.out, "================ LEVEL-0 ================\n");
  if (t.set.DbgMsg != 0) {
    switch (t.build.CustomerCode) {
      case 1:
        LogPrint(t.out, "================= TAVI ==================\n");
        break;
      case 2:
        LogPrint(t.out, "================ MERAWI =================\n");
        break;
      case 3:
        LogPrint(t.out, "================= PLOVE =================\n");
        break;
      case 17:
        LogPrint(t.out, "================ QUINTAR ================\n");
        break;
      case 18:
        LogPrint(t.out, "================= SOLK ==================\n");
        break;
      default:
        break;
    }
  }
  const LocalTime lt = t.clock.Local();
  LogPrint(t.out, "==== LocalTime: %04d/%02d/%02d, %02d:%02d:%02d ====\n", lt.year, lt.month,
           lt.day, lt.hour, lt.minute, lt.second);
}

// The device-less functions the loader asked for; their result is the run's.
uint32_t RunBeforeBanner(Tool& t, AfterLoad next) {
  switch (next) {
    case AfterLoad::CreatePdImage:
      return CreatePdImage(t);
    case AfterLoad::CreateCrc16Image:
      return CreateCrc16Image(t, t.set.CreateCRC16Only);
    case AfterLoad::ReadBinVersion:
      return GetPdBinVersion(t, 1);
    default:
      return 0;
  }
}

// 1 = an update is needed, 3 = not needed, 0 = a file has no version to
// compare (missing or rejected by its reader).
uint32_t NeedFwUpdateCheck(Tool& t, uint8_t d) {
  const uint8_t m = t.set.NeedUpdateMode;
  LogPrint(t.out, "Need_FW_Update_Mode(%d)? Need(%d), No_Need(%d)\n", m, 1, 3);
  // A file its reader rejects has no version to compare: no answer, not "no need".
  bool accepted = false;
  GetPdBinVersion(t, d, &accepted);
  if (!accepted) return 0;
  if (m == 3) return 1;
  auto needed = [m](const DeviceRecord& r) {
    return r.FwVersion < r.BinVersion || (m == 1 && r.FwVersion == r.BinVersion) ||
           (m == 2 && r.FwVersion != r.BinVersion);
  };
  if (needed(t.Pd[d])) return 1;
  if (t.set.HubPDShareSPI) {
    GetHubBinVersion(t, 1, &accepted);
    if (!accepted) return 0;
    if (needed(t.Hub[1])) return 1;
  }
  if (t.set.PDDPShareSPI) {
    GetDpBinVersion(t, 1, &accepted);
    if (!accepted) return 0;
    if (needed(t.Dp[1])) return 1;
  }
  if (t.set.PDVMM6ShareSPI) {
    GetVmm6BinVersion(t, &accepted);
    if (!accepted) return 0;
    if (needed(t.Vmm6[1])) return 1;
  }
  return 3;
}

uint32_t DeviceQuery(Run& r, uint8_t d) {
  Tool& t = r.t;
  const uint32_t cm = t.ControlMode;
  Device dev(t.out, t.clock);
  if (SearchDevice(t, dev, d, 0, r.in_rom, 0) != 1) return 0;
  if ((cm & 0x40200) == 0x40200) return SecondSpiGetVersion(t, dev, cm & 0xFF);
  switch (cm) {
    case 0x40010:
      return t.Pd[d].FwVersion;
    case 0x40040:
      return t.Dp[1].FwVersion;
    case 0x40080:
      return t.Vmm6[1].FwVersion;
    case 0x40001:
      GetHubSpiVersion(t, dev, 1, 0, t.set.DbgMsg);
      return t.Hub[1].FwVersion;
    case 0x41000:
      return t.Pd[1].BcdDevice;
    default:
      return 0;
  }
}

uint32_t FileQuery(Tool& t, uint8_t d) {
  switch (t.ControlMode) {
    case 0x80010:
      return GetPdBinVersion(t, d);
    case 0x80001:
      return GetHubBinVersion(t, 1);
    case 0x80040:
      return GetDpBinVersion(t, 1);
    case 0x80080:
      return GetVmm6BinVersion(t);
    default:
      return 0;
  }
}

// Writes or checks a field of the information zone, in ROM code.
uint32_t DeviceInfo(Run& r) {
  Tool& t = r.t;
  Device dev(t.out, t.clock);
  if (SearchDevice(t, dev, 1, 0, r.in_rom, 0) != 1) return 0;
  if (r.in_rom == 0) {
    ResetToRom(t, dev, false);
    dev.Close();
    if (WaitRomDevice(t, dev, 1) != 1) return 0;
  }
  const auto code = static_cast<uint8_t>((t.ControlMode >> 8) & 0xFF);
  if ((t.ControlMode & 0x100) == 0)
    return CheckDeviceInfo(t, dev, 1, kDefaultFlashRow, code, t.DeviceInfoArg.data());
  if (t.set.NeedMathChallenge &&
      !ChallengeFileGate(t, dev, t.Pd[1].CurVid, "    Skip_Check_Math-Challenge-Bin_wsn\n",
                         "\t Not_Math-Challenge-Bin_Or_VID_wsn_%X_%X\n", false))
    return 0;
  return WriteDeviceInfo(t, dev, 1, kDefaultFlashRow, code, t.DeviceInfoArg.data());
}

uint32_t GpioDrive(Run& r) {
  Tool& t = r.t;
  Device dev(t.out, t.clock);
  if (SearchDevice(t, dev, 1, 0, r.in_rom, 0) != 1) return 0;
  return SetGpio(dev, static_cast<uint8_t>((t.ControlMode >> 12) & 0xF),
                 static_cast<uint8_t>((t.ControlMode >> 8) & 1));
}

uint32_t RegisterAccess(Run& r, uint8_t d) {
  Tool& t = r.t;
  const uint32_t cm = t.ControlMode;
  Device dev(t.out, t.clock);
  if (SearchDevice(t, dev, d, 0, r.in_rom, 0) != 1) return 0;
  if ((cm & 0x400100) == 0x400100) {
    const Controller* chip = ControllerByChip(t.Pd[d].CurPid);
    if (chip && chip->no_reset_to_firmware) {
      LogPrint(t.out, "KMPDA_Not_Support_Reset_To_FW_Mode\n");
      return 0;
    }
    dev.VdrWrite(req::kRestart, t.set.DbgMsg != 0);
    return 1;
  }
  if ((cm & 0x400400) == 0x400400) {
    if (!t.set.RWRegEnable) return 0;
    const uint32_t read = dev.ReadRegister(t.RegAccessAddress, t.RegAccessValue, true);
    return read == 1 ? t.RegAccessValue : read;
  }
  if ((cm & 0x400800) == 0x400800)
    return t.set.RWRegEnable ? dev.WriteRegister(t.RegAccessAddress, t.RegAccessValue, true) : 0;
  LogPrint(t.out, "Access Mode Error.\n");
  return 0;
}

bool SecondSpiFunction(const RunSettings& s) {
  return s.SecondSPIReadVerOnly || s.SecondSPIBackUpOnly || s.SecondSPIUpdateOnly ||
         s.SecondSPIDumpOnly;
}

// The second-flash functions work on device slot 2, the second flash's PD
// firmware, through the open device 1.
uint32_t SecondSpi(Tool& t, Device& dev) {
  const RunSettings& s = t.set;
  LogPrint(t.out, "KMPDB_2nd_SPI_Use_Index_2, ForPD=%d, ForHub=%d\n", s.SecondSPIForPD,
           s.SecondSPIForHub);
  const Controller* chip = ControllerByChip(t.Pd[1].ChipCode());
  if (!chip || !chip->second_spi) {
    LogPrint(t.out, "Not_Support, PID=%04X, FWVer=%08X\n", t.Pd[1].ChipCode(), t.Pd[1].FwVersion);
    return 0;
  }
  if (s.SecondSPIReadVerOnly) return SecondSpiGetVersion(t, dev, s.SecondSPIReadVerOnly);
  if (s.SecondSPIBackUpOnly) return SecondSpiBackup(t, dev, s.SecondSPIBackUpOnly, kDefaultFlashRow);
  if (s.SecondSPIUpdateOnly) return SecondSpiUpdate(t, dev, s.SecondSPIUpdateOnly, kDefaultFlashRow);
  return SecondSpiDump(t, dev, s.SecondSPIDumpOnly, kDefaultFlashRow);
}

// Returns false when the run must end; `unlocked` tells whether to lock again.
bool ChallengeGate(Run& r, Device& dev, uint8_t i, bool& unlocked) {
  Tool& t = r.t;
  unlocked = false;
  const bool app = ReadRunMode(dev) != RunMode::Rom;
  if (t.set.ReadVerOnly || t.set.BackUpOnly || t.set.FlashDumpOnly || !app) return true;
  if (!ChallengeFileGate(t, dev, t.Pd[i].CurVid, "    Skip_Check_Math-Challenge-Bin_std\n",
                         "\t Not_Math-Challenge-Bin_Or_VID_std_%X_%X\n"))
    return false;
  unlocked = true;
  return true;
}

uint32_t FlashOperation(Run& r, Device& dev, uint8_t i) {
  Tool& t = r.t;
  const RunSettings& s = t.set;
  if (s.ReadVerOnly) return 1;
  if (s.BackUpOnly) return PdFwBackup(t, dev, i, kDefaultFlashRow);
  if (s.CleanFlashOnly) return PdCleanFlash(t, dev, i, s.CleanFlashOnly, kDefaultFlashRow);
  if (s.FlashDumpOnly) return PdFlashDump(t, dev, i, s.FlashDumpOnly, kDefaultFlashRow);
  if (s.DownloadImageOnly) return ImageDownload(t, dev, i, s.DownloadImageOnly, kDefaultFlashRow);
  if (s.DirectDownload) return PdFwDownload(t, dev, i, kDefaultFlashRow);
  return PdFwUpdate(t, dev, i, kDefaultFlashRow);
}

// Flash work on device i, found and open in `dev`; false ends the device loop.
bool FlashFunction(Run& r, Device& dev, uint8_t i) {
  Tool& t = r.t;
  const RunSettings& s = t.set;
  if (r.in_rom == 0 && s.ReadVerOnly == 0) {
    // The search in ROM code reads the ROM's own version; the firmware's
    // version is the one the downgrade guard must compare with.
    const uint32_t firmware_version = t.Pd[i].FwVersion;
    ResetToRom(t, dev, false);
    dev.Close();
    if (WaitRomDevice(t, dev, i) != 1) {
      r.result = 0;
      return false;
    }
    t.Pd[i].FwVersion = firmware_version;
  }
  if (s.ForceGPIO8Low) {
    t.clock.SleepMs(1000);
    SetGpio(dev, 8, 0);
    t.clock.SleepMs(1000);
  }
  if (s.ReadSPIHubFWOnly) {
    GetHubSpiVersion(t, dev, i, s.ReadSPIHubFWOnly, s.DbgMsg);
    r.result = i < t.Hub.size() ? t.Hub[i].FwVersion : 0;
    return false;
  }
  if (s.ReadSPIPDFWOnly) {
    GetPdSpiVersion(t, dev, i, s.ReadSPIPDFWOnly, s.DbgMsg);
    r.result = t.Pd[i].FwVersion;
    return false;
  }
  if (s.ReadSPIDPFWOnly) {
    GetDpSpiVersion(t, dev, i, s.ReadSPIDPFWOnly, s.DbgMsg);
    r.result = i < t.Dp.size() ? t.Dp[i].FwVersion : 0;
    return false;
  }
  bool unlocked = false;
  if (s.NeedMathChallenge && !ChallengeGate(r, dev, i, unlocked)) {
    r.result = 0;
    return false;
  }
  r.result = FlashOperation(r, dev, i);
  if (unlocked) LockChallenge(dev, s.DbgMsg);
  return r.result == 1;
}

// Returns false when the loop must end.
bool QcStep(Run& r, uint8_t i) {
  Tool& t = r.t;
  const RunSettings& s = t.set;
  LogPrint(t.out, "\tQC_Mode:\n");
  if (s.QCModeOnly == 3) {
    uint32_t status = i == 1 ? (t.Pd[1].FwVersion == s.TargetPDVer ? 1u : 0u) : r.result;
    if (s.PDDPShareSPI && t.Dp[1].FwVersion != s.TargetDPVer) status = 0;
    if (s.PDVMM6ShareSPI && t.Vmm6[1].FwVersion != s.TargetVMMVer) status = 0;
    LogPrint(t.out, "QC_Ver_Sts:%X\n", status);
    r.result = status;
  } else if (s.QCModeOnly == 4) {
    r.result = t.UfpStatus[i];
    LogPrint(t.out, "QC_UFP_Sts:%X\n", r.result);
  } else {
    LogPrint(t.out, "QC_Unsupport\n");
    r.result = 0;
    return false;
  }
  return true;
}

// One device of the loop; false ends the loop.
bool DeviceStep(Run& r, uint8_t d) {
  Tool& t = r.t;
  const RunSettings& s = t.set;
  Device dev(t.out, t.clock);
  if (SearchDevice(t, dev, d, 0, r.in_rom, 0) != 1) {
    LogPrint(t.out, "Search_Fail\n");
    r.result = 0;
    return false;
  }
  if (s.QCModeOnly) return QcStep(r, d);
  if (s.FuncTestOnly >= 0x80) {
    LogPrint(t.out, "Device_Function_Test_0x%02X\n", s.FuncTestOnly);
    r.result = RunFunctionTest(t, &dev, s.FuncTestOnly);
    return false;
  }
  if (s.I2CTestOnly) {
    r.result = I2cTestMode(dev, s.I2CTestOnly);
    return false;
  }
  if (s.CreateECDSASignOnly) {
    r.result = CreateEcdsaImage(t, dev, s.CreateECDSASignOnly);
    return false;
  }
  if (s.SCYUpdateOnly) {
    r.result = UpdateEcdsaImage(t, dev, d, kDefaultFlashRow);
    return false;
  }
  if (SecondSpiFunction(s)) {
    r.result = SecondSpi(t, dev);
    return false;
  }
  return FlashFunction(r, dev, d);
}

void DeviceLoop(Run& r, uint8_t first, uint8_t last) {
  for (uint32_t i = first; i <= last && i < 5; ++i)
    if (!DeviceStep(r, static_cast<uint8_t>(i))) return;
}

// One device of the same-ID update, found by its USB address.
bool SameIdUpdateOne(Run& r, uint8_t address) {
  Tool& t = r.t;
  // The address filter of the search then picks exactly this device.
  t.set.USBSetAddress = address;
  Device dev(t.out, t.clock);
  if (SearchDevice(t, dev, 1, 1, r.in_rom, 0) != 1) {
    r.result = 0;
    return false;
  }
  if (t.set.NeedMathChallenge &&
      !ChallengeFileGate(t, dev, t.Pd[1].CurVid, "    Skip_Check_Math-Challenge-Bin_sid\n",
                         "\t Not_Math-Challenge-Bin_Or_VID_sid_%X_%X\n")) {
    r.result = 0;
    return false;
  }
  r.result = PdFwUpdate(t, dev, 1, kDefaultFlashRow);
  return r.result == 1;
}

void SameIdPath(Run& r) {
  Tool& t = r.t;
  const uint8_t n = t.set.SameIDFWMode;
  bool all_in_rom = false;
  for (int attempt = 0; attempt < 5 && !all_in_rom; ++attempt) {
    Device dev(t.out, t.clock);
    const uint32_t reset = SameIdFwResetAll(t, dev, 1);
    if (reset != 1) {
      r.result = reset;
      return;
    }
    t.clock.SleepMs(3000);
    all_in_rom = SameIdFwCheckRom(t, dev, 1, n) == 1;
  }
  if (!all_in_rom) {
    LogPrint(t.out, "Device_Number_Mismatch\n");
    r.result = 0;
    return;
  }
  for (uint8_t k = 0; k < n; ++k) {
    const uint8_t address = t.SameIdAddress[k];
    if (address == 0) {
      LogPrint(t.out, "Illegal_Address_Record.\n");
      r.result = 0;
      return;
    }
    if (!SameIdUpdateOne(r, address)) return;
  }
  r.result = 1;
}

void NormalPath(Run& r, uint8_t d) {
  Tool& t = r.t;
  const RunSettings& s = t.set;
  if (s.FuncTestOnly >= 1 && s.FuncTestOnly <= 0x7F) {
    r.result = RunFunctionTest(t, nullptr, s.FuncTestOnly);
    return;
  }
  if (s.SameIDFWMode) {
    SameIdPath(r);
    return;
  }
  for (uint32_t i = 2; i <= s.DeviceNum; ++i) {
    LogPrint(t.out, "\tCheck_Connection:\n");
    Device dev(t.out, t.clock);
    if (SearchDevice(t, dev, static_cast<uint8_t>(i), 0, r.in_rom, 1) != 1) {
      LogPrint(t.out, "Device_Number_Mismatch.\n");
      r.result = 0;
      return;
    }
  }
  if (d == 0) {
    if (s.DeviceNum == 0) return;
    DeviceLoop(r, 1, s.DeviceNum);
  } else {
    DeviceLoop(r, d, d);
  }
}

void Dispatch(Run& r, uint8_t d) {
  Tool& t = r.t;
  const uint32_t cm = t.ControlMode;
  if ((cm & kFirmwareCheck) == kFirmwareCheck) {
    Device dev(t.out, t.clock);
    r.result = SearchDevice(t, dev, d, 0, r.in_rom, 1) == 1 ? NeedFwUpdateCheck(t, d) : 0;
  } else if (cm & kDeviceQuery) {
    r.result = DeviceQuery(r, d);
  } else if (cm & kFileQuery) {
    r.result = FileQuery(t, d);
  } else if (cm & kDeviceInfo) {
    r.result = DeviceInfo(r);
  } else if (cm & kGpio) {
    r.result = GpioDrive(r);
  } else if (cm & kRegister) {
    r.result = RegisterAccess(r, d);
  } else {
    NormalPath(r, d);
  }
}

uint32_t Finish(Tool& t, uint32_t result) {
  if (t.set.ReturnZeroAsOK) {
    if (result == 1) {
      LogPrint(t.out, "Success, ");
      result = 0;
    } else if (result == 0) {
      LogPrint(t.out, "Failed, ");
      result = 1;
    }
  }
  LogPrint(t.out, "Return_Value = 0x%X\n", result);
  if (t.set.OutputResult) {
    // Replaced whole: a reader never finds it empty or half written.
    char text[16];
    const int n = FormatText(text, sizeof text, "0x%08X", result);
    StagedFile file(t.cwd, "Result.txt");
    if (file.Open()) file.Write(text, static_cast<size_t>(n));
    if (!file.Commit()) PrintWriteFailure(t.out, "Result.txt");
  }
  return result;
}

}  // namespace

int ExitStatus(uint32_t result) {
  return result > 255 ? 255 : static_cast<int>(result);
}

uint32_t RunPdflash(Platform& platform, BuildProfile build, int argc, char** argv) {
  Tool t(platform, build);
  StartUp(t);
  const AfterLoad next = LoadSettings(t, argc, argv);
  const uint32_t before_banner = RunBeforeBanner(t, next);
  Banner(t);
  if (next == AfterLoad::SettingsError) {
    LogPrint(t.out, "Setting File Error, Exit\n");
    return Finish(t, 0);
  }
  if (next != AfterLoad::Devices) return Finish(t, before_banner);

  auto d = static_cast<uint8_t>((t.ControlMode >> 4) & 3);
  if (t.ControlMode != 0 && d == 0) {
    d = 1;
    LogPrint(t.out, "    Control_Mode_Default_PD1\n");
  }
  if (t.set.Checklibusb) CheckLegacyDriver(t);

  Run r{t, 0, 0};
  Dispatch(r, d);
  return Finish(t, r.result);
}

}  // namespace pdflash
