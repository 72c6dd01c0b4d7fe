// One modelled PD controller. The core here holds the register file, the two
// run modes with the re-enumeration between them, the bus-level faults and
// the requests of its own; the part models (SPI ports, challenge) serve what
// they claim.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "sim/challenge_unit.h"
#include "sim/security_block.h"
#include "sim/sim_config.h"
#include "sim/sim_part.h"
#include "sim/spi_flash.h"
#include "sim/spi_ports.h"

namespace pdflash::sim {

// The core's registers with a meaning of their own; the parts own theirs, and
// every other address is plain memory.
namespace reg {
inline constexpr uint16_t kGpio5to8 = 0x0002;
inline constexpr uint16_t kIdentity = 0x0018;
inline constexpr uint16_t kUsbAddress = 0x0021;
inline constexpr uint16_t kExtIdHigh = 0x009C;
inline constexpr uint16_t kExtIdLow = 0x009D;
inline constexpr uint16_t kExtVersion = 0x009E;
inline constexpr uint16_t kOrientation = 0x1005;
inline constexpr uint16_t kLed = 0x2A16;
inline constexpr uint16_t kUfpStatusLow = 0x2CF2;
inline constexpr uint16_t kUfpStatusHigh = 0x2CF3;
}  // namespace reg

class SimDevice final : private PartHost {
 public:
  // `challenge_set` is the client's coefficient set (unused without a client).
  SimDevice(Clock& clock, const DeviceConfig& config, const ChallengeCoefficients& challenge_set);
  SimDevice(const SimDevice&) = delete;
  SimDevice& operator=(const SimDevice&) = delete;

  const DeviceConfig& Config() const { return config_; }
  Mode CurrentMode() const override { return mode_; }

  // ------------------------------------------------------------- the bus
  // On the bus now: not unplugged and not in the middle of a restart.
  bool Present();
  // Counts restarts; a handle opened before one is dead.
  uint32_t Generation() const { return generation_; }
  uint16_t Vid() const;
  uint16_t Pid() const;
  std::array<uint8_t, 18> Descriptor() const;
  // Windows-style interface path of the current identity.
  std::string Path() const;
  uint8_t BusAddress() const { return static_cast<uint8_t>(config_.UsbAddress & 0x7F); }

  // One control transfer from a handle opened at `generation`. Counts the
  // transfer, applies injected faults and runs the request.
  bool Transfer(uint32_t generation, const SetupPacket& setup, uint8_t* data);
  // Whether the next transfer fails whatever it carries (a bus-level fault or
  // a dead handle); a transport that must stall before the data stage asks.
  bool NextTransferFails(uint32_t generation);
  uint32_t TransferCount() const { return transfers_; }
  bool Unplugged() const { return unplugged_; }

  // ------------------------------------------------------------- state
  // Register value as a read would see it, without side effects.
  uint8_t PeekRegister(uint16_t address);
  // Sets plain register memory (tests, persisted state).
  void PokeRegister(uint16_t address, uint8_t value) { ram_[address] = value; }
  // Firmware version the running code reports.
  uint32_t RunningVersion() const;
  // Address of the copy the application firmware was started from, if any.
  std::optional<uint32_t> BootedCopy() const { return booted_copy_; }
  uint16_t ChallengeCounter() const { return challenge_.Counter(); }
  uint16_t CurrentChallenge() const { return challenge_.Current(); }
  // Answer the device expects for `challenge`.
  uint16_t ExpectedAnswer(uint16_t challenge) const { return challenge_.ExpectedAnswer(challenge); }
  SpiNorFlash& Flash() { return spi_.Flash(); }
  // The security block (present on identity C0 only).
  SecurityBlock* Security() { return config_.Identity == 0xC0 ? &security_ : nullptr; }
  SpiNorFlash* Flash2() { return spi_.Flash2(); }
  // The flash the vendor requests reach now (null: the port has no part).
  SpiNorFlash* SelectedFlash() { return spi_.Selected(); }
  // Bytes of every accepted I2C write command, in order.
  const std::vector<std::vector<uint8_t>>& I2cWrites() const { return i2c_writes_; }

  // Power-on: application firmware (copy the ROM finds, if any) or ROM code,
  // as device.ini says; on the bus at once.
  void PowerOn();

  // Saved between runs: register memory, challenge state, the boot record.
  StateEntries SaveState() const;
  void LoadState(const StateEntries& entries);
  // Device.ini keys that change while running (mode, flash status registers).
  void UpdateConfig(DeviceConfig& config);

 private:
  uint8_t& Memory(uint16_t address) override { return ram_[address]; }
  // Routes what `part` claims to it; two parts never claim the same thing.
  void Join(SimPart& part);
  bool Dispatch(const SetupPacket& setup, uint8_t* data);
  bool RegisterRequest(const SetupPacket& setup, uint8_t* data);
  bool VendorCommand(uint8_t code);
  uint8_t ReadRegister(uint16_t address);
  void WriteRegister(uint16_t address, uint8_t value);
  // Restart into ROM code, or into the firmware when a copy is valid.
  void Restart(bool to_rom);
  void Boot(bool to_rom);

  Clock& clock_;
  DeviceConfig config_;
  std::vector<uint8_t> ram_;
  std::vector<std::vector<uint8_t>> i2c_writes_;

  Mode mode_ = Mode::App;
  std::optional<uint32_t> booted_copy_;
  uint32_t booted_version_ = 0;
  bool rom_jump_armed_ = false;
  uint32_t generation_ = 0;
  uint64_t present_from_us_ = 0;

  uint32_t transfers_ = 0;
  bool unplugged_ = false;

  // The parts, in join order.
  SpiPorts spi_;
  ChallengeUnit challenge_;
  SecurityBlock security_;  // joined on identity C0 only
  std::vector<SimPart*> parts_;
  std::array<SimPart*, 256> request_owner_{};
  std::array<SimPart*, 256> command_owner_{};
  std::vector<SimPart*> register_owner_;
  std::vector<bool> transient_;  // registers not saved between runs
};

}  // namespace pdflash::sim
