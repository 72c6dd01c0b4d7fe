#include "ops/companion_files.h"

#include <cstring>

#include "app/log.h"
#include "core/bytes.h"
#include "image/checksum.h"
#include "image/file_bytes.h"
#include "ops/pd_file.h"

namespace pdflash {

namespace {

constexpr uint8_t kHubMarker = 0x05;
constexpr uint32_t kHubHeaderSize = 0x20;
constexpr uint32_t kHubHeader2 = 0x1000;
constexpr uint32_t kHubBackupHeader1 = 0x1800;

bool KnownHubChip(uint8_t code) {
  switch (code) {
    case 0x18:
    case 0x38:
    case 0x45:
    case 0x66:
    case 0x8C:
    case 0x90:
    case 0x95:
    case 0x98:
      return true;
    default:
      return false;
  }
}

// Position of the version inside a hub file (the image starts at 0x2000).
// The pointers come from the file, so p may lie anywhere; reads past the end
// of the file give zeros.
uint32_t HubFileVersionPosition(FILE* f, uint8_t chip) {
  uint8_t ptr[3];
  switch (chip) {
    case 0x18:
    case 0x95:
      ReadFileAt(f, 0x8018, ptr, 2);
      return Be16(ptr) + 0x200Du;
    case 0x38:
    case 0x45:
    case 0x90:
      ReadFileAt(f, 0x8000, ptr, 2);
      return Be16(ptr) + 0x2004u;
    default:  // 0x66, 0x8C, 0x98: a code address, 0x1DFFC above the file offset
      ReadFileAt(f, 0x3F80, ptr, 3);
      return Le24(ptr) - 0x1DFFCu;
  }
}

void DumpHeader(Tool& t, const char* label, const uint8_t* header) {
  LogPrint(t, "%s", label);
  HexDump(t, header, kHubHeaderSize);
}

}  // namespace

uint32_t GetDpBinVersion(Tool& t, uint8_t d) {
  if (d >= t.Dp.size()) return 0;
  DeviceRecord& r = t.Dp[d];
  uint8_t h[16];
  {
    FilePtr f(t.Open(r.BinPath, "rb"));
    ReadFileAt(f.get(), 0x1003, h, sizeof h);
  }
  r.BinVersion = 0;
  const uint16_t vid = Le16(h + 4), vid2 = Le16(h + 10);
  if (t.set.DbgMsg) LogPrint(t, "    DP_Bin_VID = %04X/%04X\n", vid, vid2);
  if (!IdentityAccepts(vid, vid2, t.set.DP1VID)) {
    LogPrint(t, "    DP_Bin_VID = %04X/%04X\n", vid, vid2);
  } else {
    r.CurVid = vid;
    r.CurPid = Le16(h + 6);
    r.BinVersion = Be32(h);
    LogPrint(t, "=========================================\n");
    LogPrint(t, "=    DP[%d] Bin Version is %02X.%02X.%02X.%02X   =\n", d, h[0], h[1], h[2], h[3]);
    LogPrint(t, "=========================================\n");
  }
  if (r.BinVersion != 0) GetFormalVersion(t, kFormalDpFile, d);
  return r.BinVersion;
}

uint32_t GetHubBinVersion(Tool& t, uint8_t h) {
  const uint8_t index = h & 0x0F;
  if (index == 0 || index >= t.Hub.size()) {
    LogPrint(t, "Illegal Parameter %X\n", h);
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
    LogPrint(t, "    Hub Bin is %02X %02X\n", head[0], head[1]);
  }
  // The file reader ORs the header nibble in; the flash reader adds it.
  r.BinVersion = static_cast<uint32_t>(high << 8) | static_cast<uint32_t>(nibble_byte >> 4) | low;
  LogPrint(t, "=========================================\n");
  LogPrint(t, "=       Hub[%d] Bin Version is %04X      =\n", h, r.BinVersion);
  LogPrint(t, "=========================================\n");
  return r.BinVersion;
}

uint32_t GetVmm6BinVersion(Tool& t) {
  DeviceRecord& r = t.Vmm6[1];
  uint8_t abc[3], d = 0;
  {
    FilePtr f(t.Open(r.BinPath, "rb"));
    ReadFileAt(f.get(), 0x4000, abc, sizeof abc);
    ReadFileAt(f.get(), 0x0200, &d, 1);
  }
  r.BinVersion = uint32_t{abc[0]} << 24 | uint32_t{abc[1]} << 16 | uint32_t{abc[2]} << 8 | d;
  LogPrint(t, "=========================================\n");
  LogPrint(t, "=     VMM6 Bin Version:%d.%02d.%03d v%02d     =\n", abc[0], abc[1], abc[2], d);
  LogPrint(t, "=========================================\n");
  return r.BinVersion;
}

bool AddHubHeader2(Tool& t, uint8_t* image) {
  uint8_t* hd1 = image;
  if (hd1[0] != kHubMarker) {
    LogPrint(t, "        Chk:Data[0]_Not_0x05, Not Hub.\n");
    return false;
  }
  if (GetCrc8(t, hd1, 0x1F, t.set.DbgMsg) != hd1[0x1F]) {
    LogPrint(t, "        Chk:Data[0x20-1]_Not_Crc8.\n");
    return false;
  }
  // Header 2 goes where the image must still be blank.
  for (uint32_t i = kHubHeader2; i < kHubHeader2 + kHubHeaderSize; ++i) {
    if (image[i] != 0xFF) {
      LogPrint(t, "\t     Chk:Data[0x%X]_Is_%02X.\n", i, image[i]);
      return false;
    }
  }
  LogPrint(t, "        Add Hub_Header2_To_Buffer\n");
  if (t.set.DbgMsg) DumpHeader(t, "        OLD_HD1[0000]", hd1);

  hd1[0x1D] = kHubHeader2 / kHubHeaderSize;
  hd1[0x1F] = GetCrc8(t, hd1, 0x1F, t.set.DbgMsg);
  if (t.set.DbgMsg) DumpHeader(t, "        NEW_HD1[0000]", hd1);

  // Header 2: firmware 2 at 0x010000 (0x060000 for chip 0x66), same length.
  uint8_t* hd2 = image + kHubHeader2;
  std::memcpy(hd2, hd1, kHubHeaderSize);
  hd2[0x0C] = hd1[1] == 0x66 ? 0x06 : 0x01;
  hd2[0x04] = 0x00;
  hd2[0x05] = 0x00;
  hd2[0x1C] = 0x00;
  hd2[0x1D] = 0xFF;
  hd2[0x1F] = GetCrc8(t, hd2, 0x1F, t.set.DbgMsg);
  if (t.set.DbgMsg) DumpHeader(t, "        NEW_HD2[1000]", hd2);

  std::memcpy(image + kHubBackupHeader1, hd1, kHubHeaderSize);
  if (t.set.DbgMsg) DumpHeader(t, "        BUP_HD1[1800]", image + kHubBackupHeader1);

  if (hd1[1] == 0x66) LogPrint(t, "        Hub_KMHA, FW2_at_0x060000\n");

  const uint32_t min_copy = Be16(hd1 + 6) + 12u;
  LogPrint(t, "        -----------------------------------\n");
  LogPrint(t, "        - Hub_CopyLength_Must_Over_0x%04X -\n", min_copy);
  LogPrint(t, "        -----------------------------------\n");
  for (const CopyEntry& c : t.Copy) {
    if ((c.To == 0x2000 || c.To == 0x10000) && c.Len < min_copy) {
      LogPrint(t, "        ###################################\n");
      LogPrint(t, "        ###################################\n");
      LogPrint(t, "        # WARNING: Hub_Copy_Length_ERROR! #\n");
      LogPrint(t, "        # WARNING: Hub_Copy_Length_ERROR! #\n");
      LogPrint(t, "        # WARNING: Hub_Copy_Length_ERROR! #\n");
      LogPrint(t, "        ###################################\n");
      LogPrint(t, "        ###################################\n");
    }
  }
  return true;
}

}  // namespace pdflash
