// The hub controller's firmware image: its 32-byte headers (marker, chip
// code, CRC-8 in the last byte) and where a file keeps its version.
#pragma once

#include <cstdint>
#include <span>

#include "core/output.h"
#include "core/records.h"

namespace pdflash {

inline constexpr uint8_t kHubMarker = 0x05;
inline constexpr uint32_t kHubHeaderSize = 0x20;
inline constexpr uint32_t kHubHeader2 = 0x1000;
inline constexpr uint32_t kHubBackupHeader1 = 0x1800;
// Hub 2's headers sit one header further when two hubs share a flash.
inline constexpr uint32_t kHubSecondHubShift = 0x20;
// The most firmware the flash reader takes in.
inline constexpr uint32_t kHubFlashImageMax = 0x40000;

// Chip codes of the hub controllers the tool knows.
bool KnownHubChip(uint8_t code);

// A hub file keeps a pointer to its version: `bytes` bytes at `at`, read
// big-endian (2 bytes) or little-endian (3 bytes), plus `add` (modulo 2^32).
struct HubVersionPointer {
  uint32_t at;
  uint8_t bytes;
  uint32_t add;
};
HubVersionPointer HubFileVersionPointer(uint8_t chip);
uint32_t HubVersionPosition(const HubVersionPointer& rule, const uint8_t* pointer);

// A header counts when its CRC-8 matches and its marker byte is not 0.
bool HubHeaderValid(Output& out, const uint8_t* header, uint8_t print);

// Where a header's firmware lies: 24-bit address and length.
struct HubFirmwareSpan {
  uint32_t address;
  uint32_t length;
};
HubFirmwareSpan HubHeaderFirmware(const uint8_t* header);

// The version found in a firmware image read from the flash.
enum class HubImageVersionStatus { Ok, UnsupportedChip, OutsideImage };
struct HubImageVersion {
  HubImageVersionStatus status;
  uint32_t position;  // p, the version's image offset
  uint32_t version;   // the version at p plus the header's byte-2 nibble
  uint16_t vid, pid;  // at p-4 and p-2
};
// `image` holds the bytes read; the pointer and p-4..p+1 must lie inside it.
HubImageVersion FindHubImageVersion(std::span<const uint8_t> image, uint8_t chip,
                                    uint8_t header_byte2);

// Turns header 1 of a hub image (at least 0x1820 bytes, 0xFF at header 2's
// place) into the pair of headers the controller boots from, with a backup
// of header 1; warns about copy entries too short for the firmware. False
// (image unchanged) when refused.
bool AddHubHeader2(Output& out, uint8_t* image, std::span<const CopyEntry> copies);

}  // namespace pdflash
