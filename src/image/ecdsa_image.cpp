#include "image/ecdsa_image.h"

#include <cstring>

#include "core/bytes.h"

namespace pdflash {

namespace {

uint8_t Bcd(int v) {
  return static_cast<uint8_t>((v / 10 % 10) << 4 | v % 10);
}

uint32_t Be24(const uint8_t* p) {
  return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
}

}  // namespace

uint8_t EcdsaCheckByte(const uint8_t* entry) {
  uint8_t sum = 0;
  for (int i = 0; i < 15; ++i) sum = static_cast<uint8_t>(sum + entry[i]);
  return static_cast<uint8_t>(0xFF - sum);
}

void PutEcdsaEntry(uint8_t* entry, uint32_t a, uint32_t b, uint32_t c) {
  std::memset(entry, 0, 16);
  PutBe32(entry, a);
  PutBe32(entry + 4, b);
  PutBe32(entry + 8, c);
  entry[15] = EcdsaCheckByte(entry);
}

void StartEcdsaHeader(uint8_t* h, uint32_t data_length, const LocalTime& date, const uint8_t* r,
                      const uint8_t* s) {
  std::memset(h, 0, kEcdsaHeaderSize);
  std::memcpy(h, kEcdsaTitle, 16);
  PutBe32(h + ecdsa::kStart, kEcdsaDataFlash);
  PutBe32(h + ecdsa::kEnd, kEcdsaDataFlash + data_length);
  PutBe32(h + ecdsa::kSignatureAt, kEcdsaSignatureFlash);
  h[ecdsa::kDate] = Bcd(date.year / 100);
  h[ecdsa::kDate + 1] = Bcd(date.year % 100);
  h[ecdsa::kDate + 2] = Bcd(date.month);
  h[ecdsa::kDate + 3] = Bcd(date.day);
  std::memcpy(h + ecdsa::kR, r, 32);
  std::memcpy(h + ecdsa::kS, s, 32);
}

CopyJudgement JudgeCopySource(uint32_t from, uint32_t length, std::span<const EcdsaBlock> blocks) {
  CopyJudgement j;
  j.below_first = !blocks.empty() && from < blocks[0].start;
  for (size_t b = 0; b < blocks.size(); ++b) {
    const uint64_t end = uint64_t{blocks[b].start} + blocks[b].length;
    if (blocks[b].start <= from && from < end) {
      j.found = true;
      j.block = static_cast<int>(b);
      j.overlaps = uint64_t{from} + length > end;
      break;
    }
  }
  return j;
}

void EcdsaRegionDescriptor(uint32_t start, uint32_t end, uint32_t signature, uint8_t* out) {
  std::memset(out, 0, 32);
  PutBe32(out, start);
  PutBe32(out + 4, end);
  PutBe32(out + 8, signature);
}

EcdsaHeaderCheck CheckEcdsaHeader(const uint8_t* h) {
  EcdsaHeaderCheck c;
  c.title = std::memcmp(h, kEcdsaTitle, 16) == 0;
  c.start = Be24(h + ecdsa::kStart + 1) == kEcdsaDataFlash;
  c.signature = Be24(h + ecdsa::kSignatureAt + 1) == kEcdsaSignatureFlash;
  c.end = Be24(h + ecdsa::kEnd + 1);
  return c;
}

}  // namespace pdflash
