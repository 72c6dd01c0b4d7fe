// The second flash of the controller with two SPI ports: the ordinary
// version read, backup, update and dump, run with that flash selected.
#pragma once

#include <cstdint>

#include "device/device.h"
#include "ops/tool.h"

namespace pdflash {

// Targets: the PD firmware of the second flash, or hub 1 / hub 2 firmware
// (version read only). The settings may force another target than `target`.
inline constexpr uint8_t kSecondFlashPd = 0x10;

// The version found (0 on failure).
uint32_t SecondSpiGetVersion(Tool& t, Device& dev, uint8_t target);
uint32_t SecondSpiBackup(Tool& t, Device& dev, uint8_t target, uint8_t row);
// The PD firmware of device slot 2 (its file is PD2Bin).
uint32_t SecondSpiUpdate(Tool& t, Device& dev, uint8_t target, uint8_t row);
uint32_t SecondSpiDump(Tool& t, Device& dev, uint8_t megabits, uint8_t row);

}  // namespace pdflash
