// The parts of the USB backends that need no USB stack: location text, error
// mapping, the access hints, descriptor packing and the Windows device-path
// rules. Every build compiles them, so both builds test them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace pdflash {

// ------------------------------------------------------------ location text
//
// Windows reports where a device is plugged in as "Port_#0001.Hub_#0002" and
// the tool's location filter reads the last digit of each number. On Linux the
// same text is made from the device's bus number and port path (the chain of
// hub port numbers from the root hub down to the device, as in sysfs "1-4.2"):
//
//   Port_# = the port of the hub the device is plugged into (last path element);
//   Hub_#  = names that hub: for a hub behind another hub, the port that hub is
//            itself plugged into (the element before the last); for a root-hub
//            port, the bus number.
//
// Both numbers depend only on the cabling, not on the order in which devices
// appeared, so WinLocationHub/WinLocationPort select the same physical socket
// on every run. Example: bus 1, path 1-4.2 gives Port_#0002.Hub_#0004; bus 3,
// path 3-2 gives Port_#0002.Hub_#0003. Empty for a root hub (no path).
std::string LocationFromPortPath(uint8_t bus, std::span<const uint8_t> ports);

// "1-4.2": the sysfs name of a device, unique per physical port.
std::string PortPathName(uint8_t bus, std::span<const uint8_t> ports);

// ------------------------------------------------------------ errors

// libusb's error codes as the backend distinguishes them (values of libusb.h).
inline constexpr int kLibusbErrorIo = -1;
inline constexpr int kLibusbErrorAccess = -3;
inline constexpr int kLibusbErrorNoDevice = -4;
inline constexpr int kLibusbErrorNotFound = -5;
inline constexpr int kLibusbErrorBusy = -6;

UsbStatus UsbStatusFromLibusb(int error);
// Win32 error code as the HRESULT the original platform reports (0x8007xxxx).
UsbStatus UsbStatusFromWin32(uint32_t error);

// Lines (four-space indented, newline-terminated) telling a person how to get
// access after an open failure; empty when there is nothing they can do.
std::string LibusbOpenHint(UsbStatus status);
std::string WinUsbOpenHint(UsbStatus status);

// ------------------------------------------------------------ descriptors

// The fields of a standard device descriptor, as stacks hand them out parsed.
struct DeviceDescriptorFields {
  uint8_t bLength = 18, bDescriptorType = 1;
  uint16_t bcdUSB = 0;
  uint8_t bDeviceClass = 0, bDeviceSubClass = 0, bDeviceProtocol = 0, bMaxPacketSize0 = 0;
  uint16_t idVendor = 0, idProduct = 0, bcdDevice = 0;
  uint8_t iManufacturer = 0, iProduct = 0, iSerialNumber = 0, bNumConfigurations = 0;
};

// The 18 wire bytes (16-bit fields little-endian).
std::array<uint8_t, 18> PackDeviceDescriptor(const DeviceDescriptorFields& f);
// Accepts a device descriptor as read from a device: at least 18 bytes, bLength
// 18 or more and type 1. Copies the first 18 bytes.
bool ParseDeviceDescriptor(std::span<const uint8_t> raw, std::array<uint8_t, 18>& out);

// USB class code of Billboard devices (device or interface class).
inline constexpr uint8_t kBillboardClass = 0x11;

// ------------------------------------------------------------ Windows paths

// Device paths hold at most 259 characters plus the terminator; a longer one
// is cut and the device counts as not openable.
inline constexpr size_t kMaxDevicePath = 260;
// Cuts a path that does not fit; false when it had to.
template <class String>
bool FitDevicePath(String& path) {
  if (path.size() < kMaxDevicePath) return true;
  path.resize(kMaxDevicePath - 1);
  return false;
}

// The registry key of a device below HKEY_LOCAL_MACHINE, built from its
// interface path "\\?\usb#vid_1234&pid_5678#5&1a2b&0&2#{guid}": the tokens
// between '#' are the bus prefix, the hardware ID (upper-cased for the key)
// and the instance ID. key1..key3 are the key as it grows token by token.
struct DevicePathKey {
  bool ok = false;  // three tokens found and the key fits in kMaxDevicePath
  std::string split1, split2, split3;
  std::string key1, key2, key3;  // key3 is the full key
};
DevicePathKey RegistryKeyFromDevicePath(std::string_view path);

// idVendor/idProduct from the "vid_xxxx&pid_xxxx" token of a device path.
bool IdsFromDevicePath(std::string_view path, uint16_t& vid, uint16_t& pid);

}  // namespace pdflash
