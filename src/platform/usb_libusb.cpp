// The Linux USB backend on libusb-1.0.
#if defined(PDFLASH_HAVE_LIBUSB) && !defined(_WIN32)

#include <libusb.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "platform/platform.h"
#include "platform/usb_common.h"

namespace pdflash {

static_assert(LIBUSB_ERROR_IO == kLibusbErrorIo && LIBUSB_ERROR_ACCESS == kLibusbErrorAccess &&
              LIBUSB_ERROR_NO_DEVICE == kLibusbErrorNoDevice &&
              LIBUSB_ERROR_NOT_FOUND == kLibusbErrorNotFound &&
              LIBUSB_ERROR_BUSY == kLibusbErrorBusy);

namespace {

// libusb waits forever with a timeout of 0. The controller answers every
// request at once (erases and writes are followed by polling the flash status,
// never waited for inside a transfer), so 5 s only ever ends a request to a
// board that was unplugged or has hung, and the run reports the failure
// instead of blocking its station.
constexpr unsigned kControlTimeoutMs = 5000;

// The libusb session, shared by the bus and every device it opened so that a
// device handle never outlives it.
class Session {
 public:
  Session() {
    // A machine without usbfs (a container, a build host) is a bus with no
    // devices, not an error.
    if (libusb_init(&ctx_) != 0) {
      ctx_ = nullptr;
      return;
    }
    // Our own lines are the interface; libusb stays quiet unless LIBUSB_DEBUG asks.
    libusb_set_option(ctx_, LIBUSB_OPTION_LOG_LEVEL, LIBUSB_LOG_LEVEL_NONE);
  }
  ~Session() {
    if (ctx_) libusb_exit(ctx_);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  libusb_context* get() const { return ctx_; }

 private:
  libusb_context* ctx_ = nullptr;
};

DeviceDescriptorFields Fields(const libusb_device_descriptor& d) {
  DeviceDescriptorFields f;
  f.bLength = d.bLength;
  f.bDescriptorType = d.bDescriptorType;
  f.bcdUSB = d.bcdUSB;
  f.bDeviceClass = d.bDeviceClass;
  f.bDeviceSubClass = d.bDeviceSubClass;
  f.bDeviceProtocol = d.bDeviceProtocol;
  f.bMaxPacketSize0 = d.bMaxPacketSize0;
  f.idVendor = d.idVendor;
  f.idProduct = d.idProduct;
  f.bcdDevice = d.bcdDevice;
  f.iManufacturer = d.iManufacturer;
  f.iProduct = d.iProduct;
  f.iSerialNumber = d.iSerialNumber;
  f.bNumConfigurations = d.bNumConfigurations;
  return f;
}

// Every request the tool sends is addressed to the device (recipient 0), which
// usbfs lets through without claiming an interface, so no interface is claimed
// and no kernel driver detached: whatever the system bound stays bound.
class LibusbDevice final : public UsbDevice {
 public:
  LibusbDevice(std::shared_ptr<Session> session, libusb_device_handle* h)
      : session_(std::move(session)), h_(h) {}
  ~LibusbDevice() override { libusb_close(h_); }

  bool ControlTransfer(const SetupPacket& s, uint8_t* data) override {
    const int r = libusb_control_transfer(h_, s.bmRequestType, s.bRequest, s.wValue, s.wIndex, data,
                                          s.wLength, kControlTimeoutMs);
    // Like the Windows stack's result: the transfer went through or not; a
    // short data stage is not a failure.
    return r >= 0;
  }

  // The descriptor the stack read at enumeration, as WinUSB hands it out; no
  // request goes to the device.
  bool ReadDeviceDescriptor(std::array<uint8_t, 18>& out) override {
    libusb_device_descriptor d{};
    if (libusb_get_device_descriptor(libusb_get_device(h_), &d) != 0) return false;
    out = PackDeviceDescriptor(Fields(d));
    return true;
  }

 private:
  std::shared_ptr<Session> session_;
  libusb_device_handle* h_;
};

class LibusbBus final : public UsbBus {
 public:
  LibusbBus() : session_(std::make_shared<Session>()) {}
  ~LibusbBus() override { Release(); }

  std::vector<UsbDeviceInfo> Enumerate() override {
    Release();
    if (!session_->get()) return {};
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(session_->get(), &list);
    if (count < 0) return {};
    for (ssize_t i = 0; i < count; ++i) {
      libusb_device* dev = list[i];
      uint8_t ports[8];
      const int depth = libusb_get_port_numbers(dev, ports, sizeof ports);
      // Root hubs have no port; on Windows they are not in the device list either.
      if (depth <= 0) continue;
      libusb_device_descriptor d{};
      if (libusb_get_device_descriptor(dev, &d) != 0) continue;
      Entry e;
      e.bus = libusb_get_bus_number(dev);
      e.ports.assign(ports, ports + depth);
      e.info.path = PortPathName(e.bus, e.ports);
      e.info.descriptor = PackDeviceDescriptor(Fields(d));
      e.info.address = libusb_get_device_address(dev);
      e.info.location = LocationFromPortPath(e.bus, e.ports);
      e.dev = libusb_ref_device(dev);
      seen_.push_back(std::move(e));
    }
    libusb_free_device_list(list, 1);
    // libusb lists devices in the order the kernel found them, which changes
    // with every re-plug; the physical position does not.
    std::sort(seen_.begin(), seen_.end(), [](const Entry& a, const Entry& b) {
      return std::tie(a.bus, a.ports) < std::tie(b.bus, b.ports);
    });
    std::vector<UsbDeviceInfo> infos;
    infos.reserve(seen_.size());
    for (const auto& e : seen_) infos.push_back(e.info);
    return infos;
  }

  std::unique_ptr<UsbDevice> Open(const UsbDeviceInfo& info, UsbStatus& status) override {
    const auto it = std::find_if(seen_.begin(), seen_.end(),
                                 [&](const Entry& e) { return e.info.path == info.path; });
    if (it == seen_.end()) {
      status = UsbStatus::NotFound;
      return nullptr;
    }
    libusb_device_handle* h = nullptr;
    const int r = libusb_open(it->dev, &h);
    status = UsbStatusFromLibusb(r);
    if (r != 0) return nullptr;
    return std::make_unique<LibusbDevice>(session_, h);
  }

  LocationStatus Location(const UsbDeviceInfo& info, std::string& text) override {
    if (info.location.empty()) return LocationStatus::KeyMissing;
    text = info.location;
    return LocationStatus::Ok;
  }

  std::string OpenFailureHint(UsbStatus status) override { return LibusbOpenHint(status); }

 private:
  struct Entry {
    libusb_device* dev = nullptr;
    uint8_t bus = 0;
    std::vector<uint8_t> ports;
    UsbDeviceInfo info;
  };

  void Release() {
    for (auto& e : seen_) libusb_unref_device(e.dev);
    seen_.clear();
  }

  std::shared_ptr<Session> session_;
  std::vector<Entry> seen_;  // the last enumeration, referenced until the next
};

}  // namespace

std::unique_ptr<UsbBus> MakeNativeUsbBus() {
  return std::make_unique<LibusbBus>();
}

}  // namespace pdflash

#endif
