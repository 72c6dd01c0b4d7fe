#include "app/run.h"

#include <string>

#include "app/legacy.h"
#include "app/log.h"
#include "app/settings.h"
#include "app/unavailable.h"
#include "device/discovery.h"
#include "device/mode.h"
#include "device/vendor.h"
#include "ops/companion_files.h"
#include "ops/pd_backup.h"
#include "ops/pd_download.h"
#include "ops/pd_file.h"
#include "ops/pd_update.h"
#include "ops/pd_version.h"
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

constexpr uint16_t kChallengeVid = 0x291A;
constexpr uint32_t kChallengeBin = 0x80000000;

struct Run {
  Tool& t;
  UsbLink link;
  uint8_t in_rom = 0;
  uint32_t result = 0;
};

void StartUp(Tool& t) {
  std::string exe = t.host.ExePath();
  if (exe.size() > kPathSize - 1) exe.resize(kPathSize - 1);
  LogPrint(t, "ToolPath   = %s\n", exe.c_str());
  const auto cut = exe.find_last_of("/\\");
  t.exe_dir = cut == std::string::npos ? std::string() : exe.substr(0, cut + 1);
  t.cwd = t.exe_dir;
  LogPrint(t, "WorkingDir = %s\n", t.cwd.c_str());
}

void Banner(Tool& t) {
  LogPrint(t, "=========================================\n");
  LogPrint(t, "%s", "");
  LogPrint(t, "=                                       =\n");
  LogPrint(t, "=               2023.08.30              =\n");
  LogPrint(t, "=========================================\n");
  const uint8_t level = t.build.PermissionLevel;
  if (level >= 0xF0)
    LogPrint(t, "================ LEVEL-S ================\n");
  else if (level >= 0x30)
    LogPrint(t, "================ LEVEL-3 ================\n");
  else if (level >= 0x20)
    LogPrint(t, "================ LEVEL-2 ================\n");
  else if (level >= 0x10)
    LogPrint(t, "================ LEVEL-1 ================\n");
  else
    LogPrint(t, "================ LEVEL-0 ================\n");
  if (t.set.DbgMsg != 0) {
    switch (t.build.CustomerCode) {
      case 1:
        LogPrint(t, "================= TAVI ==================\n");
        break;
      case 2:
        LogPrint(t, "================ MERAWI =================\n");
        break;
      case 3:
        LogPrint(t, "================= PLOVE =================\n");
        break;
      case 17:
        LogPrint(t, "================ QUINTAR ================\n");
        break;
      case 18:
        LogPrint(t, "================= SOLK ==================\n");
        break;
      default:
        break;
    }
  }
  const LocalTime lt = t.clock.Local();
  LogPrint(t, "==== LocalTime: %04d/%02d/%02d, %02d:%02d:%02d ====\n", lt.year, lt.month, lt.day,
           lt.hour, lt.minute, lt.second);
}

uint32_t SettingsFailure(Tool& t) {
  if (t.set.CreateCRC16Only != 0 || t.set.CreatePDImgOnly != 0) return 1;
  if (t.set.ReadBinOnly != 0) return t.Pd[1].BinVersion;
  LogPrint(t, "Setting File Error, Exit\n");
  return 0;
}

// The functions whose operations this build lacks, refused before any device
// is touched.
const char* UnavailableFunction(const Tool& t) {
  const uint32_t cm = t.ControlMode;
  const RunSettings& s = t.set;
  if ((cm & kFirmwareCheck) != kFirmwareCheck) {
    if (cm == 0x40001) return "/F1";
    if ((cm & 0x40200) == 0x40200 && (cm & kDeviceQuery)) return "2nd_SPI_Version";
    if ((cm & kDeviceQuery) == 0 && (cm & kFileQuery) == 0 && (cm & kDeviceInfo))
      return "Device_Information";
  }
  const bool normal_path =
      (cm & (kDeviceQuery | kFileQuery | kDeviceInfo | kGpio | kRegister)) == 0 &&
      (cm & kFirmwareCheck) != kFirmwareCheck;
  if (!normal_path) return nullptr;
  if (s.CreateECDSASignOnly) return "CreateECDSASignOnly";
  if (s.SCYUpdateOnly) return "SCYUpdateOnly";
  if (s.SecondSPIReadVerOnly || s.SecondSPIBackUpOnly || s.SecondSPIUpdateOnly ||
      s.SecondSPIDumpOnly)
    return "2nd_SPI";
  if (s.ReadSPIHubFWOnly) return "ReadSPIHubFWOnly";
  if (s.ReadSPIDPFWOnly) return "ReadSPIDPFWOnly";
  return nullptr;
}

// 1 = an update is needed, 3 = not needed.
uint32_t NeedFwUpdateCheck(Tool& t, uint8_t d) {
  const uint8_t m = t.set.NeedUpdateMode;
  LogPrint(t, "Need_FW_Update_Mode(%d)? Need(%d), No_Need(%d)\n", m, 1, 3);
  GetPdBinVersion(t, d);
  if (m == 3) return 1;
  auto needed = [m](const DeviceRecord& r) {
    return r.FwVersion < r.BinVersion || (m == 1 && r.FwVersion == r.BinVersion) ||
           (m == 2 && r.FwVersion != r.BinVersion);
  };
  if (needed(t.Pd[d])) return 1;
  if (t.set.HubPDShareSPI) {
    GetHubBinVersion(t, 1);
    if (needed(t.Hub[1])) return 1;
  }
  if (t.set.PDDPShareSPI) {
    GetDpBinVersion(t, 1);
    if (needed(t.Dp[1])) return 1;
  }
  if (t.set.PDVMM6ShareSPI) {
    GetVmm6BinVersion(t);
    if (needed(t.Vmm6[1])) return 1;
  }
  return 3;
}

uint32_t DeviceQuery(Run& r, uint8_t d) {
  Tool& t = r.t;
  const uint32_t cm = t.ControlMode;
  uint32_t result = 0;
  if (SearchDevice(t, r.link, d, 0, r.in_rom, 0) == 1) {
    if (cm == 0x40010)
      result = t.Pd[d].FwVersion;
    else if (cm == 0x40040)
      result = t.Dp[1].FwVersion;
    else if (cm == 0x40080)
      result = t.Vmm6[1].FwVersion;
    else if (cm == 0x41000)
      result = t.Pd[1].BcdDevice;
  }
  CloseDevice(r.link);
  return result;
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

uint32_t GpioDrive(Run& r) {
  Tool& t = r.t;
  uint32_t result = 0;
  if (SearchDevice(t, r.link, 1, 0, r.in_rom, 0) == 1)
    result = SetGpio(t, r.link, static_cast<uint8_t>((t.ControlMode >> 12) & 0xF),
                     static_cast<uint8_t>((t.ControlMode >> 8) & 1));
  CloseDevice(r.link);
  return result;
}

uint32_t RegisterAccess(Run& r, uint8_t d) {
  Tool& t = r.t;
  const uint32_t cm = t.ControlMode;
  uint32_t result = 0;
  if (SearchDevice(t, r.link, d, 0, r.in_rom, 0) == 1) {
    if ((cm & 0x400100) == 0x400100) {
      if (t.Pd[d].CurPid == 0x0103) {
        LogPrint(t, "KMPDA_Not_Support_Reset_To_FW_Mode\n");
      } else {
        VdrWrite(t, r.link, 0xB0, t.set.DbgMsg != 0);
        result = 1;
      }
    } else if ((cm & 0x400400) == 0x400400) {
      if (t.set.RWRegEnable) {
        const uint32_t read = ReadRegister(t, r.link, t.RegAccessAddress, t.RegAccessValue, true);
        result = read == 1 ? t.RegAccessValue : read;
      }
    } else if ((cm & 0x400800) == 0x400800) {
      if (t.set.RWRegEnable)
        result = WriteRegister(t, r.link, t.RegAccessAddress, t.RegAccessValue, true);
    } else {
      LogPrint(t, "Access Mode Error.\n");
    }
  }
  CloseDevice(r.link);
  return result;
}

// A device with the challenge must carry a challenge-enabled file and VID;
// otherwise the challenge is locked again and the run fails.
bool ChallengeFileCheck(Run& r, uint16_t vid, const char* skip_line, const char* refuse_format) {
  Tool& t = r.t;
  MathChallenge(t, r.link, t.set.NeedMathChallenge);
  GetPdBinFlag(t, 1);
  if (t.set.NeedMathChallenge & 0x80) {
    LogPrint(t, "%s", skip_line);
    return true;
  }
  if ((t.Pd[1].BinFlag & kChallengeBin) && vid == kChallengeVid) return true;
  LogPrint(t, refuse_format, t.Pd[1].BinFlag, t.Pd[1].CurVid);
  LockChallenge(t, r.link);
  return false;
}

// Returns false when the run must end; `unlocked` tells whether to lock again.
bool ChallengeGate(Run& r, uint8_t i, bool& unlocked) {
  Tool& t = r.t;
  unlocked = false;
  uint8_t f7 = 0xFF;
  const bool app = ReadRegister(t, r.link, 0x00F7, f7, false) != 1 || (f7 & 0x80) != 0;
  if (t.set.ReadVerOnly || t.set.BackUpOnly || t.set.FlashDumpOnly || !app) return true;
  if (!ChallengeFileCheck(r, t.Pd[i].CurVid, "    Skip_Check_Math-Challenge-Bin_std\n",
                          "\t Not_Math-Challenge-Bin_Or_VID_std_%X_%X\n"))
    return false;
  unlocked = true;
  return true;
}

uint32_t FlashOperation(Run& r, uint8_t i) {
  Tool& t = r.t;
  const RunSettings& s = t.set;
  if (s.ReadVerOnly) return 1;
  if (s.BackUpOnly) return PdFwBackup(t, r.link, i, 0);
  if (s.CleanFlashOnly) return PdCleanFlash(t, r.link, i, s.CleanFlashOnly, 0);
  if (s.FlashDumpOnly) return PdFlashDump(t, r.link, i, s.FlashDumpOnly, 0);
  if (s.DownloadImageOnly) return ImageDownload(t, r.link, i, s.DownloadImageOnly, 0);
  if (s.DirectDownload) return PdFwDownload(t, r.link, i, 0);
  return PdFwUpdate(t, r.link, i, 0);
}

// Flash work on device i; false ends the device loop.
bool FlashFunction(Run& r, uint8_t i) {
  Tool& t = r.t;
  const RunSettings& s = t.set;
  if (r.in_rom == 0 && s.ReadVerOnly == 0) {
    // The search in ROM code reads the ROM's own version; the firmware's
    // version is the one the downgrade guard must compare with.
    const uint32_t firmware_version = t.Pd[i].FwVersion;
    ResetToRom(t, r.link, false);
    CloseDevice(r.link);
    if (WaitRomDevice(t, r.link, i) != 1) {
      r.result = 0;
      return false;
    }
    t.Pd[i].FwVersion = firmware_version;
  }
  if (s.ForceGPIO8Low) {
    t.clock.SleepMs(1000);
    SetGpio(t, r.link, 8, 0);
    t.clock.SleepMs(1000);
  }
  if (s.ReadSPIPDFWOnly) {
    GetPdSpiVersion(t, r.link, i, s.ReadSPIPDFWOnly, s.DbgMsg);
    r.result = t.Pd[i].FwVersion;
    CloseDevice(r.link);
    return false;
  }
  bool unlocked = false;
  if (s.NeedMathChallenge && !ChallengeGate(r, i, unlocked)) {
    r.result = 0;
    CloseDevice(r.link);
    return false;
  }
  r.result = FlashOperation(r, i);
  if (unlocked) LockChallenge(t, r.link);
  CloseDevice(r.link);
  return r.result == 1;
}

// Returns false when the loop must end.
bool QcStep(Run& r, uint8_t i) {
  Tool& t = r.t;
  const RunSettings& s = t.set;
  LogPrint(t, "\tQC_Mode:\n");
  if (s.QCModeOnly == 3) {
    uint32_t status = i == 1 ? (t.Pd[1].FwVersion == s.TargetPDVer ? 1u : 0u) : r.result;
    if (s.PDDPShareSPI && t.Dp[1].FwVersion != s.TargetDPVer) status = 0;
    if (s.PDVMM6ShareSPI && t.Vmm6[1].FwVersion != s.TargetVMMVer) status = 0;
    LogPrint(t, "QC_Ver_Sts:%X\n", status);
    r.result = status;
  } else if (s.QCModeOnly == 4) {
    r.result = t.UfpStatus[i];
    LogPrint(t, "QC_UFP_Sts:%X\n", r.result);
  } else {
    LogPrint(t, "QC_Unsupport\n");
    r.result = 0;
    return false;
  }
  return true;
}

void DeviceLoop(Run& r, uint8_t first, uint8_t last) {
  Tool& t = r.t;
  const RunSettings& s = t.set;
  for (uint32_t i = first; i <= last; ++i) {
    if (i >= 5) break;
    const auto d = static_cast<uint8_t>(i);
    if (SearchDevice(t, r.link, d, 0, r.in_rom, 0) != 1) {
      LogPrint(t, "Search_Fail\n");
      CloseDevice(r.link);
      r.result = 0;
      return;
    }
    if (s.QCModeOnly) {
      const bool go_on = QcStep(r, d);
      CloseDevice(r.link);
      if (!go_on) return;
      continue;
    }
    if (s.FuncTestOnly >= 0x80) {
      LogPrint(t, "Device_Function_Test_0x%02X\n", s.FuncTestOnly);
      r.result = RunFunctionTest(t, &r.link, s.FuncTestOnly);
      CloseDevice(r.link);
      return;
    }
    if (s.I2CTestOnly) {
      r.result = I2cTestMode(t, r.link, s.I2CTestOnly);
      CloseDevice(r.link);
      return;
    }
    if (!FlashFunction(r, d)) return;
  }
}

void SameIdPath(Run& r) {
  Tool& t = r.t;
  const uint8_t n = t.set.SameIDFWMode;
  bool all_in_rom = false;
  for (int attempt = 0; attempt < 5 && !all_in_rom; ++attempt) {
    const uint32_t reset = SameIdFwResetAll(t, r.link, 1);
    if (reset != 1) {
      r.result = reset;
      return;
    }
    t.clock.SleepMs(3000);
    all_in_rom = SameIdFwCheckRom(t, r.link, 1, n) == 1;
  }
  if (!all_in_rom) {
    LogPrint(t, "Device_Number_Mismatch\n");
    r.result = 0;
    return;
  }
  for (uint8_t k = 0; k < n; ++k) {
    const uint8_t address = t.SameIdAddress[k];
    if (address == 0) {
      LogPrint(t, "Illegal_Address_Record.\n");
      r.result = 0;
      return;
    }
    // The address filter of the search then picks exactly this device.
    t.set.USBSetAddress = address;
    if (SearchDevice(t, r.link, 1, 1, r.in_rom, 0) != 1) {
      CloseDevice(r.link);
      r.result = 0;
      return;
    }
    if (t.set.NeedMathChallenge &&
        !ChallengeFileCheck(r, t.Pd[1].CurVid, "    Skip_Check_Math-Challenge-Bin_sid\n",
                            "\t Not_Math-Challenge-Bin_Or_VID_sid_%X_%X\n")) {
      CloseDevice(r.link);
      r.result = 0;
      return;
    }
    r.result = PdFwUpdate(t, r.link, 1, 0);
    CloseDevice(r.link);
    if (r.result != 1) return;
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
    LogPrint(t, "\tCheck_Connection:\n");
    if (SearchDevice(t, r.link, static_cast<uint8_t>(i), 0, r.in_rom, 1) != 1) {
      LogPrint(t, "Device_Number_Mismatch.\n");
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
    r.result = SearchDevice(t, r.link, d, 0, r.in_rom, 1) == 1 ? NeedFwUpdateCheck(t, d) : 0;
    CloseDevice(r.link);
  } else if (cm & kDeviceQuery) {
    r.result = DeviceQuery(r, d);
  } else if (cm & kFileQuery) {
    r.result = FileQuery(t, d);
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
      LogPrint(t, "Success, ");
      result = 0;
    } else if (result == 0) {
      LogPrint(t, "Failed, ");
      result = 1;
    }
  }
  LogPrint(t, "Return_Value = 0x%X\n", result);
  if (t.set.OutputResult) {
    if (FILE* f = t.Open("Result.txt", "w")) {
      std::fprintf(f, "0x%08X", result);
      std::fclose(f);
    }
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
  const bool loaded = LoadSettings(t, argc, argv);
  Banner(t);
  if (!loaded) return Finish(t, SettingsFailure(t));

  auto d = static_cast<uint8_t>((t.ControlMode >> 4) & 3);
  if (t.ControlMode != 0 && d == 0) {
    d = 1;
    LogPrint(t, "    Control_Mode_Default_PD1\n");
  }
  if (t.set.Checklibusb) CheckLegacyDriver(t);
  if (const char* missing = UnavailableFunction(t)) return Finish(t, NotAvailable(t, missing));

  Run r{t, UsbLink{}, 0, 0};
  Dispatch(r, d);
  CloseDevice(r.link);
  return Finish(t, r.result);
}

}  // namespace pdflash
