// The command line: at most one switch and its values.
#pragma once

#include <cstdint>

#include "ops/tool.h"

namespace pdflash {

struct Switch {
  const char* name;
  uint32_t control_mode;
};

// Every switch that selects a function, in matching order ("/INI" and "/PATH"
// are handled apart).
extern const Switch kSwitches[];
extern const size_t kSwitchCount;

// Writes ControlMode, DeviceInfoArg, RegAccessAddress/Value, the settings file
// name, the working folder and ghWnd. false = the run stops.
bool ParseCommandLine(Tool& t, int argc, char** argv);

}  // namespace pdflash
