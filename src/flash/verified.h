// Erase with blank check, chunked write with full read-back, flash size check.
#pragma once

#include <cstdint>

#include "core/records.h"
#include "device/device.h"

namespace pdflash {

inline constexpr uint32_t kMaxVerifiedWrite = 0x100000;

uint32_t VerifiedSectorErase(Device& dev, uint8_t row, uint32_t address, uint8_t verbose);
uint32_t VerifiedWrite(Device& dev, uint8_t row, uint32_t address, uint32_t offset, uint32_t length,
                       const uint8_t* buffer, uint8_t verbose);
uint32_t CheckFlashSize(Device& dev, const RunSettings& s, uint32_t size, uint32_t base,
                        uint8_t verbose);

}  // namespace pdflash
