#include "sim/companion_view.h"

#include <cstdarg>
#include <cstdio>

#include "core/bytes.h"
#include "sim/crc16.h"

namespace pdflash::sim {

namespace {

std::string Line(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Line(const char* fmt, ...) {
  char buf[200];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, args);
  va_end(args);
  return buf;
}

// The hub's header check (CRC-8, polynomial 0x07, init 0) and image check
// (CRC-32, polynomial 0x04C11DB7, MSB first, init 0, no final xor).
uint8_t Crc8(const uint8_t* b, size_t n) {
  unsigned c = 0;
  for (size_t i = 0; i < n; ++i) {
    c ^= b[i];
    for (int k = 0; k < 8; ++k) c = (c & 0x80) ? ((c << 1) ^ 0x07) & 0xFF : (c << 1) & 0xFF;
  }
  return static_cast<uint8_t>(c);
}

uint32_t Crc32(const uint8_t* b, size_t n) {
  uint32_t c = 0;
  for (size_t i = 0; i < n; ++i) {
    c ^= uint32_t{b[i]} << 24;
    for (int k = 0; k < 8; ++k) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
  }
  return c;
}

bool Inside(const std::vector<uint8_t>& f, uint64_t at, uint64_t n) {
  return at + n <= f.size();
}

void DescribeDp(const std::vector<uint8_t>& f, std::string& out) {
  struct Slot {
    uint32_t at, region;
  };
  for (const Slot s : {Slot{0x40000, 0x20000}, Slot{0x50000, 0x10000}, Slot{0x60000, 0x20000},
                       Slot{0x70000, 0x10000}}) {
    if (!Inside(f, s.at, 0x1010) || f[s.at] != 0x02) continue;
    uint32_t size = 0;
    for (const uint32_t n : {0x10000u, 0x20000u, 0x18000u})
      if (n <= s.region && Inside(f, s.at, n) && HasCrc16Trailer(&f[s.at], n)) {
        size = n;
        break;
      }
    const uint8_t* h = &f[s.at + 0x1003];
    if (size == 0) {
      out += Line("  DP copy at %06X: not valid\n", s.at);
      continue;
    }
    out += Line("  DP copy at %06X: %s %u KiB, valid, version %02X.%02X.%02X.%02X\n", s.at,
                size == 0x10000 ? "KMDPB" : "KMDPA", size >> 10, h[0], h[1], h[2], h[3]);
  }
}

// The version a hub image keeps, found through its chip's pointer.
std::string HubImageVersion(const std::vector<uint8_t>& f, uint32_t at, uint32_t len,
                            uint8_t chip) {
  if (len < 8 || len % 4 != 0 || !Inside(f, at, len)) return "firmware outside the flash";
  const uint8_t* img = &f[at];
  if (Crc32(img, len - 4) != Le32(img + len - 4)) return "firmware CRC-32 wrong";
  uint64_t p = 0;
  if ((chip == 0x18 || chip == 0x95) && len > 0x601A)
    p = uint64_t{img[0x6018]} << 8 | img[0x6019], p += 0x0D;
  else if ((chip == 0x38 || chip == 0x45 || chip == 0x90) && len > 0x6002)
    p = uint64_t{img[0x6000]} << 8 | img[0x6001], p += 0x04;
  else if ((chip == 0x66 || chip == 0x8C || chip == 0x98) && len > 0x1F83)
    p = uint32_t(Le24(img + 0x1F80) - 0x1FFFCu);
  else
    return "no version pointer";
  if (p < 4 || p + 2 > len) return "version pointer outside the firmware";
  return Line("version %04X", Le16(img + p));
}

void DescribeHeader(const std::vector<uint8_t>& f, const char* name, uint32_t at, int fw,
                    std::string& out) {
  if (!Inside(f, at, 32)) return;
  const uint8_t* h = &f[at];
  if (h[0] != 0x05) return;
  const bool valid = Crc8(h, 31) == h[31];
  const uint32_t a = uint32_t{h[0x0C]} << 16 | uint32_t{h[0x04]} << 8 | h[0x05];
  const uint32_t n = uint32_t{h[0x0D]} << 16 | uint32_t{h[0x06]} << 8 | h[0x07];
  out += Line("  hub %s at %04X: %s, chip %02X, firmware %d at %06X length %X", name, at,
              valid ? "valid" : "CRC-8 wrong", h[1], fw, a, n);
  out += ", " + (valid ? HubImageVersion(f, a, n, h[1]) : std::string("not read")) + "\n";
}

void DescribeHub(const std::vector<uint8_t>& f, std::string& out) {
  DescribeHeader(f, "header 1", 0x0000, 1, out);
  const uint32_t hd2 = f.size() > 0x1D && f[0] == 0x05 && f[0x1D] != 0xFF ? f[0x1D] * 32u : 0x1000;
  DescribeHeader(f, "header 2", hd2, 2, out);
  DescribeHeader(f, "backup header 1", 0x1800, 1, out);
}

void DescribeVmm6(const std::vector<uint8_t>& f, std::string& out) {
  for (const uint32_t bank : {0u, 1u}) {
    const uint32_t at = 0x100000 + bank * 0x50000;
    if (!Inside(f, at, 0x50000)) return;
    const uint8_t f0 = f[at + 0x4FFF0], f1 = f[at + 0x4FFF1];
    // An erased bank with no flag is no bank at all.
    if (f0 == 0xFF && f1 == 0xFF && f[at + 0x4000] == 0xFF) continue;
    const bool valid = f0 != 0x00 && f0 != 0xFF && f1 != 0x00 && f1 != 0xFF;
    out += Line("  VMM6 bank %u at %06X: flags %02X %02X, %s, version %d.%02d.%03d v%02d\n", bank,
                at, f0, f1, valid ? "valid" : "not valid", f[at + 0x4000], f[at + 0x4001],
                f[at + 0x4002], f[at + 0x200]);
  }
}

}  // namespace

std::string DescribeCompanions(const std::vector<uint8_t>& flash) {
  std::string out;
  DescribeDp(flash, out);
  DescribeHub(flash, out);
  DescribeVmm6(flash, out);
  return out;
}

}  // namespace pdflash::sim
