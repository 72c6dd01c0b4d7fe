// The settings file Setting.ini (section "Config") and its loader.
#pragma once

#include "ops/tool.h"

namespace pdflash {

// What run control does once the settings are loaded.
enum class AfterLoad {
  Devices,        // the run's device work
  SettingsError,  // stop: the reason is printed
  CreatePdImage,  // device-less functions, run before the banner
  CreateCrc16Image,
  ReadBinVersion,
  NoBinFile,  // ReadBinOnly without a PD1Bin: result 0, reason printed
};

// Parses the command line, reads every key, applies the build's rights,
// refuses inconsistent settings and checks the firmware files the run needs.
AfterLoad LoadSettings(Tool& t, int argc, char** argv);

// The settings list printed with DbgMsg.
void PrintSettings(Tool& t);

}  // namespace pdflash
