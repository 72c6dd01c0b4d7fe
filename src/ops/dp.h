// The DP converter that keeps its firmware in the PD controller's flash.
#pragma once

#include <cstdint>

#include "device/device.h"
#include "ops/file_image.h"
#include "ops/tool.h"

namespace pdflash {

// Version of the DP1Bin file of DP record d (0 when refused). `accepted`:
// the file holds an image of the DP identity.
uint32_t GetDpBinVersion(Tool& t, uint8_t d, bool* accepted = nullptr);
// Running version of the converter, from the first copy header that passes
// the identity rule; `direct` reads with flash requests (ROM code running),
// otherwise through the register-level SPI master.
void GetDpFwVersion(Tool& t, Device& dev, uint8_t direct);
// Version of a stored copy into record d: selector 1 looks at 0x40000 and
// 0x60000, 2 at 0x60000, 0x50000 and 0x70000, others at all four.
void GetDpSpiVersion(Tool& t, Device& dev, uint8_t d, uint8_t selector, uint8_t verbose);
// Reads DP1Bin and checks it (size, marker, CRC). False after the DP
// update's start line, the refusal and its FAIL box.
bool LoadDpImage(Tool& t, FirmwareImage& image);
// True when the flash holds the DP area apart from the PD copies; a smaller
// part wraps, and the DP writes would land on the PD copies. False after
// its line.
bool DpAreaFits(Tool& t, Device& dev, uint8_t row);
// Writes the loaded DP image into both copies, the one holding valid
// firmware last.
uint32_t DpFwUpdate(Tool& t, Device& dev, uint8_t row, const FirmwareImage& image);
// DPFWBackup.bin (one image) and DPFWBackupAll.bin (the family's region).
uint32_t DpFwBackup(Tool& t, Device& dev, uint8_t row);

}  // namespace pdflash
