// Companion firmware that shares the PD controller's flash, as the PD
// operations carry it along.
#pragma once

#include "ops/tool.h"

namespace pdflash {

// False (with one line) when the share settings ask for companion updates
// this build cannot do; checked before the PD flash is touched.
bool CompanionUpdatesAvailable(Tool& t);

}  // namespace pdflash
