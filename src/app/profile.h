// The build profile compiled into this binary.
#pragma once

#include "core/records.h"

namespace pdflash {

BuildProfile CompiledProfile();

}  // namespace pdflash
