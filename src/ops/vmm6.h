// The VMM6 DP hub whose firmware shares the PD controller's flash.
#pragma once

#include <cstdint>

#include "device/device.h"
#include "ops/file_image.h"
#include "ops/tool.h"

namespace pdflash {

uint32_t GetVmm6BinVersion(Tool& t, bool* accepted = nullptr);
// Version of the active bank into the running version (0 when no bank is
// valid); `in_rom` reads with flash requests, otherwise through the
// register-level SPI master.
void GetVmm6FwVersion(Tool& t, Device& dev, uint8_t in_rom);
// Reads VMM6Bin and checks it (size, bank flag). False after the VMM6
// update's start line, the refusal and its FAIL box.
bool LoadVmm6Image(Tool& t, FirmwareImage& image);
// The checks of the flash that the update and the backup make first (an
// erase command, room for both banks); false after their line.
bool Vmm6FlashUsable(Tool& t, Device& dev, uint8_t row);
// Writes the loaded image into the backup bank, then switches the flags.
uint32_t Vmm6Update(Tool& t, Device& dev, uint8_t row, const FirmwareImage& image);
// Both banks to BackUpVMM6.bin.
uint32_t Vmm6Backup(Tool& t, Device& dev, uint8_t row);

}  // namespace pdflash
