// Warns about (and offers to remove) the driver package of older tools that
// keeps the Billboard device from being opened.
#pragma once

#include "ops/tool.h"

namespace pdflash {

void CheckLegacyDriver(Tool& t);

}  // namespace pdflash
