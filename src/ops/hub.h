// The hub controller whose firmware shares the PD controller's flash.
#pragma once

#include <cstdint>

#include "ops/tool.h"

namespace pdflash {

// Version of the file of hub record h & 0x0F.
uint32_t GetHubBinVersion(Tool& t, uint8_t h);

}  // namespace pdflash
