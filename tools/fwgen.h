// Example firmware files in the formats the tool reads: PD controller, DP
// converter, hub and VMM6 images with correct markers, IDs, versions and
// checksums, filled with deterministic bytes. Used by the tests and the demo.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pdflash::fwgen {

// PD controller (and DP converter) image: marker 0x02, version big-endian at
// 0x1003 (its first byte is also the FID), IDs at 0x1007/0x1009/0x100D, CRC-16
// in the last two bytes.
struct PdFirmwareParams {
  uint32_t size = 0xC800;
  uint32_t version = 0x0E010100;
  uint16_t vid = 0x2109;
  uint16_t pid = 0x0107;
  uint16_t vid2 = 0x0000;
  std::optional<uint32_t> flag;            // flag word at 0x101B with "FLAG" at 0x101F
  std::optional<uint32_t> formal_version;  // followed by its signature
  uint32_t formal_offset = 0x1028;         // where the formal version's four bytes go
  uint32_t seed = 1;                       // filler
};
std::vector<uint8_t> MakePdFirmware(const PdFirmwareParams& params);

// DP converter image: same header as the PD image; 64 KiB (KMDPB), 96 or
// 128 KiB (KMDPA). The image ends in 0xFF padding before its CRC, whose bytes
// are never 0xFF, so the family can be told from the flash.
struct DpFirmwareParams {
  uint32_t size = 0x10000;
  uint32_t version = 0x05010100;
  uint16_t vid = 0x2109;
  uint16_t pid = 0x0605;
  uint16_t vid2 = 0x0000;
  std::optional<uint32_t> formal_version;
  uint32_t formal_offset = 0x1028;
  uint32_t seed = 2;
};
std::vector<uint8_t> MakeDpFirmware(const DpFirmwareParams& params);

// Hub firmware file: header 1 at 0 (CRC-8 in byte 0x1F), blank up to the
// image at 0x2000, the image ending in its CRC-32 (little-endian). The version
// (low byte first) sits at position p of the image with VID at p-4 and PID at
// p-2; the pointer to p is where the chip code says.
struct HubFirmwareParams {
  uint8_t chip = 0x90;          // 0x18 0x38 0x45 0x66 0x8C 0x90 0x95 0x98
  uint16_t version = 0x1234;    // as stored at p
  uint8_t header_byte2 = 0x00;  // bits 7-4 combine with the version's low byte
  uint16_t vid = 0x2109;
  uint16_t pid = 0x2817;
  uint32_t image_size = 0x8000;   // multiple of 4, holds the pointers (> 0x6020)
  uint32_t version_pos = 0x6104;  // p, an image offset
  bool backup_header = true;      // copy of header 1 at 0x1800
  bool header2 = false;           // header 2 at 0x1000 and firmware 2 at 0x10000 (0x60000 for 0x66)
  uint32_t seed = 3;
};
inline constexpr uint32_t kHubImageStart = 0x2000;
std::vector<uint8_t> MakeHubFirmware(const HubFirmwareParams& params);
// The 32-byte header 1 that MakeHubFirmware writes.
std::vector<uint8_t> MakeHubHeader(const HubFirmwareParams& params);

// VMM6 image: version part D at 0x200, parts A, B, C at 0x4000, bank flag
// bytes at 0x4FFF0.
struct Vmm6FirmwareParams {
  uint32_t size = 0x50000;
  uint8_t a = 1, b = 2, c = 3, d = 4;
  uint8_t flag0 = 0x5A, flag1 = 0xA5;
  uint32_t seed = 4;
};
std::vector<uint8_t> MakeVmm6Firmware(const Vmm6FirmwareParams& params);

// One file of the example set.
struct ExampleFile {
  std::string name;
  std::vector<uint8_t> bytes;
  std::string what;
};
// The fixed example set that mkfirmware writes.
std::vector<ExampleFile> ExampleSet();

bool WriteFirmware(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace pdflash::fwgen
