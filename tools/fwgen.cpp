#include "tools/fwgen.h"

#include <cstdio>
#include <cstring>

#include "core/bytes.h"
#include "image/checksum.h"

namespace pdflash::fwgen {

namespace {

constexpr uint8_t kFormalSignature[4] = {0x66, 0x6D, 0xAB, 0x56};

// Deterministic filler that never holds 0xFF, so blank-looking runs and
// 0xFF-based family checks only ever see what the layout put there.
void Fill(std::vector<uint8_t>& b, uint32_t seed) {
  uint32_t x = seed * 2654435761u + 0x9E3779B9u;
  if (x == 0) x = 1;
  for (auto& byte : b) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    byte = static_cast<uint8_t>((x >> 8) % 0xFF);
  }
}

struct HeaderFields {
  uint32_t size, version;
  uint16_t vid, pid, vid2;
  std::optional<uint32_t> flag, formal;
  uint32_t formal_offset, seed;
};

// True when a shorter image size that a reader tries first would also pass
// its CRC check, which would make the reader take the wrong size.
bool FalseTrailer(const std::vector<uint8_t>& b) {
  for (uint32_t n : {0x8000u, 0xC000u, 0xC800u, 0x10000u, 0x18000u})
    if (n < b.size() && Crc16Trailer(b.data(), n)) return true;
  return false;
}

// PD and DP images share one header layout.
std::vector<uint8_t> MakeHeaderImage(const HeaderFields& f) {
  if (f.size < 0x4100) return {};
  std::vector<uint8_t> b(f.size);
  Fill(b, f.seed);
  // Keep the formal-version search windows free of filler.
  std::memset(b.data() + 0x1000, 0, 0x40);
  std::memset(b.data() + 0x4000, 0, 0x40);
  b[0] = 0x02;
  PutBe32(&b[0x1003], f.version);
  PutLe16(&b[0x1007], f.vid);
  PutLe16(&b[0x1009], f.pid);
  PutLe16(&b[0x100D], f.vid2);
  if (f.flag) {
    PutBe32(&b[0x101B], *f.flag);
    std::memcpy(&b[0x101F], "FLAG", 4);
  }
  if (f.formal) {
    if (f.formal_offset + 8 > f.size) return {};
    PutBe32(&b[f.formal_offset], *f.formal);
    std::memcpy(&b[f.formal_offset + 4], kFormalSignature, 4);
  }
  // Erased-flash padding before the CRC, as a linker-padded image has.
  std::memset(b.data() + f.size - 0x102, 0xFF, 0x100);
  // A salt byte in the filler is turned until the CRC holds no 0xFF byte and
  // no shorter size reads as a complete image.
  for (uint32_t salt = 0; salt < 0x100; ++salt) {
    b[0x10] = static_cast<uint8_t>(salt);
    StampCrc16(b.data(), f.size);
    if (b[f.size - 2] != 0xFF && b[f.size - 1] != 0xFF && !FalseTrailer(b)) break;
  }
  return b;
}

void PutHubHeaderCrc(uint8_t* h) {
  h[0x1F] = Crc8(h, 0x1F);
}

}  // namespace

std::vector<uint8_t> MakePdFirmware(const PdFirmwareParams& s) {
  return MakeHeaderImage(
      {s.size, s.version, s.vid, s.pid, s.vid2, s.flag, s.formal_version, s.formal_offset, s.seed});
}

std::vector<uint8_t> MakeDpFirmware(const DpFirmwareParams& s) {
  return MakeHeaderImage({s.size, s.version, s.vid, s.pid, s.vid2, std::nullopt, s.formal_version,
                          s.formal_offset, s.seed});
}

std::vector<uint8_t> MakeHubHeader(const HubFirmwareParams& s) {
  std::vector<uint8_t> h(32, 0x00);
  h[0x00] = 0x05;
  h[0x01] = s.chip;
  h[0x02] = s.header_byte2;
  // Firmware 1 right after the header area; address and length as 24 bits.
  h[0x04] = static_cast<uint8_t>(kHubImageStart >> 8);
  h[0x05] = static_cast<uint8_t>(kHubImageStart);
  h[0x0C] = static_cast<uint8_t>(kHubImageStart >> 16);
  h[0x06] = static_cast<uint8_t>(s.image_size >> 8);
  h[0x07] = static_cast<uint8_t>(s.image_size);
  h[0x0D] = static_cast<uint8_t>(s.image_size >> 16);
  h[0x1C] = 0xFF;
  h[0x1D] = s.header2 ? 0x80 : 0xFF;
  h[0x1E] = 0xFF;
  PutHubHeaderCrc(h.data());
  return h;
}

std::vector<uint8_t> MakeHubFirmware(const HubFirmwareParams& s) {
  const uint32_t p = s.version_pos;
  if (s.image_size % 4 != 0 || s.image_size < 0x6020 || p < 4 || p + 2 > s.image_size - 4)
    return {};
  std::vector<uint8_t> image(s.image_size);
  Fill(image, s.seed);
  uint32_t ptr_at = 0, ptr_len = 0;
  switch (s.chip) {
    case 0x18:
    case 0x95:
      if (p < 0x0D || p - 0x0D > 0xFFFF) return {};
      ptr_at = 0x6018, ptr_len = 2;
      PutBe16(&image[ptr_at], static_cast<uint16_t>(p - 0x0D));
      break;
    case 0x38:
    case 0x45:
    case 0x90:
      if (p - 4 > 0xFFFF) return {};
      ptr_at = 0x6000, ptr_len = 2;
      PutBe16(&image[ptr_at], static_cast<uint16_t>(p - 4));
      break;
    case 0x66:
    case 0x8C:
    case 0x98: {
      ptr_at = 0x1F80, ptr_len = 3;
      const uint32_t ptr = p + 0x1FFFC;
      image[ptr_at] = static_cast<uint8_t>(ptr);
      image[ptr_at + 1] = static_cast<uint8_t>(ptr >> 8);
      image[ptr_at + 2] = static_cast<uint8_t>(ptr >> 16);
      break;
    }
    default:
      return {};
  }
  if (p - 4 < ptr_at + ptr_len && ptr_at < p + 2) return {};  // fields would overlap
  PutLe16(&image[p - 4], s.vid);
  PutLe16(&image[p - 2], s.pid);
  PutLe16(&image[p], s.version);
  PutLe32(&image[s.image_size - 4], Crc32(image.data(), s.image_size - 4));

  const std::vector<uint8_t> hd1 = MakeHubHeader(s);
  const uint32_t fw2 = s.chip == 0x66 ? 0x60000 : 0x10000;
  if (s.header2 && s.image_size > fw2 - kHubImageStart) return {};
  std::vector<uint8_t> file((s.header2 ? fw2 : kHubImageStart) + s.image_size, 0xFF);
  std::memcpy(file.data(), hd1.data(), hd1.size());
  if (s.backup_header) std::memcpy(&file[0x1800], hd1.data(), hd1.size());
  std::memcpy(&file[kHubImageStart], image.data(), image.size());
  if (s.header2) {
    uint8_t* hd2 = &file[0x1000];
    std::memcpy(hd2, hd1.data(), hd1.size());
    hd2[0x0C] = static_cast<uint8_t>(fw2 >> 16);
    hd2[0x04] = 0x00;
    hd2[0x05] = 0x00;
    hd2[0x1C] = 0x00;
    hd2[0x1D] = 0xFF;
    PutHubHeaderCrc(hd2);
    std::memcpy(&file[fw2], image.data(), image.size());
  }
  return file;
}

std::vector<uint8_t> MakeVmm6Firmware(const Vmm6FirmwareParams& s) {
  if (s.size < 0x4FFF2) return {};
  std::vector<uint8_t> b(s.size);
  Fill(b, s.seed);
  b[0x0200] = s.d;
  b[0x4000] = s.a;
  b[0x4001] = s.b;
  b[0x4002] = s.c;
  b[0x4FFF0] = s.flag0;
  b[0x4FFF1] = s.flag1;
  return b;
}

std::vector<ExampleFile> ExampleSet() {
  std::vector<ExampleFile> set;
  auto pd = [&](const char* name, uint32_t size, uint32_t version, uint16_t pid, const char* what,
                std::optional<uint32_t> formal = std::nullopt,
                std::optional<uint32_t> flag = std::nullopt) {
    PdFirmwareParams s;
    s.size = size;
    s.version = version;
    s.pid = pid;
    s.formal_version = formal;
    s.flag = flag;
    s.seed = version;
    set.push_back({name, MakePdFirmware(s), what});
  };
  pd("pd_32k_v0D010100.bin", 0x8000, 0x0D010100, 0x0106,
     "PD firmware 0D.01.01.00, 32 KiB, chip 0x0106");
  pd("pd_48k_v0B010100.bin", 0xC000, 0x0B010100, 0x0104,
     "PD firmware 0B.01.01.00, 48 KiB, chip 0x0104");
  pd("pd_50k_v0E010100.bin", 0xC800, 0x0E010100, 0x0107,
     "PD firmware 0E.01.01.00, 50 KiB, chip 0x0107", 0x01000000u);
  pd("pd_50k_v0E010200.bin", 0xC800, 0x0E010200, 0x0107,
     "PD firmware 0E.01.02.00, 50 KiB, chip 0x0107", 0x01010000u);
  pd("pd_64k_vA1010100.bin", 0x10000, 0xA1010100, 0x0108,
     "PD firmware A1.01.01.00, 64 KiB, chip 0x0108", std::nullopt, 0x00000001u);

  DpFirmwareParams dp64;
  dp64.size = 0x10000;
  dp64.version = 0x05010100;
  set.push_back({"dp_64k.bin", MakeDpFirmware(dp64), "DP converter firmware 05.01.01.00, 64 KiB"});
  DpFirmwareParams dp96;
  dp96.size = 0x18000;
  dp96.version = 0x06010000;
  dp96.seed = 5;
  set.push_back({"dp_96k.bin", MakeDpFirmware(dp96), "DP converter firmware 06.01.00.00, 96 KiB"});
  DpFirmwareParams dp128;
  dp128.size = 0x20000;
  dp128.version = 0x06010100;
  dp128.seed = 6;
  set.push_back(
      {"dp_128k.bin", MakeDpFirmware(dp128), "DP converter firmware 06.01.01.00, 128 KiB"});

  HubFirmwareParams hub;
  hub.version = 0x0102;
  set.push_back({"hub.bin", MakeHubFirmware(hub), "hub firmware 0102, chip 0x90"});
  HubFirmwareParams dual;
  dual.version = 0x0103;
  dual.header2 = true;
  set.push_back({"hub_dual.bin", MakeHubFirmware(dual),
                 "hub firmware 0103, chip 0x90, header 2 and firmware 2 at 0x10000"});

  Vmm6FirmwareParams vmm;
  set.push_back({"vmm6.bin", MakeVmm6Firmware(vmm), "VMM6 firmware 1.02.003 v04"});
  return set;
}

bool WriteFirmware(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace pdflash::fwgen
