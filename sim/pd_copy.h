// The PD firmware copies in a flash image, judged the way the ROM code judges
// them before it boots one.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace pdflash::sim {

inline constexpr uint32_t kCopy1Address = 0x20000;
inline constexpr uint32_t kCopy2SmallAddress = 0x28000;  // 32 KiB images
inline constexpr uint32_t kCopy2Address = 0x30000;       // every other size

struct PdCopy {
  uint32_t address = 0;
  bool valid = false;
  uint32_t size = 0;     // image size whose CRC-16 trailer matched
  uint32_t version = 0;  // bytes 0x1003..0x1006, big-endian
  uint16_t vid = 0, pid = 0;
};

// Looks for an image at `address` no larger than `region`: marker 0x02 and the
// first of the sizes 0x8000, 0xC000, 0xC800, 0x10000 whose CRC-16 trailer
// matches. Addresses wrap at the flash size.
PdCopy InspectPdCopy(const std::vector<uint8_t>& flash, uint32_t address, uint32_t region);

// The copy the ROM starts: copy 1, else copy 2 at 0x30000, else at 0x28000.
std::optional<PdCopy> FindBootCopy(const std::vector<uint8_t>& flash);

// The three places a copy can sit, in the order FindBootCopy tries them.
std::vector<PdCopy> InspectAllCopies(const std::vector<uint8_t>& flash);

}  // namespace pdflash::sim
