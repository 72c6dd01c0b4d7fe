#include "sim/crc16.h"

#include <array>

#include "core/bytes.h"

namespace pdflash::sim {

namespace {

// One byte's worth of shifts of the reflected polynomial, precomputed: the
// ROM checks up to three 64 KiB copies on every boot.
constexpr std::array<uint16_t, 256> MakeTable() {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned r = i;
    for (int bit = 0; bit < 8; ++bit) r = (r & 1) ? (r >> 1) ^ 0xA001u : r >> 1;
    table[i] = static_cast<uint16_t>(r);
  }
  return table;
}

constexpr std::array<uint16_t, 256> kTable = MakeTable();

}  // namespace

uint16_t Crc16Usb(const uint8_t* bytes, size_t size) {
  unsigned crc = 0xFFFF;
  for (size_t i = 0; i < size; ++i) crc = (crc >> 8) ^ kTable[(crc ^ bytes[i]) & 0xFF];
  return static_cast<uint16_t>(crc ^ 0xFFFF);
}

bool HasCrc16Trailer(const uint8_t* image, size_t size) {
  if (size < 2) return false;
  return Crc16Usb(image, size - 2) == Le16(image + size - 2);
}

}  // namespace pdflash::sim
