// One modelled PD controller: its register file, its two run modes with the
// re-enumeration between them, the unlock challenge, the register-driven SPI
// master and the vendor requests that reach its SPI flash.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/challenge.h"
#include "platform/platform.h"
#include "sim/sim_config.h"
#include "sim/spi_flash.h"

namespace pdflash::sim {

// Registers with a meaning of their own; every other address is plain memory.
namespace reg {
inline constexpr uint16_t kGpio5to8 = 0x0002;
inline constexpr uint16_t kIdentity = 0x0018;
inline constexpr uint16_t kUsbAddress = 0x0021;
inline constexpr uint16_t kExtIdHigh = 0x009C;
inline constexpr uint16_t kExtIdLow = 0x009D;
inline constexpr uint16_t kExtVersion = 0x009E;
inline constexpr uint16_t kSpiStart = 0x00F0;  // bit 2 starts one byte
inline constexpr uint16_t kSpiBusy = 0x00F1;   // bit 0 while a byte moves
inline constexpr uint16_t kSpiMode = 0x00F5;   // bit 6 chip select, bit 7 direction out
inline constexpr uint16_t kSpiData = 0x00F6;
inline constexpr uint16_t kSpiControl = 0x00F7;  // bit 0 enable; bit 7 application firmware runs
inline constexpr uint16_t kOrientation = 0x1005;
inline constexpr uint16_t kLed = 0x2A16;
inline constexpr uint16_t kSpiPortSelect = 0x2BFD;
inline constexpr uint16_t kUfpStatusLow = 0x2CF2;
inline constexpr uint16_t kUfpStatusHigh = 0x2CF3;
}  // namespace reg

class SimDevice {
 public:
  // `challenge_set` is the client's coefficient set (unused without a client).
  SimDevice(Clock& clock, const DeviceConfig& config, const CoefficientSet& challenge_set);

  const DeviceConfig& Config() const { return config_; }
  Mode CurrentMode() const { return mode_; }

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
  uint16_t ChallengeCounter() const { return challenge_counter_; }
  uint16_t CurrentChallenge() const { return challenge_; }
  // Answer the device expects for `challenge`.
  uint16_t ExpectedAnswer(uint16_t challenge) const;
  SpiNorFlash& Flash() { return *flash_; }
  SpiNorFlash* Flash2() { return flash2_.get(); }
  // The flash the vendor requests reach now (null: the port has no part).
  SpiNorFlash* SelectedFlash();
  // Bytes of every accepted I2C write command, in order.
  const std::vector<std::vector<uint8_t>>& I2cWrites() const { return i2c_writes_; }

  // Power-on: application firmware (copy the ROM finds, if any) or ROM code,
  // as device.ini says; on the bus at once.
  void PowerOn();

  // Saved between runs: register memory, challenge state, the boot record.
  std::vector<std::pair<std::string, std::string>> SaveState() const;
  void LoadState(const std::vector<std::pair<std::string, std::string>>& entries);
  // Device.ini keys that change while running (mode, flash status registers).
  void UpdateConfig(DeviceConfig& config);

 private:
  bool Dispatch(const SetupPacket& setup, uint8_t* data);
  bool RegisterRequest(const SetupPacket& setup, uint8_t* data);
  bool ChallengeRequest(uint8_t sub, const SetupPacket& setup, uint8_t* data);
  bool FlashRequest(const SetupPacket& setup, uint8_t* data);
  bool VendorCommand(uint8_t code);
  uint8_t ReadRegister(uint16_t address);
  void WriteRegister(uint16_t address, uint8_t value);
  void SpiMasterByte();
  void SpiMasterChipSelect(bool low);
  // Restart into ROM code, or into the firmware when a copy is valid.
  void Restart(bool to_rom);
  void Boot(bool to_rom);
  void ResetVolatile();
  void NextChallenge();

  Clock& clock_;
  DeviceConfig config_;
  CoefficientSet set_;
  std::unique_ptr<SpiNorFlash> flash_;
  std::unique_ptr<SpiNorFlash> flash2_;
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

  uint16_t challenge_ = 0;
  uint16_t challenge_counter_ = 0;
  uint32_t challenge_seed_ = 0;

  SpiNorFlash* master_flash_ = nullptr;  // part under the register master's chip select
  bool master_cs_ = false;
  uint64_t master_busy_until_ = 0;
  uint32_t master_bytes_ = 0;  // clocked in this run
};

}  // namespace pdflash::sim
