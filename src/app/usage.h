// --help and --version, answered before the run starts: they read no
// settings, touch no device and exit 0.
#pragma once

#include "core/records.h"
#include "platform/platform.h"

namespace pdflash {

// True when the first argument is exactly "--help", "-h" or "--version"; the
// answer has then been written. Anything else is left to the run unchanged.
bool AnswerUsageOrVersion(Console& console, const BuildProfile& build, int argc,
                          char** argv);

}  // namespace pdflash
