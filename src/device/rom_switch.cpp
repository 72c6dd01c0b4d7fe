// Same-ID mode: every matching device is sent to ROM code before any is
// updated.
#include "app/log.h"
#include "device/discovery.h"
#include "device/mode.h"
#include "device/vendor.h"

namespace pdflash {

uint32_t SameIdFwResetAll(Tool& t, UsbLink& link, uint8_t d) {
  const RunSettings& s = t.set;
  LogPrint(t, "Same_IDFW_Reset_All\n");
  for (uint32_t n = 0; n < 20; ++n) {
    if (s.DbgMsg) LogPrint(t, "Loop = %d\n", n);
    bool no_more = false;
    if (OpenDevice(t, n, link, no_more) == 0) {
      if (s.DbgMsg) LogPrint(t, "    DevicePath=%s\n", link.path.c_str());
      const DescriptorIds ids = ReadDescriptorIds(link);
      if (!MatchesPdRecord(t.Pd[d], ids.vid, ids.pid, 0)) {
        LogPrint(t, "    Not_Our_billboard_%d\n", n);
        CloseDevice(link);
      } else {
        LogPrint(t, "    Found Target Device: \n");
        if (CableNeedsFlip(t, link)) {
          CloseDevice(link);
          return 0;
        }
        uint8_t mode = 0;
        if (ReadRegister(t, link, 0x00F7, mode, false) && (mode & 0x80) != 0)
          ResetToRom(t, link, false);
        CloseDevice(link);
      }
    }
    if (no_more) return 1;
  }
  return 1;
}

}  // namespace pdflash
