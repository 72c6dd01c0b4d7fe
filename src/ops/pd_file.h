// The PD firmware file: version, flag word, formal version, compatibility.
#pragma once

#include <cstdint>

#include "app/tool.h"

namespace pdflash {

inline constexpr uint8_t kFormalPdFile = 0x10;
inline constexpr uint8_t kFormalDpFile = 0x40;

uint32_t GetPdBinVersion(Tool& t, uint8_t d);
uint32_t GetPdBinFlag(Tool& t, uint8_t d);
uint32_t GetFormalVersion(Tool& t, uint8_t selector, uint8_t d);
uint32_t CheckPdBin(Tool& t, uint8_t d, uint8_t fid_byte, uint32_t size);
// VID = 0x2109, VID = configured, VID2 = 0x2109, VID2 = configured, or VID = VID2.
bool IdentityAccepts(uint16_t vid, uint16_t vid2, uint16_t configured);

}  // namespace pdflash
