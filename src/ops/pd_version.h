// PD firmware versions read from the running device and its flash.
#pragma once

#include <cstdint>

#include "device/device.h"
#include "ops/tool.h"

namespace pdflash {

void GetPdFwVersion(Tool& t, Device& dev, uint8_t d, bool print);
void GetPdFormalVer(Tool& t, Device& dev, uint8_t in_rom);
void GetPdSpiVersion(Tool& t, Device& dev, uint8_t d, uint8_t selector, uint8_t verbose);

// A stored copy's header (the PD header layout, also a DP converter's), taken
// when its IDs are those of `rec`: the IDs into `current`, the version into
// `rec` with its box and, when asked for, the formal version. `chip` names it
// in the box ("PD", "DP"); `loop` is the slot's number in the debug line.
// False when the IDs are another chip's.
bool TakeStoredHeader(Tool& t, const char* chip, uint8_t d, size_t loop, bool verbose,
                      DeviceRecord& rec, DeviceRecord& current, const uint8_t* h);

}  // namespace pdflash
