// The records every layer reads: the settings of the run, the build profile
// and the device records discovery and the operations fill.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pdflash {

// Fixed per build; tests construct other profiles without rebuilding.
struct BuildProfile {
  uint8_t PermissionLevel = 0x10;
  uint32_t CustomerCode = 3;
};

// Field names are the settings keys; a key that starts with "2nd" becomes
// "Second..." because an identifier cannot start with a digit.
struct RunSettings {
  uint8_t DbgMsg = 0;
  uint8_t LogFile = 0;
  uint8_t DeviceNum = 1;
  uint16_t PD1VID = 0, PD1PID = 0, PD1VID2 = 0, PD1PID2 = 0, PD1VID3 = 0, PD1PID3 = 0;
  uint16_t PD1RomVID = 0, PD1RomPID = 0;
  uint16_t Hub1VID = 0, Hub1PID = 0, DP1VID = 0, DP1PID = 0;
  uint8_t HubPDShareSPI = 0;
  uint8_t PDDPShareSPI = 0;
  uint8_t DPStrapping = 1;
  uint8_t Hub1Hub2ShareSPI = 0;
  uint8_t Hub12Strapping = 0;
  uint8_t PDVMM6ShareSPI = 0;
  uint8_t Checklibusb = 0;
  uint8_t DirectDownload = 0;
  uint8_t DisplayFormalVer = 0;
  uint8_t DisplayVPID = 0;
  uint8_t ForceGPIO1Low = 0;
  uint8_t ForceGPIO8Low = 0;
  uint8_t LEDFlicker = 0;
  uint8_t NeedMathChallenge = 0;
  uint8_t NeedUpdateMode = 0;
  uint8_t NoDowngrade = 0;
  uint8_t OutputProgress = 0;
  uint8_t OutputResult = 0;
  uint8_t ResetAfterUpdate = 0;
  uint8_t ReturnZeroAsOK = 0;
  uint8_t RWRegEnable = 0;
  uint8_t SameIDFWMode = 0;
  uint8_t SkipCheckBin = 0;
  uint8_t SkipGPIO8Ctl = 0;
  uint8_t SkipJumpRom = 0;
  uint8_t SPIFlashType = 0;
  uint8_t USBSetAddress = 0;
  uint8_t VolatileSRWrEn = 0;
  uint8_t WinLocationHub = 0, WinLocationPort = 0;
  uint32_t WinMsg = 0x464;
  uint32_t MacLocationID = 0;
  uint8_t BackUpOnly = 0;
  uint8_t CleanFlashOnly = 0;
  uint8_t CreateCRC16Only = 0;
  uint8_t CreatePDImgOnly = 0;
  uint8_t CreateECDSASignOnly = 0;
  uint8_t DownloadImageOnly = 0;
  uint8_t FlashDumpOnly = 0;
  uint8_t FuncTestOnly = 0;
  uint8_t I2CTestOnly = 0;
  uint8_t ReadBinOnly = 0;
  uint8_t ReadSPIHubFWOnly = 0;
  uint8_t ReadSPIPDFWOnly = 0;
  uint8_t ReadSPIDPFWOnly = 0;
  uint8_t ReadVerOnly = 0;
  uint8_t SCYUpdateOnly = 0;
  uint32_t SetBinFlagOnly = 0;
  uint8_t QCModeOnly = 0;
  uint32_t TargetHubVer = 0xFF, TargetHub2Ver = 0xFF;
  uint32_t TargetPDVer = 0xFF, TargetDPVer = 0xFF, TargetVMMVer = 0xFF;
  std::string TextFilePath = "NA";
  std::string HashFilePath = "NA";
  std::string ScyImgFilePath = "NA";
  uint8_t SecondSPIForPD = 0;
  uint8_t SecondSPIForHub = 0;
  uint8_t SecondSPIForVMM6 = 0;
  uint8_t SecondSPIBackUpOnly = 0, SecondSPIDumpOnly = 0, SecondSPIReadVerOnly = 0,
          SecondSPIUpdateOnly = 0;
  uint8_t SignDeviceCnt = 0;
};

struct SignEntry {
  uint16_t Product = 0;
  uint32_t BinVersion = 0;
  std::string Bin = "NA";
};

struct CopyEntry {
  uint32_t From = 0, To = 0, Len = 0;
};

// One device slot of the PD, hub, DP or VMM6 table.
struct DeviceRecord {
  uint16_t Vid = 0, Pid = 0;    // configured, application firmware
  uint16_t Vid2 = 0, Pid2 = 0;  // alternative pair, 0 = none
  uint16_t Vid3 = 0, Pid3 = 0;
  uint16_t RomVid = 0, RomPid = 0;
  uint16_t CurVid = 0, CurPid = 0;
  uint16_t BcdDevice = 0;
  uint32_t FwVersion = 0;         // running firmware
  uint32_t DevFormalVersion = 0;  // formal version found in the device flash
  uint32_t BinVersion = 0;        // firmware file
  uint32_t BinFormalVersion = 0;
  uint32_t BinFlag = 0;
  uint32_t ProjectId = 0;  // upper 16 bits: chip code
  std::string ChipName;
  std::string BinPath;

  uint16_t ChipCode() const { return static_cast<uint16_t>(ProjectId >> 16); }
};

// Text fields of the system are fixed-size; keep the same limits.
constexpr size_t kSettingTextSize = 255;  // settings text values
constexpr size_t kPathSize = 260;         // device record paths, tool path
constexpr size_t kIniNameSize = 260;      // "/INI" file name incl. terminator

}  // namespace pdflash
