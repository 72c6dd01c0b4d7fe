#include "platform/platform.h"

// Without a USB stack to build against, the bus is empty: no device is found.
// Linux with libusb and Windows have their own backends.
#if !defined(_WIN32) && !defined(PDFLASH_HAVE_LIBUSB)

namespace pdflash {

std::unique_ptr<UsbBus> MakeNativeUsbBus() {
  return std::make_unique<EmptyUsbBus>();
}

}  // namespace pdflash

#endif
