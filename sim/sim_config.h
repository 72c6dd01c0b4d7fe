// The state directory of the virtual device: device.ini with one section per
// device, the flash images and the saved registers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pdflash::sim {

enum class Mode { App, Rom };

// Keys of the core: identity, the USB side, the run modes and the bus faults.
struct CoreConfig {
  uint32_t Identity = 0xC0;
  uint32_t ExtIdHigh = 0, ExtIdLow = 0, ExtVersion = 0;
  uint32_t AppVID = 0x2109, AppPID = 0x0107;
  uint32_t RomVID = 0x2109, RomPID = 0x1107;
  uint32_t BcdDevice = 0x0100;
  Mode mode = Mode::App;
  uint32_t UsbAddress = 5;
  std::string Location = "Port_#0001.Hub_#0001";
  uint32_t Orientation = 1;
  uint32_t UfpStatus = 0;
  uint32_t RomVersion = 0x35000100;
  uint32_t FailTransfer = 0;
  uint32_t UnplugAtTransfer = 0;
  // Milliseconds from a restart until the device shows up again.
  uint32_t ReenumerationDelay = 1000;
};

// Keys of the SPI master and its flash ports.
struct SpiPortsConfig {
  uint32_t FlashSize = 0x80000;
  uint32_t Flash2Size = 0;
  // Non-volatile flash status registers, written back at the end.
  uint32_t FlashStatus = 0, FlashStatus2 = 0;
  uint32_t Flash2Status = 0, Flash2Status2 = 0;
  // Byte N (from 1) that the register-driven SPI master clocks in this run
  // never reports done: 0x00F1 bit 0 stays set until the next byte starts.
  uint32_t SpiMasterStall = 0;
};

// Keys of the unlock challenge.
struct ChallengeConfig {
  uint32_t ChallengeClient = 0;
};

// Keys of the security block (identity C0 only).
struct SecurityConfig {
  // SHA-256 of the trusted public key x|y, 64 hex digits; empty = any key.
  std::string ScyKeyHash;
  uint32_t ScyInstallSeconds = 5;
  // Install state register 0x2BFE at power-on.
  uint32_t ScyState = 0;
  // 1 = that engine never reports ready.
  uint32_t EccStall = 0, ShaStall = 0;
  // Hex bytes that make the random numbers repeatable; empty = truly random.
  std::string TrngSeed;
};

// One [Device], [Device2], ... section. Every number is hexadecimal in the
// file. Each part model reads only its own group of keys.
struct DeviceConfig : CoreConfig, SpiPortsConfig, ChallengeConfig, SecurityConfig {
  std::string section = "Device";
  int number = 1;  // 1 for [Device], N for [DeviceN]
};

struct KeyInfo {
  const char* name;
  const char* default_text;
  const char* meaning;
};

// Every key, in the order `pdsim init` writes them.
const std::vector<KeyInfo>& DeviceKeys();

// Sets one key from its text; false with a reason for an unknown key or a bad value.
bool SetDeviceKey(DeviceConfig& config, const std::string& key, const std::string& value,
                  std::string& error);
// The key's value as device.ini holds it.
std::string DeviceKeyText(const DeviceConfig& config, const std::string& key);

// "Device" -> 1, "Device2" -> 2; 0 for any other name.
int DeviceSectionNumber(const std::string& section);
std::string DeviceSectionName(int number);

// Parses device.ini; devices come out in enumeration order ([Device] first).
bool ParseDeviceIni(const std::string& text, std::vector<DeviceConfig>& devices,
                    std::string& error);

// Replaces KEY's value in [section] or adds the line at the end of the section,
// keeping every other line (comments, unknown keys) as it was.
void SetIniLine(std::vector<std::string>& lines, const std::string& section, const std::string& key,
                const std::string& value);
// True when [section] has a KEY= line (names compare without case).
bool HasIniKey(const std::vector<std::string>& lines, const std::string& section,
               const std::string& key);
// "KEY=value" lines of a section, in file order.
std::vector<std::pair<std::string, std::string>> IniEntries(const std::vector<std::string>& lines,
                                                            const std::string& section);
std::vector<std::string> SplitLines(const std::string& text);
std::string JoinLines(const std::vector<std::string>& lines);

// File names inside the directory.
inline constexpr const char* kDeviceIni = "device.ini";
inline constexpr const char* kStateFile = "state.ini";
std::string FlashFileName(int device_number, int flash);  // flash 1 or 2

bool ReadWholeFile(const std::string& path, std::string& out);
bool WriteWholeFile(const std::string& path, const std::string& content);
std::string JoinPath(const std::string& dir, const std::string& name);

std::string Trim(const std::string& s);
bool ParseHex(const std::string& text, uint32_t& value);
// `value` in upper-case hexadecimal, zero-padded to `digits`.
std::string HexText(uint32_t value, int digits);

}  // namespace pdflash::sim
