// The two-copy PD firmware update.
#pragma once

#include <cstdint>
#include <vector>

#include "device/device.h"
#include "ops/tool.h"

namespace pdflash {

// Erases `size` bytes of the copy at `target` and writes the image there
// with read-back; `first` picks the first copy's messages and progress.
bool WriteFirmwareCopy(Tool& t, Device& dev, uint8_t row, uint32_t target, bool first,
                       const std::vector<uint8_t>& image, uint32_t size);
uint32_t PdFwUpdate(Tool& t, Device& dev, uint8_t d, uint8_t row);

}  // namespace pdflash
