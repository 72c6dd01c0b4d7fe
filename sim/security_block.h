// The security block of the identity-C0 controller: an ECC engine over P-256
// with arithmetic modulo the group order, a SHA-256 engine that compresses
// the blocks the host loads, a TRNG, and the block's own firmware commands
// that hash, verify and install a signed image from the flash. The arithmetic
// is real (libgcrypt), so every signature the tool makes can be checked
// against a standard implementation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_part.h"
#include "sim/spi_ports.h"

namespace pdflash::sim {

namespace reg {
inline constexpr uint16_t kEccA = 0x0900;
inline constexpr uint16_t kEccB = 0x0920;
inline constexpr uint16_t kEccC = 0x0940;
inline constexpr uint16_t kEccD = 0x0960;
inline constexpr uint16_t kVerifyStatus = 0x0980;
inline constexpr uint16_t kEccCommand = 0x0990;
inline constexpr uint16_t kEccStatus = 0x0995;
inline constexpr uint16_t kEccResultX = 0x09C0;
inline constexpr uint16_t kEccResultY = 0x09E0;
inline constexpr uint16_t kShaBlock = 0x0A00;
inline constexpr uint16_t kShaDigest = 0x0A40;
inline constexpr uint16_t kShaControl = 0x0A60;
inline constexpr uint16_t kTrngTrigger = 0x0A61;
inline constexpr uint16_t kEngineEnable = 0x0A62;
inline constexpr uint16_t kTrngOut = 0x0A64;  // 4 bytes
inline constexpr uint16_t kInstallState = 0x2BFE;
inline constexpr uint16_t kVerifyTrace = 0x2DA0;  // 10 x 32 bytes
}  // namespace reg

// Install results in bits 0-5 of the state register once bit 7 is set.
enum class InstallCode : uint8_t {
  Ok = 0,
  BadHeader = 1,      // title, addresses or table check bytes
  DataDigest = 2,     // the data differs from the header's digest
  Signature = 3,      // the signature does not verify with the header's key
  KeyHash = 4,        // the key's hash differs from the header's or the trusted one
  CopyOutside = 5,    // a copy entry reads bytes the signature does not cover
};

// One line about the security zone of a flash image and the last install
// state, for pdsim show.
std::string DescribeSecurityZone(const std::vector<uint8_t>& flash, uint32_t install_state);

class SecurityBlock final : public SimPart {
 public:
  SecurityBlock(PartHost& host, Clock& clock, SpiPorts& spi, const SecurityConfig& config);

  PartClaims Claims() const override;
  bool RegisterCommand(uint8_t sub, uint16_t address, const SetupPacket& setup,
                       uint8_t* data) override;
  uint8_t ReadRegister(uint16_t address) override;
  void WriteRegister(uint16_t address, uint8_t value) override;
  void Restart() override;
  void SaveState(StateEntries& out) const override;
  void LoadState(const StateEntries& entries) override;

  // The install state as the next read would see it.
  uint8_t InstallState();
  // What the install of the image in the flash would answer now.
  InstallCode JudgeImage(uint32_t start, uint32_t end, uint32_t signature);

 private:
  void EccCommand(uint8_t code);
  void ShaControl(uint8_t value);
  void DrawTrng();
  void RefreshDigest();
  void HashRegion(const uint8_t* payload);
  void Verify(const uint8_t* payload);
  void Install(const uint8_t* payload);
  const std::vector<uint8_t>& FlashBytes();
  bool Enabled(uint8_t bit) { return (host_.Memory(reg::kEngineEnable) & bit) != 0; }

  Clock& clock_;
  SpiPorts& spi_;
  SecurityConfig config_;
  std::vector<uint8_t> seed_;

  uint64_t ecc_ready_at_ = 0;
  bool ecc_ready_ = false;
  uint64_t sha_ready_at_ = 0;
  bool sha_ready_ = false;
  bool sha_reset_ = false;  // 0 written, 1 completes the initialise
  std::vector<uint8_t> sha_stream_;
  bool digest_stale_ = false;
  bool trng_armed_ = false;
  uint32_t trng_draws_ = 0;

  uint64_t verify_ready_at_ = 0;
  uint8_t verify_result_ = 0;
  bool verify_pending_ = false;

  uint8_t install_state_ = 0;
  uint64_t install_done_at_ = 0;
  uint8_t install_result_ = 0;
  bool install_busy_ = false;
};

}  // namespace pdflash::sim
