// The security IC's engines, driven register by register: ECC over P-256
// with arithmetic modulo the group order, SHA-256 over host-padded blocks,
// the TRNG, and the commands that start the block's own firmware. The host
// computes no cryptography; it loads operands, starts, polls and reads.
//
// Big numbers are 32 bytes, most significant first. A value whose first two
// bytes are zero counts as empty: still to be produced, or missing.
#pragma once

#include <cstdint>
#include <string>

#include "device/device.h"

namespace pdflash {

namespace reg {
inline constexpr uint16_t kEccA = 0x0900;
inline constexpr uint16_t kEccB = 0x0920;
inline constexpr uint16_t kEccC = 0x0940;
inline constexpr uint16_t kEccD = 0x0960;
inline constexpr uint16_t kFwVerifyStatus = 0x0980;  // bit 0: the firmware found it valid
inline constexpr uint16_t kEccCommand = 0x0990;
inline constexpr uint16_t kEccStatus = 0x0995;  // bit 0: ready
inline constexpr uint16_t kEccResultX = 0x09C0;
inline constexpr uint16_t kEccResultY = 0x09E0;
inline constexpr uint16_t kShaBlockLow = 0x0A00;
inline constexpr uint16_t kShaBlockHigh = 0x0A20;
inline constexpr uint16_t kShaDigest = 0x0A40;
inline constexpr uint16_t kShaControl = 0x0A60;  // bit 2: done
inline constexpr uint16_t kTrngTrigger = 0x0A61;
inline constexpr uint16_t kEngineEnable = 0x0A62;  // bit 0 ECC, 1 SHA-256, 2 TRNG
inline constexpr uint16_t kTrngTop = 0x0A67;       // output 0x0A64-0x0A67, read downwards
// The firmware's own verification values, 32 bytes each.
inline constexpr uint16_t kFwVerifyTrace = 0x2DA0;
}  // namespace reg

// The security-block commands: wValue of a 0xE0 out transfer.
namespace scy {
inline constexpr uint16_t kSha256Set = 0x0007;
inline constexpr uint16_t kSha256Exe = 0x0008;
inline constexpr uint16_t kEcdsaSign = 0x0009;
inline constexpr uint16_t kEcdsaVerify = 0x000A;
inline constexpr uint16_t kShaChallenge = 0x000B;
inline constexpr uint16_t kScyUpdate = 0x000C;
}  // namespace scy

inline constexpr uint32_t kShaBufferSize = 0x100000;

// The generator of P-256, x then y.
extern const uint8_t kP256G[64];
// The order n of that generator.
extern const uint8_t kP256N[32];

inline bool IsEmptyValue(const uint8_t* v) {
  return v[0] == 0 && v[1] == 0;
}

// The file a missing digest is hashed from: the HashFilePath setting,
// resolved in the run's folder.
struct HashFile {
  std::string folder;
  std::string name;
};

uint32_t EccEngineInit(Device& dev, bool print);
uint32_t EccPointMult(Device& dev, const uint8_t* px, const uint8_t* py, const uint8_t* k,
                      uint8_t* x, uint8_t* y, bool print);
uint32_t EccPointAdd(Device& dev, const uint8_t* px, const uint8_t* py, const uint8_t* qx,
                     const uint8_t* qy, uint8_t* x, uint8_t* y, bool print);
uint32_t ModAdd(Device& dev, const uint8_t* a, const uint8_t* b, uint8_t* out, bool print);
uint32_t ModSub(Device& dev, const uint8_t* a, const uint8_t* b, uint8_t* out, bool print);
uint32_t ModInv(Device& dev, const uint8_t* a, uint8_t* out, bool print);
uint32_t ModMult(Device& dev, const uint8_t* a, const uint8_t* b, uint8_t* out, bool print);

// digest and k are produced when empty (from the hash file and the TRNG).
uint32_t EcdsaSignP256(Device& dev, const HashFile& file, uint8_t* digest, const uint8_t* d,
                       uint8_t* k, uint8_t* r, uint8_t* s, bool print);
// 1 when (r, s) is valid for the digest and the 64-byte key x|y.
uint32_t EcdsaVerifyP256(Device& dev, const HashFile& file, uint8_t* digest, const uint8_t* q,
                         const uint8_t* r, const uint8_t* s, bool print);

uint32_t GetTrng(Device& dev, uint8_t* out, uint32_t count, bool print);

uint32_t Sha256Initial(Device& dev, bool print);
uint32_t Sha256Update(Device& dev, const uint8_t* block, bool print);
// Pads in a zeroed 1 MiB buffer the way the standard prescribes and feeds the engine.
uint32_t Sha256FromBuffer(Device& dev, const uint8_t* data, uint64_t bits, uint8_t* digest,
                          bool print);
uint32_t Sha256FromBinFile(Device& dev, const HashFile& file, uint8_t* digest);

// The length after padding n message bytes.
uint64_t Sha256PaddedLength(uint64_t n);

// The firmware commands; each only starts the work, the caller polls.
uint32_t CallSha256Set(Device& dev, const uint8_t* payload, uint32_t length, bool print);
uint32_t CallSha256Exe(Device& dev, const uint8_t* payload, uint32_t length, bool print);
uint32_t CallEcdsaSign(Device& dev, const uint8_t* payload, uint32_t length, bool print);
uint32_t CallEcdsaVerify(Device& dev, const uint8_t* payload, uint32_t length, bool print);
uint32_t CallShaChallenge(Device& dev, const uint8_t* payload, uint32_t length, bool print);
uint32_t CallScyUpdate(Device& dev, const uint8_t* payload, uint32_t length, bool print);

}  // namespace pdflash
