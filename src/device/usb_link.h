// One opened device: the run owns one link and reuses it for every search.
#pragma once

#include <memory>
#include <string>

#include "platform/platform.h"

namespace pdflash {

struct UsbLink {
  bool open = false;               // handles-open flag
  std::unique_ptr<UsbDevice> dev;  // the opened device
  std::string path;                // device path of the open device
  UsbDeviceInfo info;              // the device as enumerated (for its location)
};

}  // namespace pdflash
