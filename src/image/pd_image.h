// The PD firmware image: marker, header, flag word, formal version and the
// CRC-16 trailer that tells its size. Pure parsers over bytes.
#pragma once

#include <cstdint>

namespace pdflash {

inline constexpr uint8_t kPdImageMarker = 0x02;  // first byte of every image
// Version (big-endian), then VID, PID, and at +10 the alternative VID.
inline constexpr uint32_t kPdHeader = 0x1003;
inline constexpr uint32_t kPdHeaderBytes = 16;
// Flag word (big-endian) and its "FLAG" marker, relative to the header.
inline constexpr uint32_t kPdFlagWord = 0x18;
inline constexpr uint32_t kPdFlagMarker = 0x1C;
inline constexpr uint32_t kPdFlagBytes = 32;
// Only firmware built for the unlock challenge carries this flag.
inline constexpr uint32_t kChallengeBinFlag = 0x80000000;
// The vendor ID that challenge-enabled firmware runs under.
inline constexpr uint16_t kChallengeVid = 0x291A;
inline constexpr uint16_t kOwnVid = 0x2109;

// The sizes an image can have, in the order a reader tries them.
inline constexpr uint32_t kPdImageSizes[] = {0x8000, 0xC000, 0xC800, 0x10000};

struct PdHeader {
  uint32_t version = 0;
  uint16_t vid = 0, pid = 0, vid2 = 0;
};
// `h` holds kPdHeaderBytes from kPdHeader on.
PdHeader ParsePdHeader(const uint8_t* h);

// The flag word when `h` (kPdFlagBytes from kPdHeader on) carries one.
bool ParsePdFlag(const uint8_t* h, uint32_t& flag);

// VID = 0x2109, VID = configured, VID2 = 0x2109, VID2 = configured, or VID = VID2.
bool IdentityAccepts(uint16_t vid, uint16_t vid2, uint16_t configured);

// A formal version is four bytes followed by its signature; where it starts
// in a window of 64 bytes (56 start positions), -1 when there is none.
inline constexpr uint32_t kFormalWindow = 56;
int FindFormalVersion(const uint8_t* window);

// The first image size not above `region` whose CRC-16 trailer matches; 0 = none.
uint32_t PdImageSize(const uint8_t* image, uint32_t region);

}  // namespace pdflash
