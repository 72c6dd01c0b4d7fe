// The Windows USB backend: SetupAPI finds the devices, WinUSB talks to them and
// the registry tells where they are plugged in.
#ifdef _WIN32

// clang-format off
#include <windows.h>
#include <initguid.h>  // makes usbiodef.h define the GUID instead of declaring it
#include <usbiodef.h>
#include <setupapi.h>
#include <winusb.h>
// clang-format on

#include <algorithm>
#include <vector>

#include "platform/platform.h"
#include "platform/usb_common.h"

namespace pdflash {
namespace {

std::string Narrow(const wchar_t* w, UINT code_page) {
  const int n = WideCharToMultiByte(code_page, 0, w, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(code_page, 0, w, -1, s.data(), n, nullptr, nullptr);
  s.resize(static_cast<size_t>(n - 1));
  return s;
}

std::wstring Widen(const std::string& s) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, nullptr, 0);
  if (n <= 1) return {};
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, w.data(), n);
  w.resize(static_cast<size_t>(n - 1));
  return w;
}

// One device interface as SetupAPI lists it.
struct Interface {
  std::wstring path;
  UsbStatus status = UsbStatus::Ok;  // why it cannot be opened, if it cannot
};

std::vector<Interface> ListInterfaces() {
  std::vector<Interface> list;
  HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USB_DEVICE, nullptr, nullptr,
                                      DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return list;
  for (DWORD n = 0;; ++n) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    // The end of the list, or a list that cannot be read on.
    if (!SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USB_DEVICE, n, &data)) break;
    Interface entry;
    DWORD size = 0;
    if (!SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      entry.status = UsbStatusFromWin32(GetLastError());
      list.push_back(entry);
      continue;
    }
    std::vector<uint8_t> buffer(std::max<size_t>(size, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(set, &data, detail, static_cast<DWORD>(buffer.size()),
                                          nullptr, nullptr)) {
      entry.status = UsbStatusFromWin32(GetLastError());
      list.push_back(entry);
      continue;
    }
    entry.path = detail->DevicePath;
    if (!FitDevicePath(entry.path)) entry.status = UsbStatus::PathTooLong;
    list.push_back(entry);
  }
  SetupDiDestroyDeviceInfoList(set);
  return list;
}

class WinUsbDevice final : public UsbDevice {
 public:
  WinUsbDevice(HANDLE file, WINUSB_INTERFACE_HANDLE usb) : file_(file), usb_(usb) {}
  ~WinUsbDevice() override {
    WinUsb_Free(usb_);
    CloseHandle(file_);
  }

  // The stack's default pipe policy applies: no timeout of our own.
  bool ControlTransfer(const SetupPacket& s, uint8_t* data) override {
    WINUSB_SETUP_PACKET packet{};
    packet.RequestType = s.bmRequestType;
    packet.Request = s.bRequest;
    packet.Value = s.wValue;
    packet.Index = s.wIndex;
    packet.Length = s.wLength;
    ULONG done = 0;
    return WinUsb_ControlTransfer(usb_, packet, data, s.wLength, &done, nullptr) != FALSE;
  }

  bool ReadDeviceDescriptor(std::array<uint8_t, 18>& out) override {
    uint8_t raw[18] = {};
    ULONG got = 0;
    if (!WinUsb_GetDescriptor(usb_, USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, raw, sizeof raw, &got))
      return false;
    return ParseDeviceDescriptor(std::span<const uint8_t>(raw, got), out);
  }

 private:
  HANDLE file_;
  WINUSB_INTERFACE_HANDLE usb_;
};

std::unique_ptr<WinUsbDevice> OpenPath(const std::wstring& path, UsbStatus& status) {
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    status = UsbStatusFromWin32(GetLastError());
    return nullptr;
  }
  WINUSB_INTERFACE_HANDLE usb = nullptr;
  if (!WinUsb_Initialize(file, &usb)) {
    status = UsbStatusFromWin32(GetLastError());
    CloseHandle(file);
    return nullptr;
  }
  status = UsbStatus::Ok;
  return std::make_unique<WinUsbDevice>(file, usb);
}

class WinUsbBus final : public UsbBus {
 public:
  // Devices in SetupAPI's order, the order the tool has always visited them.
  std::vector<UsbDeviceInfo> Enumerate() override {
    seen_ = ListInterfaces();
    std::vector<UsbDeviceInfo> infos;
    infos.reserve(seen_.size());
    for (const auto& entry : seen_) {
      UsbDeviceInfo info;
      info.path = Narrow(entry.path.c_str(), CP_UTF8);
      // Only devices on the WinUSB driver can be opened; for the others the
      // IDs in the path are all there is. The USB address is not known here.
      bool have_descriptor = false;
      if (entry.status == UsbStatus::Ok) {
        UsbStatus status;
        if (auto dev = OpenPath(entry.path, status))
          have_descriptor = dev->ReadDeviceDescriptor(info.descriptor);
      }
      if (!have_descriptor) {
        DeviceDescriptorFields f;
        IdsFromDevicePath(info.path, f.idVendor, f.idProduct);
        info.descriptor = PackDeviceDescriptor(f);
      }
      std::string text;
      if (Location(info, text) == LocationStatus::Ok) info.location = text;
      infos.push_back(std::move(info));
    }
    return infos;
  }

  std::unique_ptr<UsbDevice> Open(const UsbDeviceInfo& info, UsbStatus& status) override {
    const std::wstring path = Widen(info.path);
    const auto it = std::find_if(seen_.begin(), seen_.end(),
                                 [&](const Interface& e) { return e.path == path; });
    if (it == seen_.end()) {
      status = UsbStatus::NotFound;
      return nullptr;
    }
    if (it->status != UsbStatus::Ok) {
      status = it->status;
      return nullptr;
    }
    return OpenPath(path, status);
  }

  // The "LocationInformation" value of the device's key under
  // HKLM\SYSTEM\CurrentControlSet\Enum\USB, in the ANSI code page.
  LocationStatus Location(const UsbDeviceInfo& info, std::string& text) override {
    const DevicePathKey key = RegistryKeyFromDevicePath(info.path);
    if (!key.ok) return LocationStatus::KeyMissing;
    HKEY hkey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Widen(key.key3).c_str(), 0, KEY_READ, &hkey) !=
        ERROR_SUCCESS)
      return LocationStatus::KeyMissing;
    wchar_t value[128] = {};
    DWORD size = sizeof value - sizeof(wchar_t);  // room for the terminator
    DWORD type = 0;
    const LONG r = RegQueryValueExW(hkey, L"LocationInformation", nullptr, &type,
                                    reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(hkey);
    if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
      return LocationStatus::ValueMissing;
    value[std::min<size_t>(size / sizeof(wchar_t), 127)] = L'\0';
    text = Narrow(value, CP_ACP);
    return LocationStatus::Ok;
  }

  std::string OpenFailureHint(UsbStatus status) override { return WinUsbOpenHint(status); }

 private:
  std::vector<Interface> seen_;  // the last enumeration
};

}  // namespace

std::unique_ptr<UsbBus> MakeNativeUsbBus() {
  return std::make_unique<WinUsbBus>();
}

}  // namespace pdflash

#endif
