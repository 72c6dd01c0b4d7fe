// The search for the target controller and the same-ID device sweeps: the
// device layer's walk and checks, with the version reads and the GPIO step
// of a run.
#pragma once

#include <cstdint>

#include "device/device.h"
#include "ops/tool.h"

namespace pdflash {

// 1 = target device found and open (closed again with close_after) and its
// checks passed; in_rom is set (never cleared) when the ROM code runs.
uint32_t SearchDevice(Tool& t, Device& dev, uint8_t d, uint8_t rom_only, uint8_t& in_rom,
                      uint8_t close_after);
// Up to 5 searches 3 s apart for device d in ROM code; 1 = found and open.
uint32_t WaitRomDevice(Tool& t, Device& dev, uint8_t d);
// Sends every device of PD record d that runs its firmware to ROM code.
uint32_t SameIdFwResetAll(Tool& t, Device& dev, uint8_t d);
// Counts the devices of record d in ROM code and keeps their USB addresses;
// 1 when there are `expected` of them.
uint32_t SameIdFwCheckRom(Tool& t, Device& dev, uint8_t d, uint8_t expected);

}  // namespace pdflash
