// The VMM6 DP hub whose firmware shares the PD controller's flash.
#pragma once

#include <cstdint>

#include "device/device.h"
#include "ops/tool.h"

namespace pdflash {

uint32_t GetVmm6BinVersion(Tool& t);
// Version of the active bank into the running version (0 when no bank is
// valid); `in_rom` reads with flash requests, otherwise through the
// register-level SPI master.
void GetVmm6FwVersion(Tool& t, Device& dev, uint8_t in_rom);
// mode: non-zero = update (the backup bank, then the flags), 0 = backup of
// both banks to BackUpVMM6.bin.
uint32_t Vmm6Update(Tool& t, Device& dev, uint8_t mode, uint8_t row);

}  // namespace pdflash
