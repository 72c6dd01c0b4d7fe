#include "flash/port.h"

#include "device/registers.h"

namespace pdflash {

uint32_t SelectFirstFlash(Device& dev, bool echo) {
  LogPrint(dev.out, "    Select_1st_SPI\n");
  return dev.WriteRegister(reg::kSpiPortSelect, 0, echo);
}

SecondFlash::SecondFlash(Device& dev, bool echo, const char* line, bool undo_failed_select)
    : dev_(dev), echo_(echo), undo_failed_select_(undo_failed_select) {
  LogPrint(dev.out, "%s", line);
  selected_ = dev.WriteRegister(reg::kSpiPortSelect, 1, echo) == 1;
}

void SecondFlash::Restore() {
  if (restored_) return;
  restored_ = true;
  if (!selected_ && !undo_failed_select_) return;
  SelectFirstFlash(dev_, echo_);
}

}  // namespace pdflash
