// The two-copy PD firmware update.
#pragma once

#include <cstdint>

#include "app/tool.h"
#include "device/usb_link.h"

namespace pdflash {

// PD firmware copy placement in the flash.
inline constexpr uint32_t kPdCopy1 = 0x020000;
inline uint32_t PdCopy2(uint32_t image_size) {
  return image_size == 0x8000 ? 0x028000 : 0x030000;
}

uint32_t PdFwUpdate(Tool& t, UsbLink& h, uint8_t d, uint8_t row);

}  // namespace pdflash
