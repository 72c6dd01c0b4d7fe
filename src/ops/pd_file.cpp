#include "ops/pd_file.h"

#include <cstring>

#include "app/log.h"
#include "core/bytes.h"
#include "image/file_bytes.h"

namespace pdflash {

namespace {

constexpr uint16_t kOwnVid = 0x2109;
constexpr uint32_t kHeaderOffset = 0x1003;  // version, then the IDs
constexpr uint32_t kMaxFileSize = 0x20000;
constexpr uint8_t kImageMarker = 0x02;
constexpr uint8_t kFormalSignature[4] = {0x66, 0x6D, 0xAB, 0x56};

struct CompatRow {
  uint16_t chip;
  uint8_t fid_a, fid_b;
  uint32_t size;
};

constexpr CompatRow kCompat[] = {
    {0x0102, 0x07, 0x08, 0x8000},  {0x0103, 0x09, 0x0A, 0x8000},  {0x0104, 0x0B, 0x0B, 0xC000},
    {0x0105, 0x0C, 0x0C, 0xC000},  {0x0106, 0x0D, 0x0D, 0x8000},  {0x0107, 0x0E, 0x0E, 0xC800},
    {0x0108, 0xA1, 0xB1, 0x10000}, {0x0109, 0xA2, 0xB2, 0x10000},
};

DeviceRecord* PdRecord(Tool& t, uint8_t d) {
  return d < t.Pd.size() ? &t.Pd[d] : nullptr;
}

// The formal version sits in one of two 0x38-byte windows of the image.
bool FindFormal(const uint8_t* image, uint32_t& formal) {
  for (uint32_t base : {0x1000u, 0x4000u}) {
    for (uint32_t p = base; p < base + 0x38; ++p) {
      if (std::memcmp(image + p + 4, kFormalSignature, 4) == 0) {
        formal = Be32(image + p);
        return true;
      }
    }
  }
  return false;
}

}  // namespace

bool IdentityAccepts(uint16_t vid, uint16_t vid2, uint16_t configured) {
  return vid == kOwnVid || vid == configured || vid2 == kOwnVid || vid2 == configured ||
         vid == vid2;
}

uint32_t GetPdBinVersion(Tool& t, uint8_t d) {
  DeviceRecord* r = PdRecord(t, d);
  if (!r) return 0;
  uint8_t h[16];
  {
    FilePtr f(t.Open(r->BinPath, "rb"));
    ReadFileAt(f.get(), kHeaderOffset, h, sizeof h);
  }
  r->BinVersion = 0;
  const uint16_t vid = Le16(h + 4), vid2 = Le16(h + 10);
  if (t.set.DbgMsg) LogPrint(t, "    PD_Bin_VID = %04X/%04X\n", vid, vid2);
  if (!IdentityAccepts(vid, vid2, t.set.PD1VID)) {
    LogPrint(t, "    PD_Bin_VID = %04X/%04X\n", vid, vid2);
    return 0;
  }
  r->CurVid = vid;
  r->CurPid = Le16(h + 6);
  r->BinVersion = Be32(h);
  LogPrint(t, "=========================================\n");
  LogPrint(t, "=    PD[%d] Bin Version is %02X.%02X.%02X.%02X   =\n", d, h[0], h[1], h[2], h[3]);
  LogPrint(t, "=========================================\n");
  if (r->BinVersion != 0) GetFormalVersion(t, kFormalPdFile, d);
  return r->BinVersion;
}

uint32_t GetPdBinFlag(Tool& t, uint8_t d) {
  DeviceRecord* r = PdRecord(t, d);
  if (!r) return 0;
  uint8_t h[32];
  {
    FilePtr f(t.Open(r->BinPath, "rb"));
    ReadFileAt(f.get(), kHeaderOffset, h, sizeof h);
  }
  r->BinFlag = 0;
  // Flag word at 0x101B, its marker at 0x101F.
  if (std::memcmp(h + 0x1C, "FLAG", 4) == 0) {
    r->BinFlag = Be32(h + 0x18);
    LogPrint(t, "    PD_Bin_FLAG = %08X\n", r->BinFlag);
  } else {
    LogPrint(t, "    PD_Bin_FLAG_Not_Found\n");
  }
  return r->BinVersion;
}

uint32_t GetFormalVersion(Tool& t, uint8_t selector, uint8_t d) {
  if (t.set.DisplayFormalVer == 0) return 1;
  DeviceRecord* r =
      selector == kFormalDpFile ? (d < t.Dp.size() ? &t.Dp[d] : nullptr) : PdRecord(t, d);
  if (!r) return 0;
  auto image = NewBuffer(kMaxFileSize, 0);
  if (!image) return 0;
  FilePtr f(t.Open(r->BinPath, "rb"));
  if (!f) {
    LogPrint(t, "Protection : FW_Open_Fail.\n");
    return 0;
  }
  const int64_t size = FileLength(f.get());
  if (size > kMaxFileSize) {
    LogPrint(t, "Protection : FW_Size_%dK_Over.\n", static_cast<int>(size >> 10));
    return 0;
  }
  if (size > 0) ReadFileAt(f.get(), 0, image.get(), static_cast<size_t>(size));
  if (image[0] != kImageMarker) {
    LogPrint(t, "Protection : FW_Data[0]_Error.\n");
    return 0;
  }
  uint32_t formal = 0;
  if (!FindFormal(image.get(), formal)) return 0;
  r->BinFormalVersion = formal;
  LogPrint(t, "=     Formal Version is %02X.%02X.%02X.%02X     =\n", formal >> 24,
           (formal >> 16) & 0xFF, (formal >> 8) & 0xFF, formal & 0xFF);
  LogPrint(t, "=========================================\n");
  return 1;
}

uint32_t CheckPdBin(Tool& t, uint8_t d, uint8_t fid_byte, uint32_t size) {
  const uint8_t fid = fid_byte < 0xA0 ? fid_byte & 0x0F : fid_byte;
  const uint16_t chip = d < t.Pd.size() ? static_cast<uint16_t>(t.Pd[d].ProjectId >> 16) : 0;
  uint32_t ok = 0;
  for (const CompatRow& row : kCompat)
    if (row.chip == chip && (fid == row.fid_a || fid == row.fid_b) && size == row.size) ok = 1;
  if (fid == 0x00 || fid == 0x0F) {
    LogPrint(t, "    Test_Bin_File, No_Check.\n");
    ok = 1;
  }
  if (t.set.SecondSPIUpdateOnly) {
    LogPrint(t, "    Write_2nd_SPI, No_Check.\n");
    ok = 1;
  }
  if (t.set.SkipJumpRom) {
    LogPrint(t, "    FW_Code_Update, No_Check.\n");
    ok = 1;
  }
  if (t.set.SkipCheckBin) {
    LogPrint(t, "    Skip_Check_Bin\n");
    return 1;
  }
  return ok;
}

}  // namespace pdflash
