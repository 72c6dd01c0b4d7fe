// Small device operations on the open controller: its identity, its USB
// address, a GPIO, and the I2C test mode.
#pragma once

#include <cstdint>

#include "core/records.h"
#include "device/device.h"

namespace pdflash {

// Reads the identity register and stores the project ID and chip name in `rec`.
uint32_t ReadChipIdentity(Device& dev, DeviceRecord& rec, bool echo);
// The device's current USB address, 0 when it cannot be told (a line says so).
uint8_t GetUsbAddress(Device& dev);
uint32_t SetGpio(Device& dev, uint8_t n, uint8_t level);
uint32_t I2cTestMode(Device& dev, uint8_t mode);

}  // namespace pdflash
