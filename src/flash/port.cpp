#include "flash/port.h"

#include "device/registers.h"

namespace pdflash {

uint32_t SelectFirstFlash(Device& dev, bool echo) {
  LogPrint(dev.out, "    Select_1st_SPI\n");
  return dev.WriteRegister(reg::kSpiPortSelect, 0, echo);
}

SecondFlash::SecondFlash(Device& dev, bool echo) : dev_(dev), echo_(echo) {
  LogPrint(dev.out, "    Select_2nd_SPI\n");
  selected_ = dev.WriteRegister(reg::kSpiPortSelect, 1, echo) == 1;
}

void SecondFlash::Restore() {
  if (restored_) return;
  restored_ = true;
  SelectFirstFlash(dev_, echo_);
}

}  // namespace pdflash
