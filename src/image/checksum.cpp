#include "image/checksum.h"

#include <array>

#include "core/bytes.h"

namespace pdflash {

uint8_t Crc8(const uint8_t* b, uint32_t len) {
  uint16_t r = 0;
  for (uint32_t i = 0; i < len; ++i) {
    r ^= static_cast<uint16_t>(b[i] << 8);
    for (int k = 0; k < 8; ++k) {
      if (r & 0x8000) r ^= 0x8380;
      r = static_cast<uint16_t>(r << 1);
    }
  }
  return static_cast<uint8_t>(r >> 8);
}

uint16_t GetCrc16(const uint8_t* b, int32_t len) {
  if (len < 1) return 0;
  uint16_t r = 0xFFFF;
  for (int32_t i = 0; i < len; ++i) {
    r ^= b[i];
    for (int k = 0; k < 8; ++k)
      r = (r & 1) ? static_cast<uint16_t>((r >> 1) ^ 0xA001) : static_cast<uint16_t>(r >> 1);
  }
  return static_cast<uint16_t>(r ^ 0xFFFF);
}

uint32_t Crc32(const uint8_t* b, uint32_t len) {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i << 24;
    for (int k = 0; k < 8; ++k) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
    table[i] = c;
  }
  uint32_t c = 0;
  for (uint32_t i = 0; i < len; ++i) c = table[((c >> 24) ^ b[i]) & 0xFF] ^ (c << 8);
  return c;
}

bool Crc16Trailer(const uint8_t* image, uint32_t size) {
  if (size < 2) return false;
  return GetCrc16(image, static_cast<int32_t>(size - 2)) == Le16(image + size - 2);
}

void StampCrc16(uint8_t* image, uint32_t size) {
  if (size < 2) return;
  PutLe16(image + size - 2, GetCrc16(image, static_cast<int32_t>(size - 2)));
}

uint8_t GetCrc8(Output& out, const uint8_t* b, uint32_t len, uint8_t print) {
  const uint8_t crc = Crc8(b, len);
  if (print) LogPrint(out, "    GetCrc8 = 0x%02X\n", crc);
  return crc;
}

uint32_t CheckCrc32(Output& out, const uint8_t* b, uint32_t len, uint8_t print) {
  if (len < 4 || len % 4 != 0) {
    LogPrint(out, "    Illegal CRC32 Length: 0x%X \n", len);
    return 0;
  }
  const uint32_t c = Crc32(b, len - 4);
  if (print) LogPrint(out, "    Get_CRC32: 0x%X \n", c);
  if (Le32(b + len - 4) == c) return 1;
  if (print)
    LogPrint(out, "    SPI_CRC32: 0x%02X%02X%02X%02X \n", b[len - 1], b[len - 2], b[len - 3],
             b[len - 4]);
  return 0;
}

uint16_t CheckSum16(Output& out, const uint8_t* b, uint32_t len) {
  uint32_t s = 0;
  for (uint32_t i = 0; i < len; i += 2) s += (uint32_t{b[i]} << 8) + (i + 1 < len ? b[i + 1] : 0u);
  if (out.set.DbgMsg) LogPrint(out, "    Temp1    CheckSum = 0x%X\n", s);
  while (s >> 16) s = (s & 0xFFFF) + (s >> 16);
  const uint16_t result = static_cast<uint16_t>(~s & 0xFFFF);
  if (out.set.DbgMsg) {
    LogPrint(out, "    Temp2    CheckSum = 0x%X\n", s);
    LogPrint(out, "    Final    CheckSum = 0x%X\n", result);
  }
  return result;
}

}  // namespace pdflash
