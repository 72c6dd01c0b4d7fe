// The controller's register map and the vendor requests that reach it: the
// device vocabulary every layer above uses by name.
#pragma once

#include <cstdint>

namespace pdflash {

namespace reg {
inline constexpr uint16_t kGpio5to8 = 0x0002;   // bits 4..7 enable, 0..3 level of GPIO5..8
inline constexpr uint16_t kGpio1to4 = 0x0003;   // bits 4..7 enable, 0..3 level of GPIO1..4
inline constexpr uint16_t kGpio9to10 = 0x0009;  // bits 6..7 enable, 2..3 level of GPIO9..10
// Written before the jump to ROM code; a failed write of the last one means
// the device cannot be reached. Their meaning is the firmware's.
inline constexpr uint16_t kPreJump1 = 0x0015;
inline constexpr uint16_t kPreJump2 = 0x0019;
inline constexpr uint16_t kPreJump3 = 0x001C;
inline constexpr uint16_t kIdentity = 0x0018;
inline constexpr uint16_t kUsbAddress = 0x0021;  // bits 0..6
inline constexpr uint16_t kExtIdHigh = 0x009C;   // valid when the identity reads 0xFF
inline constexpr uint16_t kExtIdLow = 0x009D;
inline constexpr uint16_t kExtVersion = 0x009E;
// The register-driven SPI master.
inline constexpr uint16_t kSpiStart = 0x00F0;  // bit 2 starts one byte
inline constexpr uint16_t kSpiBusy = 0x00F1;   // bit 0 while a byte moves
inline constexpr uint16_t kSpiMode = 0x00F5;   // 0xC0 command, 0x40 data in, 0x00 end
inline constexpr uint16_t kSpiData = 0x00F6;
inline constexpr uint16_t kSpiControl = 0x00F7;   // bit 0 master on; bit 7 application runs
inline constexpr uint16_t kOrientation = 0x1005;  // bits 0..3: cable orientation code
inline constexpr uint16_t kLed = 0x2A16;
inline constexpr uint16_t kSpiPortSelect = 0x2BFD;  // 1 = second flash, 0 = first
inline constexpr uint16_t kScyState = 0x2BFE;       // security-IC update state
inline constexpr uint16_t kUfpStatusLow = 0x2CF2;
inline constexpr uint16_t kUfpStatusHigh = 0x2CF3;

// Bits of kSpiControl.
inline constexpr uint8_t kSpiMasterOn = 0x01;
inline constexpr uint8_t kApplicationRuns = 0x80;
}  // namespace reg

// bmRequestType of the two directions.
inline constexpr uint8_t kVendorIn = 0xC0;
inline constexpr uint8_t kVendorOut = 0x40;

namespace req {
inline constexpr uint8_t kRegister = 0xE0;   // sub-command in the low byte of wValue
inline constexpr uint8_t kFwVersion = 0xE2;  // running PD firmware version
inline constexpr uint8_t kSpiReadStatus = 0xC2;
inline constexpr uint8_t kSpiReadData = 0xC4;
inline constexpr uint8_t kTaskStatus = 0xC5;
inline constexpr uint8_t kSpiChipErase = 0xD1;
inline constexpr uint8_t kSpiSectorErase = 0xD2;
inline constexpr uint8_t kSpiCommand = 0xD4;
inline constexpr uint8_t kSpiWriteStatus = 0xD8;
inline constexpr uint8_t kSpiWriteData = 0xDC;
inline constexpr uint8_t kI2cWrite = 0xB2;
// No-data vendor commands: 0xA0 then 0xB0 jump to ROM code, 0xC0 alone on the
// families that jump directly, 0xB0 alone restarts the device.
inline constexpr uint8_t kPrepareJump = 0xA0;
inline constexpr uint8_t kRestart = 0xB0;
inline constexpr uint8_t kDirectJump = 0xC0;
}  // namespace req

// Register sub-commands; the challenge ones carry no address.
namespace sub {
inline constexpr uint8_t kRead = 0x01;
inline constexpr uint8_t kWrite = 0x02;
inline constexpr uint8_t kReadBlock = 0x03;
inline constexpr uint8_t kWriteBlock = 0x04;
inline constexpr uint8_t kReadBlockDown = 0x05;
inline constexpr uint8_t kWriteBlockDown = 0x06;
inline constexpr uint8_t kChallengeRead = 0x0D;
inline constexpr uint8_t kChallengeAnswer = 0x0E;
inline constexpr uint8_t kChallengeStatus = 0x0F;
}  // namespace sub

}  // namespace pdflash
