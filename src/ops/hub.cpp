#include "ops/hub.h"

#include "core/files.h"
#include "image/hub_image.h"

namespace pdflash {

namespace {

uint32_t HubFileVersionPosition(FILE* f, uint8_t chip) {
  const HubVersionPointer rule = HubFileVersionPointer(chip);
  uint8_t ptr[3];
  ReadFileAt(f, rule.at, ptr, rule.bytes);
  return HubVersionPosition(rule, ptr);
}

}  // namespace

uint32_t GetHubBinVersion(Tool& t, uint8_t h) {
  const uint8_t index = h & 0x0F;
  if (index == 0 || index >= t.Hub.size()) {
    LogPrint(t.out, "Illegal Parameter %X\n", h);
    return 0;
  }
  DeviceRecord& r = t.Hub[index];
  FilePtr f(t.Open(r.BinPath, "rb"));
  uint8_t head[3];
  ReadFileAt(f.get(), 0, head, sizeof head);
  r.BinVersion = 0;
  uint8_t low = 0, high = 0, nibble_byte = 0;
  if (head[0] == kHubMarker && KnownHubChip(head[1])) {
    const uint32_t p = HubFileVersionPosition(f.get(), head[1]);
    uint8_t v[2];
    ReadFileAt(f.get(), p, v, sizeof v);
    low = v[0];
    high = v[1];
    nibble_byte = head[2];
  } else {
    LogPrint(t.out, "    Hub Bin is %02X %02X\n", head[0], head[1]);
  }
  // The file reader ORs the header nibble in; the flash reader adds it.
  r.BinVersion = static_cast<uint32_t>(high << 8) | static_cast<uint32_t>(nibble_byte >> 4) | low;
  LogPrint(t.out, "=========================================\n");
  LogPrint(t.out, "=       Hub[%d] Bin Version is %04X      =\n", h, r.BinVersion);
  LogPrint(t.out, "=========================================\n");
  return r.BinVersion;
}

}  // namespace pdflash
