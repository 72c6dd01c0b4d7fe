#include "app/settings.h"

#include <cstring>
#include <limits>
#include <string>
#include <variant>

#include "app/cmdline.h"
#include "core/files.h"
#include "core/ini.h"

namespace pdflash {

namespace {

constexpr const char* kSection = "Config";

using Field =
    std::variant<uint8_t RunSettings::*, uint16_t RunSettings::*, uint32_t RunSettings::*>;

struct IntKey {
  const char* key;
  Field field;
};

// Numeric keys in the order they are read; the default is the field's
// initial value in RunSettings.
const IntKey kIntKeys[] = {
    {"DbgMsg", &RunSettings::DbgMsg},
    {"LogFile", &RunSettings::LogFile},
    {"DeviceNum", &RunSettings::DeviceNum},
    {"PD1VID", &RunSettings::PD1VID},
    {"PD1PID", &RunSettings::PD1PID},
    {"PD1VID2", &RunSettings::PD1VID2},
    {"PD1PID2", &RunSettings::PD1PID2},
    {"PD1VID3", &RunSettings::PD1VID3},
    {"PD1PID3", &RunSettings::PD1PID3},
    {"PD1RomVID", &RunSettings::PD1RomVID},
    {"PD1RomPID", &RunSettings::PD1RomPID},
    {"Hub1VID", &RunSettings::Hub1VID},
    {"Hub1PID", &RunSettings::Hub1PID},
    {"DP1VID", &RunSettings::DP1VID},
    {"DP1PID", &RunSettings::DP1PID},
    {"HubPDShareSPI", &RunSettings::HubPDShareSPI},
    {"PDDPShareSPI", &RunSettings::PDDPShareSPI},
    {"DPStrapping", &RunSettings::DPStrapping},
    {"Hub1Hub2ShareSPI", &RunSettings::Hub1Hub2ShareSPI},
    {"Hub12Strapping", &RunSettings::Hub12Strapping},
    {"PDVMM6ShareSPI", &RunSettings::PDVMM6ShareSPI},
    {"Checklibusb", &RunSettings::Checklibusb},
    {"DirectDownload", &RunSettings::DirectDownload},
    {"DisplayFormalVer", &RunSettings::DisplayFormalVer},
    {"DisplayVPID", &RunSettings::DisplayVPID},
    {"ForceGPIO1Low", &RunSettings::ForceGPIO1Low},
    {"ForceGPIO8Low", &RunSettings::ForceGPIO8Low},
    {"LEDFlicker", &RunSettings::LEDFlicker},
    {"NeedMathChallenge", &RunSettings::NeedMathChallenge},
    {"NeedUpdateMode", &RunSettings::NeedUpdateMode},
    {"NoDowngrade", &RunSettings::NoDowngrade},
    {"OutputProgress", &RunSettings::OutputProgress},
    {"OutputResult", &RunSettings::OutputResult},
    {"ResetAfterUpdate", &RunSettings::ResetAfterUpdate},
    {"ReturnZeroAsOK", &RunSettings::ReturnZeroAsOK},
    {"RWRegEnable", &RunSettings::RWRegEnable},
    {"SameIDFWMode", &RunSettings::SameIDFWMode},
    {"SkipCheckBin", &RunSettings::SkipCheckBin},
    {"SkipGPIO8Ctl", &RunSettings::SkipGPIO8Ctl},
    {"SkipJumpRom", &RunSettings::SkipJumpRom},
    {"SPIFlashType", &RunSettings::SPIFlashType},
    {"USBSetAddress", &RunSettings::USBSetAddress},
    {"VolatileSRWrEn", &RunSettings::VolatileSRWrEn},
    {"WinLocationHub", &RunSettings::WinLocationHub},
    {"WinLocationPort", &RunSettings::WinLocationPort},
    {"WinMsg", &RunSettings::WinMsg},
    {"MacLocationID", &RunSettings::MacLocationID},
    {"BackUpOnly", &RunSettings::BackUpOnly},
    {"CleanFlashOnly", &RunSettings::CleanFlashOnly},
    {"CreateCRC16Only", &RunSettings::CreateCRC16Only},
    {"CreatePDImgOnly", &RunSettings::CreatePDImgOnly},
    {"CreateECDSASignOnly", &RunSettings::CreateECDSASignOnly},
    {"DownloadImageOnly", &RunSettings::DownloadImageOnly},
    {"FlashDumpOnly", &RunSettings::FlashDumpOnly},
    {"FuncTestOnly", &RunSettings::FuncTestOnly},
    {"I2CTestOnly", &RunSettings::I2CTestOnly},
    {"ReadBinOnly", &RunSettings::ReadBinOnly},
    {"ReadSPIHubFWOnly", &RunSettings::ReadSPIHubFWOnly},
    {"ReadSPIPDFWOnly", &RunSettings::ReadSPIPDFWOnly},
    {"ReadSPIDPFWOnly", &RunSettings::ReadSPIDPFWOnly},
    {"ReadVerOnly", &RunSettings::ReadVerOnly},
    {"SCYUpdateOnly", &RunSettings::SCYUpdateOnly},
    {"SetBinFlagOnly", &RunSettings::SetBinFlagOnly},
    {"QCModeOnly", &RunSettings::QCModeOnly},
    {"TargetHubVer", &RunSettings::TargetHubVer},
    {"TargetHub2Ver", &RunSettings::TargetHub2Ver},
    {"TargetPDVer", &RunSettings::TargetPDVer},
    {"TargetDPVer", &RunSettings::TargetDPVer},
    {"TargetVMMVer", &RunSettings::TargetVMMVer},
    {"2ndSPIForPD", &RunSettings::SecondSPIForPD},
    {"2ndSPIForHub", &RunSettings::SecondSPIForHub},
    {"2ndSPIForVMM6", &RunSettings::SecondSPIForVMM6},
    {"2ndSPIBackUpOnly", &RunSettings::SecondSPIBackUpOnly},
    {"2ndSPIDumpOnly", &RunSettings::SecondSPIDumpOnly},
    {"2ndSPIReadVerOnly", &RunSettings::SecondSPIReadVerOnly},
    {"2ndSPIUpdateOnly", &RunSettings::SecondSPIUpdateOnly},
    {"SignDeviceCnt", &RunSettings::SignDeviceCnt},
};

const IntKey& Key(const char* name) {
  for (const auto& k : kIntKeys)
    if (std::strcmp(k.key, name) == 0) return k;
  return kIntKeys[0];  // unreachable for the names used in this file
}

uint32_t Get(const RunSettings& s, const IntKey& k) {
  return std::visit([&](auto member) { return static_cast<uint32_t>(s.*member); }, k.field);
}

void Set(RunSettings& s, const IntKey& k, uint32_t v) {
  std::visit(
      [&](auto member) {
        s.*member = static_cast<std::remove_reference_t<decltype(s.*member)>>(v);
      },
      k.field);
}

uint32_t Max(const IntKey& k) {
  return std::visit(
      [](auto member) {
        using T = std::remove_reference_t<decltype(RunSettings{}.*member)>;
        return static_cast<uint32_t>(std::numeric_limits<T>::max());
      },
      k.field);
}

// The first numeric entry that does not fit its field; a cut value could
// select another function, so the load refuses it.
struct BadNumber {
  std::string key, text;
};

uint32_t ReadInt(Tool& t, const char* key, uint32_t def, uint32_t max, BadNumber& bad) {
  uint32_t v = def;
  std::string text;
  if (ReadIniNumber(t.cwd, kSection, key, max, t.IniFile, v, text) == IniNumber::OutOfRange) {
    if (bad.key.empty()) bad = {key, text};
    return def;
  }
  return v;
}

bool ReadText(Tool& t, const char* key, std::string& dest, size_t size) {
  return ReadIniString(t.cwd, kSection, key, dest, size, "NA", t.IniFile) == 1;
}

// Settings list keys in print order: the head, then four lines of their own,
// the functions, the VMM6 target under its own label, the tail.
const char* const kListHead[] = {
    "LogFile",          "DeviceNum",        "PD1VID",           "PD1PID",
    "PD1VID2",          "PD1PID2",          "PD1VID3",          "PD1PID3",
    "PD1RomVID",        "PD1RomPID",        "Hub1VID",          "Hub1PID",
    "DP1VID",           "DP1PID",           "HubPDShareSPI",    "PDDPShareSPI",
    "DPStrapping",      "Hub1Hub2ShareSPI", "Hub12Strapping",   "PDVMM6ShareSPI",
    "Checklibusb",      "DirectDownload",   "DisplayFormalVer", "DisplayVPID",
    "ForceGPIO1Low",    "ForceGPIO8Low",    "LEDFlicker",       "NeedMathChallenge",
    "NeedUpdateMode",   "NoDowngrade",      "OutputProgress",   "OutputResult",
    "ResetAfterUpdate", "ReturnZeroAsOK",   "RWRegEnable",      "SameIDFWMode",
    "SkipCheckBin",     "SkipGPIO8Ctl",     "SkipJumpRom",      "SPIFlashType",
    "USBSetAddress",    "VolatileSRWrEn",   "WinLocationHub",   "WinLocationPort",
    "MacLocationID"};
const char* const kListFunctions[] = {"BackUpOnly",      "CleanFlashOnly",      "CreateCRC16Only",
                                      "CreatePDImgOnly", "CreateECDSASignOnly", "DownloadImageOnly",
                                      "FlashDumpOnly",   "FuncTestOnly",        "I2CTestOnly",
                                      "ReadBinOnly",     "ReadSPIHubFWOnly",    "ReadSPIPDFWOnly",
                                      "ReadSPIDPFWOnly", "ReadVerOnly",         "SCYUpdateOnly",
                                      "SetBinFlagOnly",  "QCModeOnly",          "TargetHubVer",
                                      "TargetHub2Ver",   "TargetPDVer",         "TargetDPVer"};
const char* const kListTail[] = {"2ndSPIForPD",    "2ndSPIForHub",      "2ndSPIBackUpOnly",
                                 "2ndSPIDumpOnly", "2ndSPIReadVerOnly", "2ndSPIUpdateOnly"};

// The functions a key ending in "Only" selects; at most one may be set.
const char* const kSpecialFunctions[] = {
    "BackUpOnly",          "CleanFlashOnly",    "CreateCRC16Only",  "CreatePDImgOnly",
    "CreateECDSASignOnly", "DownloadImageOnly", "FlashDumpOnly",    "FuncTestOnly",
    "I2CTestOnly",         "ReadBinOnly",       "ReadSPIHubFWOnly", "ReadSPIPDFWOnly",
    "ReadSPIDPFWOnly",     "ReadVerOnly",       "SCYUpdateOnly",    "SetBinFlagOnly",
    "QCModeOnly",          "2ndSPIReadVerOnly", "2ndSPIBackUpOnly", "2ndSPIDumpOnly",
    "2ndSPIUpdateOnly"};

// A function switch replaces these file-level functions.
const char* const kClearedBySwitch[] = {
    "BackUpOnly",      "CleanFlashOnly",      "CreateCRC16Only",   "SCYUpdateOnly",
    "CreatePDImgOnly", "CreateECDSASignOnly", "DownloadImageOnly", "FlashDumpOnly",
    "ReadBinOnly",     "ReadVerOnly",         "SetBinFlagOnly"};

// Functions that neither write nor compare firmware files.
const char* const kNoFileFunctions[] = {
    "ReadVerOnly",       "BackUpOnly",       "CleanFlashOnly",   "FlashDumpOnly",
    "QCModeOnly",        "I2CTestOnly",      "FuncTestOnly",     "CreateECDSASignOnly",
    "ReadSPIHubFWOnly",  "ReadSPIPDFWOnly",  "ReadSPIDPFWOnly",  "SCYUpdateOnly",
    "2ndSPIReadVerOnly", "2ndSPIBackUpOnly", "2ndSPIUpdateOnly", "2ndSPIDumpOnly"};

template <size_t N>
bool AnySet(const RunSettings& s, const char* const (&names)[N]) {
  for (const char* n : names)
    if (Get(s, Key(n)) != 0) return true;
  return false;
}

// False when a number does not fit its field; the key is named.
bool ReadAllKeys(Tool& t) {
  RunSettings& s = t.set;
  const RunSettings defaults;
  BadNumber bad;
  for (const auto& k : kIntKeys) Set(s, k, ReadInt(t, k.key, Get(defaults, k), Max(k), bad));
  ReadText(t, "TextFilePath", s.TextFilePath, kSettingTextSize);
  ReadText(t, "HashFilePath", s.HashFilePath, kSettingTextSize);
  ReadText(t, "ScyImgFilePath", s.ScyImgFilePath, kSettingTextSize);
  char key[32];
  constexpr uint32_t k16 = 0xFFFF, k32 = 0xFFFFFFFF;
  for (int i = 0; i < 5; ++i) {
    SignEntry& e = t.Sign[static_cast<size_t>(i)];
    FormatText(key, sizeof key, "Sign%dProduct", i);
    e.Product = static_cast<uint16_t>(ReadInt(t, key, 0, k16, bad));
    FormatText(key, sizeof key, "Sign%dBinVersion", i);
    e.BinVersion = ReadInt(t, key, 0, k32, bad);
    FormatText(key, sizeof key, "Sign%dBin", i);
    ReadText(t, key, e.Bin, kSettingTextSize);
  }
  for (int i = 0; i < 10; ++i) {
    CopyEntry& e = t.Copy[static_cast<size_t>(i)];
    FormatText(key, sizeof key, "Copy%dFrom", i);
    e.From = ReadInt(t, key, 0, k32, bad);
    FormatText(key, sizeof key, "Copy%dTo", i);
    e.To = ReadInt(t, key, 0, k32, bad);
    FormatText(key, sizeof key, "Copy%dLen", i);
    e.Len = ReadInt(t, key, 0, k32, bad);
  }
  // The configured IDs live in the device records as well.
  DeviceRecord& pd = t.Pd[1];
  pd.Vid = s.PD1VID, pd.Pid = s.PD1PID, pd.Vid2 = s.PD1VID2, pd.Pid2 = s.PD1PID2;
  pd.Vid3 = s.PD1VID3, pd.Pid3 = s.PD1PID3, pd.RomVid = s.PD1RomVID, pd.RomPid = s.PD1RomPID;
  t.Hub[1].Vid = s.Hub1VID, t.Hub[1].Pid = s.Hub1PID;
  t.Dp[1].Vid = s.DP1VID, t.Dp[1].Pid = s.DP1PID;
  if (bad.key.empty()) return true;
  LogPrint(t.out, "Protection : Setting_Value_Out_Of_Range: %s=%s\n", bad.key.c_str(),
           bad.text.c_str());
  return false;
}

bool ReadPath(Tool& t, const char* key, DeviceRecord& record) {
  return ReadText(t, key, record.BinPath, kPathSize);
}

// Keys that refuse the run when the build's rights do not allow them.
bool ApplyRights(Tool& t) {
  RunSettings& s = t.set;
  if (s.CreateECDSASignOnly != 0 && t.build.PermissionLevel < 0xF0) {
    LogPrint(t.out, "\nProtection: Insufficient_Permission_S.\n");
    return false;
  }
  if (t.build.PermissionLevel == 0) {
    if (s.FuncTestOnly != 0 || s.SkipCheckBin != 0 || s.RWRegEnable != 0) {
      LogPrint(t.out, "\nProtection: Insufficient_Permission_1.\n");
      return false;
    }
    s.DbgMsg = 0;
    s.LogFile = 0;
    s.SecondSPIUpdateOnly = 0;
    if (t.build.CustomerCode == 18) {
      // Such a build does nothing but install a signed image.
      s.SecondSPIForPD = 1;
      s.SkipJumpRom = 1;
      if (t.ControlMode == 0) s.SCYUpdateOnly = 1;
    }
  }
  return true;
}

bool CheckDeviceConfig(Tool& t) {
  const RunSettings& s = t.set;
  if (s.SameIDFWMode != 0) {
    if (s.SameIDFWMode >= 5) return LogPrint(t.out, "SameID_Num_Error\n"), false;
    if (s.USBSetAddress != 0) return LogPrint(t.out, "SameID_SetAdr_Error\n"), false;
    if (s.HubPDShareSPI || s.PDDPShareSPI || s.Hub1Hub2ShareSPI || s.PDVMM6ShareSPI)
      return LogPrint(t.out, "SameID_Share_Error\n"), false;
    if (s.DeviceNum > 1) return LogPrint(t.out, "SameID_Single_Error\n"), false;
  }
  if (s.DeviceNum != 1) return LogPrint(t.out, "PD_Tool_Only_Support_1_Device_Number.\n"), false;
  if (s.PD1VID == 0 || s.PD1PID == 0 || s.PD1RomVID == 0 || s.PD1RomPID == 0)
    return LogPrint(t.out, "PD1_Config_Error\n"), false;
  if (s.DirectDownload && s.HubPDShareSPI)
    return LogPrint(t.out, "HubPDShare_Download_Protect_Error\n"), false;
  if (s.DirectDownload && s.PDVMM6ShareSPI)
    return LogPrint(t.out, "VMM6_Download_Protect_Error\n"), false;
  return true;
}

// A companion file is only required to be named here, but one that is there
// and is no regular file would fail half-way through the update.
bool NotAFile(Tool& t, const DeviceRecord& record) {
  if (!NotRegularFile(t.Resolve(record.BinPath))) return false;
  LogPrint(t.out, "Protection : FW_Open_Fail: %s\n", record.BinPath.c_str());
  return true;
}

bool CheckFirmwareFiles(Tool& t) {
  RunSettings& s = t.set;
  if (s.MacLocationID != 0 && (s.SameIDFWMode != 0 || s.USBSetAddress != 0))
    return LogPrint(t.out, "LocationID_Multi_Error\n"), false;
  DeviceRecord& pd = t.Pd[1];
  if (!ReadPath(t, "PD1Bin", pd)) return LogPrint(t.out, "PD1_Bin_Error\n"), false;
  FILE* f = t.Open(pd.BinPath, "rb");
  if (!f) return LogPrint(t.out, "Protection : FW_Open_Fail: %s\n", pd.BinPath.c_str()), false;
  LogPrint(t.out, "    PD1Bin:  \"%s\"\n", pd.BinPath.c_str());
  std::fclose(f);
  if (s.DeviceNum != 0) t.out.ProgressTotal = s.DeviceNum * 100u;
  if (s.SameIDFWMode != 0) t.out.ProgressTotal = s.SameIDFWMode * 100u;
  if (s.HubPDShareSPI) {
    if (!ReadPath(t, "Hub1Bin", t.Hub[1])) return LogPrint(t.out, "Hub1_Bin_Error\n"), false;
    if (NotAFile(t, t.Hub[1])) return false;
    LogPrint(t.out, "    Hub1Bin: \"%s\"\n", t.Hub[1].BinPath.c_str());
    t.out.ProgressTotal += 100;
  }
  if (s.PDVMM6ShareSPI) {
    if (!ReadPath(t, "VMM6Bin", t.Vmm6[1])) return LogPrint(t.out, "VMM6_Bin_Error\n"), false;
    if (NotAFile(t, t.Vmm6[1])) return false;
    LogPrint(t.out, "    VMM6Bin: \"%s\"\n", t.Vmm6[1].BinPath.c_str());
    t.out.ProgressTotal += 100;
  }
  if (s.PDDPShareSPI) {
    if (!ReadPath(t, "DP1Bin", t.Dp[1])) return LogPrint(t.out, "DP1_Bin_Error\n"), false;
    if (NotAFile(t, t.Dp[1])) return false;
    LogPrint(t.out, "    DP1Bin: \"%s\"\n", t.Dp[1].BinPath.c_str());
    t.out.ProgressTotal += 100;
  }
  return true;
}

void ReadPathsWithoutCheck(Tool& t) {
  RunSettings& s = t.set;
  LogPrint(t.out, "    No_Need_To_Check_Bin_File\n");
  if (s.FuncTestOnly != 0 || (t.ControlMode & 0x100) != 0) {
    ReadPath(t, "PD1Bin", t.Pd[1]);
    LogPrint(t.out, "    PD1Bin: \"%s\"\n", t.Pd[1].BinPath.c_str());
    LogPrint(t.out, "    Text_File_Path:  \"%s\"\n", s.TextFilePath.c_str());
    LogPrint(t.out, "    Hash_File_Path:  \"%s\"\n", s.HashFilePath.c_str());
    LogPrint(t.out, "    ScyImgFilePath:  \"%s\"\n", s.ScyImgFilePath.c_str());
  }
  if (s.SecondSPIUpdateOnly != 0) {
    // Warnings only: the load goes on.
    if (s.SecondSPIForPD) {
      if (ReadPath(t, "PD2Bin", t.Pd[2]))
        LogPrint(t.out, "    2ndSPI_PD: \"%s\"\n", t.Pd[2].BinPath.c_str());
      else
        LogPrint(t.out, "2ndSPI_PD_Error\n");
    }
    if (s.SecondSPIForHub) {
      if (ReadPath(t, "Hub2Bin", t.Hub[2]))
        LogPrint(t.out, "    2ndSPI_Hub: \"%s\"\n", t.Hub[2].BinPath.c_str());
      else
        LogPrint(t.out, "2ndSPI_Hub_Error\n");
    }
    if (s.SecondSPIForVMM6) {
      if (ReadPath(t, "VMM6Bin2", t.Vmm6[2]))
        LogPrint(t.out, "    2ndSPI_VMM6: \"%s\"\n", t.Vmm6[2].BinPath.c_str());
      else
        LogPrint(t.out, "2ndSPI_VMM6_Error\n");
    }
  }
}

}  // namespace

void PrintSettings(Tool& t) {
  const RunSettings& s = t.set;
  auto line = [&](const char* label, const char* key) {
    LogPrint(t.out, "    %s=%X\n", label, Get(s, Key(key)));
  };
  LogPrint(t.out, "----- Setting_From_Setting.ini, Start -----\n");
  for (const char* k : kListHead) line(k, k);
  LogPrint(t.out, "    ghWnd=%X\n", static_cast<unsigned>(t.out.hwnd));
  LogPrint(t.out, "    gWinMsg=%X\n", s.WinMsg);
  LogPrint(t.out, "    ControlMode=%X\n", t.ControlMode);
  LogPrint(t.out, "    IniFile=%s\n", t.IniFile.c_str());
  for (const char* k : kListFunctions) line(k, k);
  line("TargetVMMer", "TargetVMMVer");
  for (const char* k : kListTail) line(k, k);
  LogPrint(t.out, "----- Setting_From_Setting.ini, End   -----\n");
}

AfterLoad LoadSettings(Tool& t, int argc, char** argv) {
  if (!ParseCommandLine(t, argc, argv)) {
    LogPrint(t.out, "    Get_Control_Mode_Input_Fail");
    return AfterLoad::SettingsError;
  }
  // A settings file that is there but cannot be read is not a missing one.
  const std::string unreadable = UnreadableReason(t.Resolve(t.IniFile));
  if (!unreadable.empty()) {
    LogPrint(t.out, "Protection : Setting_File_Open_Fail: %s (%s)\n", t.IniFile.c_str(),
             unreadable.c_str());
    return AfterLoad::SettingsError;
  }
  if (!ReadAllKeys(t)) return AfterLoad::SettingsError;
  if (!ApplyRights(t)) return AfterLoad::SettingsError;
  RunSettings& s = t.set;
  if (t.ControlMode != 0)
    for (const char* k : kClearedBySwitch) Set(s, Key(k), 0);
  if (s.DbgMsg != 0) PrintSettings(t);

  int selected = 0;
  for (const char* k : kSpecialFunctions) selected += Get(s, Key(k)) != 0 ? 1 : 0;
  if (selected > 1) {
    LogPrint(t.out, "\nProtection: Multi_Special_Function_Selected.\n");
    return AfterLoad::SettingsError;
  }

  // Functions that need no device end the load here.
  if (s.CreatePDImgOnly != 0) return AfterLoad::CreatePdImage;
  if (s.CreateCRC16Only != 0) return AfterLoad::CreateCrc16Image;
  if (s.ReadBinOnly != 0) {
    if (ReadPath(t, "PD1Bin", t.Pd[1])) return AfterLoad::ReadBinVersion;
    LogPrint(t.out, "PD1_Bin_error\n");
    return AfterLoad::NoBinFile;
  }
  if (s.SetBinFlagOnly != 0) return AfterLoad::SettingsError;

  if (!CheckDeviceConfig(t)) return AfterLoad::SettingsError;
  if (!AnySet(s, kNoFileFunctions) && (t.ControlMode & 0x760000) == 0)
    return CheckFirmwareFiles(t) ? AfterLoad::Devices : AfterLoad::SettingsError;
  ReadPathsWithoutCheck(t);
  return AfterLoad::Devices;
}

}  // namespace pdflash
