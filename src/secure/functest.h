// The numbered engineering tests of FuncTestOnly.
#pragma once

#include <cstdint>

#include "device/device.h"
#include "ops/tool.h"

namespace pdflash {

// link is null for the host-only tests (numbers below 0x80).
uint32_t RunFunctionTest(Tool& t, Device* link, uint8_t number);

}  // namespace pdflash
