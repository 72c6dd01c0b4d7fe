// The PD firmware file: version, flag word, formal version, compatibility.
#pragma once

#include <cstdint>

#include "ops/tool.h"

namespace pdflash {

inline constexpr uint8_t kFormalPdFile = 0x10;
inline constexpr uint8_t kFormalDpFile = 0x40;

// The file version of PD record d; `accepted` (when given) tells whether the
// file is a PD image that passed the identity rule, since a version of 0
// says nothing.
uint32_t GetPdBinVersion(Tool& t, uint8_t d, bool* accepted = nullptr);
uint32_t GetPdBinFlag(Tool& t, uint8_t d);
uint32_t GetFormalVersion(Tool& t, uint8_t selector, uint8_t d);
// 1 when the chip of PD record d takes a file with this ID byte and size
// (or a check is switched off, with its line).
uint32_t CheckPdBin(Tool& t, uint8_t d, uint8_t fid_byte, uint32_t size);

}  // namespace pdflash
