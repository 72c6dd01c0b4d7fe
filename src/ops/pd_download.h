// Chip-erase based programming: direct download, clean flash, image download.
#pragma once

#include <cstdint>

#include "device/device.h"
#include "ops/tool.h"

namespace pdflash {

uint32_t PdFwDownload(Tool& t, Device& dev, uint8_t d, uint8_t row);
uint32_t PdCleanFlash(Tool& t, Device& dev, uint8_t d, uint8_t mode, uint8_t row);
uint32_t ImageDownload(Tool& t, Device& dev, uint8_t d, uint8_t mode, uint8_t row);

}  // namespace pdflash
