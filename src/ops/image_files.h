// Offline flash images built from files: the composite PD (and VMM6) image
// and the CRC-stamped raw image. No device is needed.
#pragma once

#include <cstdint>

#include "ops/tool.h"

namespace pdflash {

// Builds the composite image from the PD1Bin (and VMM6Bin) files named in
// the run's settings file and writes NewPD1Image_<date>[_<sum>].bin.
// 1 when the image was written.
uint32_t CreatePdImage(Tool& t);
// Stamps the CRC-16 into ASIC_SPI.bin at size_kib KiB and writes
// ASIC_SPI_CRC.bin; 1 when it was written.
uint32_t CreateCrc16Image(Tool& t, uint8_t size_kib);

}  // namespace pdflash
