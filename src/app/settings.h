// The settings file Setting.ini (section "Config") and its loader.
#pragma once

#include "app/tool.h"

namespace pdflash {

// Parses the command line, reads every key, applies the build's rights,
// refuses inconsistent settings, runs the device-less image and file-version
// functions, and checks the firmware files the run needs. false = stop (the
// reason is printed).
bool LoadSettings(Tool& t, int argc, char** argv);

// The settings list printed with DbgMsg.
void PrintSettings(Tool& t);

}  // namespace pdflash
