// What the tool knows of each PD controller chip, as data: one row per chip
// code, read by discovery, the firmware-file check, the backup, the version
// readers and the second-SPI and security functions.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace pdflash {

struct Controller {
  uint16_t chip;                    // chip code, the upper half of the project ID
  std::array<uint8_t, 3> identity;  // identity register values (0xFF = unused slot)
  uint8_t ext_high, ext_low;        // extended identity bytes (0 = none)
  uint8_t fid_a, fid_b;             // firmware file IDs it accepts (0 = none)
  uint32_t image_size;              // its firmware image size (0 = no firmware known)
  // Image size a backup judges when the current PID is this chip code.
  uint32_t backup_size;
  // Application firmware answers the flash requests; on the others the
  // flash is read through the register-driven SPI master.
  bool app_serves_flash;
  bool second_spi;   // port select register, a second flash
  bool security_ic;  // the ZIRUR block
  // The ROM ID that marks this board keeps copy 2 low (0x028000) for the
  // formal-version scan.
  bool low_second_copy;
  // Restarting into application firmware ("/RESET0") is not possible.
  bool no_reset_to_firmware;
};

std::span<const Controller> Controllers();

// The row of a chip code, or of a PID that equals one; null when unknown.
const Controller* ControllerByChip(uint16_t chip);

// Project ID of an identity register value (0 when unknown); 0xFF means the
// extended identity applies, see ProjectIdFromExtended.
uint32_t ProjectIdFromIdentity(uint8_t identity, bool& known);
uint32_t ProjectIdFromExtended(uint8_t high, uint8_t low, uint8_t version);

// Traits of an identity register's family (its high nibble).
// Jumps to ROM code with the one direct command instead of prepare + restart.
bool FamilyJumpsDirectly(uint8_t identity);
// Reports the USB-C cable orientation.
bool FamilyReportsOrientation(uint8_t identity);

// Whether the chip of a chip code, or of an identity register value, carries
// the security IC.
bool ChipHasSecurityIc(uint16_t chip);
bool IdentityHasSecurityIc(uint8_t identity);

}  // namespace pdflash
