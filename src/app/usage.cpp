#include "app/usage.h"

#include <cstdio>
#include <cstring>
#include <string>

#ifndef PDFLASH_VERSION
#error "PDFLASH_VERSION comes from the CMake project version"
#endif

namespace pdflash {

namespace {

constexpr const char kUsage[] =
    "Usage: pdflash [SWITCH [VALUE [VALUE]]]\n"
    "       pdflash --help | -h | --version\n"
    "\n"
    "Each run does one thing, prints Return_Value = 0x... and exits. The switch\n"
    "chooses it; without one, Setting.ini does: the one key ending in Only that\n"
    "is non-zero, or else the PD firmware update from PD1Bin. Switches may be\n"
    "typed in any case; numbers are hexadecimal, without 0x.\n"
    "\n"
    "Switches:\n"
    "  /U                 PD firmware update (a switch clears the Only keys)\n"
    "  /CKFW              is an update needed: 1 yes, 3 no\n"
    "  /F0 /F1 /FD /FV    running version: PD, hub, DP converter, VMM6\n"
    "  /FS0 /FS1 /FSD /FSV\n"
    "                     version in the second flash\n"
    "  /B0 /B1 /BD /BV    file version of PD1Bin, Hub1Bin, DP1Bin, VMM6Bin\n"
    "  /BCDDEV            bcdDevice of the controller\n"
    "  /GPIOnH /GPIOnL    drive GPIO n (0-9, A, B) high or low\n"
    "  /RESET0            restart the controller into its application firmware\n"
    "  /RDREG AAAA        read a register       (needs RWRegEnable=1)\n"
    "  /WRREG AAAA VV     write a register      (needs RWRegEnable=1)\n"
    "  /WRSN /WRIPR /WRISN /WRIVR TEXT, /WRBCD BBBB, /CLEAR\n"
    "                     write the device information zone\n"
    "  /CKSN /CKIPR /CKISN /CKIVR [TEXT], /CKBCD [BBBB]\n"
    "                     read or compare it\n"
    "  /INI FILE.ini      use another settings file\n"
    "  /PATH DIR          work in another folder\n"
    "  second argument /msgwnd:HANDLE  window for progress messages (Windows)\n"
    "\n"
    "Settings that choose a function (at most one non-zero):\n"
    "  ReadVerOnly ReadBinOnly BackUpOnly FlashDumpOnly CleanFlashOnly\n"
    "  DownloadImageOnly CreatePDImgOnly CreateCRC16Only ReadSPIPDFWOnly\n"
    "  ReadSPIHubFWOnly ReadSPIDPFWOnly QCModeOnly I2CTestOnly FuncTestOnly\n"
    "  SCYUpdateOnly CreateECDSASignOnly SetBinFlagOnly 2ndSPIReadVerOnly\n"
    "  2ndSPIBackUpOnly 2ndSPIUpdateOnly 2ndSPIDumpOnly\n"
    "  DirectDownload=1 erases the chip and writes PD1Bin as copy 1 only.\n"
    "\n"
    "Result and exit code:\n"
    "  1 = success, 0 = failure, or the value a query reads (a version, a\n"
    "  status). ReturnZeroAsOK=1 turns 1 into 0 and 0 into 1. The exit code is\n"
    "  the result; where an exit status holds 8 bits (Linux) a result above 255\n"
    "  exits with 255: read the Return_Value line. OutputResult=1 also writes\n"
    "  it to Result.txt as 0x%08X.\n"
    "\n"
    "Files, all in the tool's own folder (or the /PATH folder):\n"
    "  Setting.ini        settings, section [Config], every number hexadecimal\n"
    "  Challenge.ini      unlock-challenge coefficients, next to the program\n"
    "  Result.txt, pddebug.log (LogFile), 000.txt..100.txt (OutputProgress=1)\n"
    "  PDFWBackup.bin, PDFWBackupAll.bin, PDFlash1Dump.bin, ASIC_SPI_CRC.bin\n"
    "\n"
    "Environment:\n"
    "  PDFLASH_SIM=DIR       use the virtual board in DIR instead of USB (pdsim)\n"
    "  PDFLASH_SIM_TIME=real the virtual board runs on real time, not virtual\n";

const char* LevelName(uint8_t level) {
  if (level >= 0xF0) return "LEVEL-S";
  if (level >= 0x30) return "LEVEL-3";
  if (level >= 0x20) return "LEVEL-2";
  if (level >= 0x10) return "LEVEL-1";
  return "LEVEL-0";
}

const char* UsbBackend() {
#if defined(_WIN32)
  return "WinUSB";
#elif defined(PDFLASH_HAVE_LIBUSB)
  return "libusb-1.0";
#else
  return "none (virtual board only)";
#endif
}

}  // namespace

bool AnswerUsageOrVersion(Console& console, const BuildProfile& build, int argc,
                          char** argv) {
  if (argc < 2) return false;
  const char* arg = argv[1];
  if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
    console.Write(kUsage);
    return true;
  }
  if (std::strcmp(arg, "--version") != 0) return false;
  char text[200];
  std::snprintf(text, sizeof text,
                "pdflash %s\n"
                "PermissionLevel 0x%02X (%s), CustomerCode %u\n"
                "USB: %s\n",
                PDFLASH_VERSION, build.PermissionLevel, LevelName(build.PermissionLevel),
                static_cast<unsigned>(build.CustomerCode), UsbBackend());
  console.Write(text);
  return true;
}

}  // namespace pdflash
