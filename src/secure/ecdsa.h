// Signed images for the security IC: creation (hashing and signing on the
// device's engines), download into the security zone, install, zone erase.
#pragma once

#include <cstdint>

#include "device/device.h"
#include "ops/tool.h"

namespace pdflash {

// Which private key signs: the customer set for customer 18, else the default.
const uint8_t* SigningKey(const Tool& t);
// True when the build signs with the development key set.
bool DevelopmentKeys();

uint32_t CreateEcdsaImage(Tool& t, Device& dev, uint8_t mode);
uint32_t UpdateEcdsaImage(Tool& t, Device& dev, uint8_t index, uint8_t row);
uint32_t DownloadEcdsaImage(Tool& t, Device& dev, uint8_t index, uint8_t row);
uint32_t EraseScyZone(Tool& t, Device& dev, uint8_t index, uint8_t row);

}  // namespace pdflash
