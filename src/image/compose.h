// Offline flash images: the composite PD (and VMM6) image and the CRC-stamped
// raw image.
#pragma once

#include <cstdint>

#include "app/tool.h"

namespace pdflash {

void CreatePdImage(Tool& t);
uint32_t BuildInfoZone(Tool& t, uint8_t* zone, uint8_t mask, uint32_t image_length);
void CreateCrc16Image(Tool& t, uint8_t size_kib);

}  // namespace pdflash
