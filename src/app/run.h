// The program: start-up, the choice of the run's one function, its dispatch
// and the result.
#pragma once

#include <cstdint>

#include "ops/tool.h"

namespace pdflash {

// Runs the tool once and returns the run result (the 32-bit return value
// after the ReturnZeroAsOK mapping).
uint32_t RunPdflash(Platform& platform, BuildProfile build, int argc, char** argv);

// The process exit status for a run result: results above 255 saturate so
// that no large value can read as success.
int ExitStatus(uint32_t result);

}  // namespace pdflash
