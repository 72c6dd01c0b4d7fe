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
  // Prints `line` and selects the second flash. A failed select is undone
  // at the end only with `undo_failed_select` (it may have switched anyway).
  SecondFlash(Device& dev, bool echo, const char* line = "    Select_2nd_SPI\n",
              bool undo_failed_select = true);
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
  bool undo_failed_select_;
  bool selected_ = false;
  bool restored_ = false;
};

}  // namespace pdflash
