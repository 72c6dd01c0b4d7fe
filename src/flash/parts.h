// The flash parts the tool knows: one row of opcodes per part, with the
// quirks its status-register write needs. Every flash operation takes a row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace pdflash {

// Extra steps of the status-register write.
enum FlashQuirk : uint8_t {
  kQuirkNone = 0,
  // Status writes need the part's own enable: a 0x50 status write first.
  kQuirkSstStatusEnable = 0x01,
  // Two extra enable commands, 0xAA then 0x55, before the write enable.
  kQuirkW25xExtraEnable = 0x02,
  // Protection and QE bits live in status register 2 too; clearing status
  // also repairs register 2.
  kQuirkStatus2Repair = 0x04,
};

struct FlashPart {
  const char* name;
  // The identify opcode and the spare one are never sent.
  uint8_t Identify, WriteEnable, WriteStatus, ChipErase, Read, ReadStatus, PageProgram, Spare,
      SectorErase;  // 0x00: the part has no sector erase
  uint8_t quirks;
};

inline constexpr uint8_t kDefaultFlashRow = 0;

std::span<const FlashPart> FlashParts();
// The part of a row; a row outside the table falls back to the default part.
const FlashPart& FlashRow(uint8_t row);
// Quirks the SPIFlashType setting adds to whatever row is in use.
uint8_t FlashTypeQuirks(uint8_t spi_flash_type);

}  // namespace pdflash
