// The numbered engineering tests of FuncTestOnly.
#pragma once

#include <cstdint>

#include "app/tool.h"
#include "device/usb_link.h"

namespace pdflash {

// link is null for the host-only tests (numbers below 0x80).
uint32_t RunFunctionTest(Tool& t, UsbLink* link, uint8_t number);

}  // namespace pdflash
