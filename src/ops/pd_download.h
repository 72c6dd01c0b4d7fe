// Chip-erase based programming: direct download, clean flash, image download.
#pragma once

#include <cstdint>

#include "app/tool.h"
#include "device/usb_link.h"

namespace pdflash {

uint32_t PdFwDownload(Tool& t, UsbLink& h, uint8_t d, uint8_t row);
uint32_t PdCleanFlash(Tool& t, UsbLink& h, uint8_t d, uint8_t mode, uint8_t row);
uint32_t ImageDownload(Tool& t, UsbLink& h, uint8_t d, uint8_t mode, uint8_t row);

}  // namespace pdflash
