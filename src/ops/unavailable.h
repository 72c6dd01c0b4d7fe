// Functions of the tool that this build does not contain yet. They are
// refused with one clear line instead of pretending to work.
#pragma once

#include <cstdint>

#include "ops/tool.h"

namespace pdflash {

// Prints "    Not_Available_In_This_Build: <name>\n" and returns 0.
uint32_t NotAvailable(Tool& t, const char* name);

}  // namespace pdflash
