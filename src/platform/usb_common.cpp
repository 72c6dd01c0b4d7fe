#include "platform/usb_common.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

namespace pdflash {

std::string LocationFromPortPath(uint8_t bus, std::span<const uint8_t> ports) {
  if (ports.empty()) return {};
  const unsigned port = ports.back();
  const unsigned hub = ports.size() == 1 ? bus : ports[ports.size() - 2];
  char text[32];
  std::snprintf(text, sizeof text, "Port_#%04u.Hub_#%04u", port, hub);
  return text;
}

std::string PortPathName(uint8_t bus, std::span<const uint8_t> ports) {
  std::string name = std::to_string(bus);
  for (size_t i = 0; i < ports.size(); ++i) {
    name += i == 0 ? '-' : '.';
    name += std::to_string(ports[i]);
  }
  return name;
}

UsbStatus UsbStatusFromLibusb(int error) {
  switch (error) {
    case 0:
      return UsbStatus::Ok;
    case kLibusbErrorAccess:
      return UsbStatus::AccessDenied;
    case kLibusbErrorNoDevice:
    case kLibusbErrorNotFound:
      return UsbStatus::NotFound;
    default:
      return error > 0 ? UsbStatus::Ok : UsbStatus::Failed;
  }
}

UsbStatus UsbStatusFromWin32(uint32_t error) {
  if (error == 0) return UsbStatus::Ok;
  return static_cast<UsbStatus>(0x80070000u | (error & 0xFFFFu));
}

std::string LibusbOpenHint(UsbStatus status) {
  if (status != UsbStatus::AccessDenied) return {};
  return "    No permission to open the USB device (Access_Denied).\n"
         "    Install 60-pdflash-billboard.rules into /etc/udev/rules.d/, run "
         "'sudo udevadm control --reload-rules && sudo udevadm trigger', re-plug the board "
         "(or run as root).\n";
}

std::string WinUsbOpenHint(UsbStatus status) {
  // Devices without the WinUSB driver fail with other codes on every search;
  // only a refused open is worth a line.
  if (status != UsbStatus::AccessDenied) return {};
  return "    The USB device is open in another program (Access_Denied); close it and retry.\n";
}

std::array<uint8_t, 18> PackDeviceDescriptor(const DeviceDescriptorFields& f) {
  std::array<uint8_t, 18> d{};
  // USB descriptors are little-endian.
  auto put16 = [](uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
  };
  d[0] = f.bLength;
  d[1] = f.bDescriptorType;
  put16(&d[2], f.bcdUSB);
  d[4] = f.bDeviceClass;
  d[5] = f.bDeviceSubClass;
  d[6] = f.bDeviceProtocol;
  d[7] = f.bMaxPacketSize0;
  put16(&d[8], f.idVendor);
  put16(&d[10], f.idProduct);
  put16(&d[12], f.bcdDevice);
  d[14] = f.iManufacturer;
  d[15] = f.iProduct;
  d[16] = f.iSerialNumber;
  d[17] = f.bNumConfigurations;
  return d;
}

bool ParseDeviceDescriptor(std::span<const uint8_t> raw, std::array<uint8_t, 18>& out) {
  if (raw.size() < out.size() || raw[0] < out.size() || raw[1] != 1) return false;
  std::copy(raw.begin(), raw.begin() + out.size(), out.begin());
  return true;
}

namespace {

// Tokens between '#', empty ones skipped as a tokenizer would.
std::vector<std::string_view> SplitHash(std::string_view s) {
  std::vector<std::string_view> tokens;
  size_t start = 0;
  while (start <= s.size()) {
    size_t end = s.find('#', start);
    if (end == std::string_view::npos) end = s.size();
    if (end > start) tokens.push_back(s.substr(start, end - start));
    start = end + 1;
  }
  return tokens;
}

bool ParseHex4(std::string_view s, uint16_t& v) {
  if (s.size() < 4) return false;
  v = 0;
  for (size_t i = 0; i < 4; ++i) {
    const int c = std::tolower(static_cast<unsigned char>(s[i]));
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else
      return false;
    v = static_cast<uint16_t>(v << 4 | digit);
  }
  return true;
}

size_t FindNoCase(std::string_view hay, std::string_view needle) {
  for (size_t i = 0; i + needle.size() <= hay.size(); ++i) {
    size_t k = 0;
    while (k < needle.size() && std::tolower(static_cast<unsigned char>(hay[i + k])) == needle[k])
      ++k;
    if (k == needle.size()) return i;
  }
  return std::string_view::npos;
}

}  // namespace

DevicePathKey RegistryKeyFromDevicePath(std::string_view path) {
  DevicePathKey k;
  const auto tokens = SplitHash(path);
  k.key1 = "SYSTEM\\CurrentControlSet\\Enum\\USB\\";
  if (tokens.size() > 0) k.split1 = tokens[0];
  if (tokens.size() < 3) return k;
  k.split2 = tokens[1];
  k.split3 = tokens[2];
  std::string upper(k.split2);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  k.key2 = k.key1 + upper;
  k.key3 = k.key2 + "\\" + k.split3;
  k.ok = k.key3.size() < kMaxDevicePath;
  return k;
}

bool IdsFromDevicePath(std::string_view path, uint16_t& vid, uint16_t& pid) {
  const size_t v = FindNoCase(path, "vid_");
  const size_t p = FindNoCase(path, "pid_");
  if (v == std::string_view::npos || p == std::string_view::npos) return false;
  uint16_t a = 0, b = 0;
  if (!ParseHex4(path.substr(v + 4), a) || !ParseHex4(path.substr(p + 4), b)) return false;
  vid = a;
  pid = b;
  return true;
}

}  // namespace pdflash
