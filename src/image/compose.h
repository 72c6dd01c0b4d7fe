// Offline flash images: the composite PD (and VMM6) image and the CRC-stamped
// raw image.
#pragma once

#include <cstdint>

#include "app/tool.h"

namespace pdflash {

// Where the parts of the composite image go.
inline constexpr uint32_t kImageZone1 = 0x01E000;
inline constexpr uint32_t kImageZone2 = 0x01F000;
inline constexpr uint32_t kImageSumWord = 0x01FFFE;
inline constexpr uint32_t kImagePdCopy1 = 0x020000;
inline constexpr uint32_t kImageVmm6 = 0x100000;
inline constexpr uint32_t kInfoZoneSize = 4096;

// Builds the composite image from the PD1Bin (and VMM6Bin) files named in
// Setting.ini and writes NewPD1Image_<date>[_<sum>].bin.
void CreatePdImage(Tool& t);
// Fills the 4096-byte image information zone for the device mask (bit 0 hub 1,
// bit 1 hub 2, bit 2 PD, bit 3 DP, bit 4 VMM6 file versions); returns 1.
uint32_t BuildInfoZone(Tool& t, uint8_t* zone, uint8_t mask, uint32_t image_length);
// Stamps the CRC-16 into ASIC_SPI.bin at size_kib KiB and writes ASIC_SPI_CRC.bin.
void CreateCrc16Image(Tool& t, uint8_t size_kib);

}  // namespace pdflash
