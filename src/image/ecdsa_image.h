// The signed image the security IC accepts: a 4096-byte header (title, the
// flash addresses, date, signature, public key, digests, the firmware and
// copy tables) followed by the signed data. Numbers are big-endian.
#pragma once

#include <cstdint>
#include <span>

#include "platform/platform.h"

namespace pdflash {

inline constexpr uint32_t kEcdsaHeaderSize = 0x1000;
inline constexpr uint32_t kEcdsaHeaderFlash = 0x4F000;
inline constexpr uint32_t kEcdsaDataFlash = 0x50000;
inline constexpr uint32_t kEcdsaSignatureFlash = 0x4F040;
inline constexpr uint32_t kEcdsaMaxData = 0x100000;
inline constexpr char kEcdsaTitle[] = "ECDSA IMAGE V0.1";  // 16 bytes, no terminator
inline constexpr int kEcdsaMaxFiles = 5;
inline constexpr int kEcdsaCopySlots = 16;

// Header offsets.
namespace ecdsa {
inline constexpr uint32_t kStart = 48;
inline constexpr uint32_t kEnd = 52;
inline constexpr uint32_t kSignatureAt = 56;
inline constexpr uint32_t kDate = 60;
inline constexpr uint32_t kR = 64;
inline constexpr uint32_t kS = 96;
inline constexpr uint32_t kPublicKey = 128;  // x then y
inline constexpr uint32_t kDataDigest = 192;
inline constexpr uint32_t kKeyDigest = 224;
inline constexpr uint32_t kFirmwareTable = 256;
inline constexpr uint32_t kCopyTable = 512;
}  // namespace ecdsa

// The complement of the 8-bit sum of bytes 0-14, so all 16 add up to 0xFF.
uint8_t EcdsaCheckByte(const uint8_t* entry);
// A table entry: three big-endian words, zeros, the check byte.
void PutEcdsaEntry(uint8_t* entry, uint32_t a, uint32_t b, uint32_t c);

// Zeroes the header and writes title, addresses for `data_length` bytes of
// data, the date in BCD (century, year, month, day), r and s.
void StartEcdsaHeader(uint8_t* header, uint32_t data_length, const LocalTime& date,
                      const uint8_t* r, const uint8_t* s);

// A signed block of the data area: its flash start and padded length.
struct EcdsaBlock {
  uint32_t start = 0, length = 0;
};

// Where a copy entry's source lies among the blocks.
struct CopyJudgement {
  bool below_first = false;  // starts below block 0
  bool found = false;        // inside block `block`
  bool overlaps = false;     // and runs past its end
  int block = 0;
};
CopyJudgement JudgeCopySource(uint32_t from, uint32_t length, std::span<const EcdsaBlock> blocks);

// Lengths in the data area are multiples of 4 KiB.
inline uint32_t RoundUp4K(uint32_t n) {
  return (n + 0xFFF) & ~0xFFFu;
}

// The 32-byte region descriptor of the install and verify commands.
void EcdsaRegionDescriptor(uint32_t start, uint32_t end, uint32_t signature, uint8_t* out);

// What an image file's header says, as far as the install checks read it.
struct EcdsaHeaderCheck {
  bool title = false;
  bool start = false;      // low 24 bits of the start address are 0x050000
  bool signature = false;  // low 24 bits of the signature address are 0x04F040
  uint32_t end = 0;        // low 24 bits of the end address
};
EcdsaHeaderCheck CheckEcdsaHeader(const uint8_t* header);

}  // namespace pdflash
