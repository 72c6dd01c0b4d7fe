#include "platform/platform.h"

namespace pdflash {

// Until a native backend is built in, the bus is empty: no device is found.
std::unique_ptr<UsbBus> MakeNativeUsbBus() { return std::make_unique<EmptyUsbBus>(); }

}  // namespace pdflash
