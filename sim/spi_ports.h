// The controller's SPI side: two flash ports behind a port select, the vendor
// requests that run one flash command each, and the register-driven SPI
// master that clocks single bytes.
#pragma once

#include <cstdint>
#include <memory>

#include "sim/sim_part.h"
#include "sim/spi_flash.h"

namespace pdflash::sim {

namespace reg {
inline constexpr uint16_t kSpiStart = 0x00F0;  // bit 2 starts one byte
inline constexpr uint16_t kSpiBusy = 0x00F1;   // bit 0 while a byte moves
inline constexpr uint16_t kSpiMode = 0x00F5;   // bit 6 chip select, bit 7 direction out
inline constexpr uint16_t kSpiData = 0x00F6;
inline constexpr uint16_t kSpiControl = 0x00F7;     // bit 0 enable; bit 7 application firmware runs
inline constexpr uint16_t kSpiPortSelect = 0x2BFD;  // bit 0: second port (identity C0)
}  // namespace reg

class SpiPorts final : public SimPart {
 public:
  // `identity` decides whether the port select exists and whether the
  // application firmware serves flash requests.
  SpiPorts(PartHost& host, Clock& clock, const SpiPortsConfig& config, uint32_t identity);

  SpiNorFlash& Flash() { return *flash_; }
  SpiNorFlash* Flash2() { return flash2_.get(); }
  // The part the next transaction reaches (null: the port is empty).
  SpiNorFlash* Selected();

  PartClaims Claims() const override;
  bool Request(const SetupPacket& setup, uint8_t* data) override;
  uint8_t ReadRegister(uint16_t address) override;
  void WriteRegister(uint16_t address, uint8_t value) override;
  void Restart() override;
  void SaveState(StateEntries& out) const override;
  void LoadState(const StateEntries& entries) override;
  void UpdateConfig(DeviceConfig& config) const override;

 private:
  void MasterChipSelect(bool low);
  void MasterByte();

  Clock& clock_;
  SpiPortsConfig config_;
  uint32_t identity_;
  std::unique_ptr<SpiNorFlash> flash_;
  std::unique_ptr<SpiNorFlash> flash2_;

  SpiNorFlash* master_flash_ = nullptr;  // part under the master's chip select
  bool master_cs_ = false;
  uint64_t master_busy_until_ = 0;
  uint32_t master_bytes_ = 0;  // clocked in this run
};

}  // namespace pdflash::sim
