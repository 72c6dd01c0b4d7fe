// Finding and opening the controller's Billboard device: the walk over the
// present interfaces, the filters, and the checks of a device that was found.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "core/records.h"
#include "device/device.h"

namespace pdflash {

using PdTable = std::array<DeviceRecord, 5>;

// Opens interface n of the present devices; 0 on success, else a status
// (no_more set when there is no interface n). A refused open of a device
// with one of the configured IDs gets a line.
uint32_t OpenDevice(Device& dev, UsbBus& bus, uint32_t n, const PdTable& pd, bool& no_more);
// Hub and port digits (1..9) of interface n; 1 when both were found.
uint32_t GetRegistryLocation(Device& dev, UsbBus& bus, uint32_t n, uint8_t& hub, uint8_t& port);

// True when vid/pid is PD record rec's controller: an application pair (not
// with rom_only; an alternative pair only when configured) or the ROM pair.
bool MatchesPdRecord(const DeviceRecord& rec, uint16_t vid, uint16_t pid, uint8_t rom_only);
// For the chips that report it, reads the cable orientation; true (after
// telling the user) when the USB-C cable must be flipped.
bool CableNeedsFlip(Device& dev);

enum class RunMode { Unknown, Application, Rom };
// What the controller runs now; Unknown when the register cannot be read.
RunMode ReadRunMode(Device& dev, bool echo = false);
// The 16-bit UFP status.
uint32_t ReadUfpStatus(Device& dev);

// The walk over the first 20 interfaces the bus lists. Each one that opens
// gets the loop lines; `ours` decides from its IDs whether it is a target
// (others get "Not_Our_billboard" and are closed); `found` runs for a target
// after "Found Target Device" and returns false to end the walk.
struct Walk {
  std::function<bool(uint32_t n, const DescriptorIds& ids)> ours;
  std::function<bool(uint32_t n, const DescriptorIds& ids)> found;
};
enum class WalkEnd { Stopped, NoMoreDevices, Limit };
WalkEnd WalkDevices(Device& dev, UsbBus& bus, const RunSettings& s, const PdTable& pd,
                    const Walk& walk);

}  // namespace pdflash
