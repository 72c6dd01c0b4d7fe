// The SPI port select of the controller with a second flash. While a
// SecondFlash lives, flash requests reach the second flash; the first one is
// selected again when it ends, on every path.
#pragma once

#include "device/device.h"

namespace pdflash {

// Prints "    Select_1st_SPI" and selects the first flash.
uint32_t SelectFirstFlash(Device& dev, bool echo);

class SecondFlash {
 public:
  // Prints "    Select_2nd_SPI" and selects the second flash.
  SecondFlash(Device& dev, bool echo);
  ~SecondFlash() { Restore(); }
  SecondFlash(const SecondFlash&) = delete;
  SecondFlash& operator=(const SecondFlash&) = delete;

  // The select request went through.
  bool Selected() const { return selected_; }
  // Back to the first flash now (only once).
  void Restore();

 private:
  Device& dev_;
  bool echo_;
  bool selected_ = false;
  bool restored_ = false;
};

}  // namespace pdflash
