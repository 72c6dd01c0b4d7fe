#include "ops/vmm6.h"

#include "core/files.h"

namespace pdflash {

uint32_t GetVmm6BinVersion(Tool& t) {
  DeviceRecord& r = t.Vmm6[1];
  uint8_t abc[3], d = 0;
  {
    FilePtr f(t.Open(r.BinPath, "rb"));
    ReadFileAt(f.get(), 0x4000, abc, sizeof abc);
    ReadFileAt(f.get(), 0x0200, &d, 1);
  }
  r.BinVersion = uint32_t{abc[0]} << 24 | uint32_t{abc[1]} << 16 | uint32_t{abc[2]} << 8 | d;
  LogPrint(t.out, "=========================================\n");
  LogPrint(t.out, "=     VMM6 Bin Version:%d.%02d.%03d v%02d     =\n", abc[0], abc[1], abc[2], d);
  LogPrint(t.out, "=========================================\n");
  return r.BinVersion;
}

}  // namespace pdflash
