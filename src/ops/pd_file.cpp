#include "ops/pd_file.h"

#include "core/bytes.h"
#include "core/files.h"
#include "device/controller.h"
#include "image/pd_image.h"

namespace pdflash {

namespace {

constexpr uint32_t kMaxFileSize = 0x20000;

DeviceRecord* PdRecord(Tool& t, uint8_t d) {
  return d < t.Pd.size() ? &t.Pd[d] : nullptr;
}

}  // namespace

uint32_t GetPdBinVersion(Tool& t, uint8_t d, bool* accepted) {
  if (accepted) *accepted = false;
  DeviceRecord* r = PdRecord(t, d);
  if (!r) return 0;
  uint8_t h[kPdHeaderBytes];
  uint8_t marker = 0;
  {
    FilePtr f(t.Open(r->BinPath, "rb"));
    ReadFileAt(f.get(), kPdHeader, h, sizeof h);
    ReadFileAt(f.get(), 0, &marker, 1);
  }
  r->BinVersion = 0;
  const PdHeader header = ParsePdHeader(h);
  const uint16_t vid = header.vid, vid2 = header.vid2;
  if (t.set.DbgMsg) LogPrint(t.out, "    PD_Bin_VID = %04X/%04X\n", vid, vid2);
  if (!IdentityAccepts(vid, vid2, t.set.PD1VID)) {
    LogPrint(t.out, "    PD_Bin_VID = %04X/%04X\n", vid, vid2);
    return 0;
  }
  // An empty file passes the identity rule with zeros; it is still no image.
  if (accepted) *accepted = marker == kPdImageMarker;
  r->CurVid = vid;
  r->CurPid = header.pid;
  r->BinVersion = header.version;
  LogPrint(t.out, "%s", kBoxLine);
  LogPrint(t.out, "=    PD[%d] Bin Version is %02X.%02X.%02X.%02X   =\n", d, h[0], h[1], h[2],
           h[3]);
  LogPrint(t.out, "%s", kBoxLine);
  if (r->BinVersion != 0) GetFormalVersion(t, kFormalPdFile, d);
  return r->BinVersion;
}

uint32_t GetPdBinFlag(Tool& t, uint8_t d) {
  DeviceRecord* r = PdRecord(t, d);
  if (!r) return 0;
  uint8_t h[kPdFlagBytes];
  {
    FilePtr f(t.Open(r->BinPath, "rb"));
    ReadFileAt(f.get(), kPdHeader, h, sizeof h);
  }
  r->BinFlag = 0;
  if (ParsePdFlag(h, r->BinFlag)) {
    LogPrint(t.out, "    PD_Bin_FLAG = %08X\n", r->BinFlag);
  } else {
    LogPrint(t.out, "    PD_Bin_FLAG_Not_Found\n");
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
    LogPrint(t.out, "Protection : FW_Open_Fail.\n");
    return 0;
  }
  const int64_t size = FileLength(f.get());
  if (size > kMaxFileSize) {
    LogPrint(t.out, "Protection : FW_Size_%dK_Over.\n", static_cast<int>(size >> 10));
    return 0;
  }
  if (size > 0) ReadFileAt(f.get(), 0, image.get(), static_cast<size_t>(size));
  if (image[0] != kPdImageMarker) {
    LogPrint(t.out, "Protection : FW_Data[0]_Error.\n");
    return 0;
  }
  // The formal version sits in one of two windows of the image.
  uint32_t formal = 0;
  bool found = false;
  for (const uint32_t base : {0x1000u, 0x4000u}) {
    const int k = FindFormalVersion(image.get() + base);
    if (k < 0) continue;
    formal = Be32(image.get() + base + k);
    found = true;
    break;
  }
  if (!found) return 0;
  r->BinFormalVersion = formal;
  LogPrint(t.out, "=     Formal Version is %02X.%02X.%02X.%02X     =\n", formal >> 24,
           (formal >> 16) & 0xFF, (formal >> 8) & 0xFF, formal & 0xFF);
  LogPrint(t.out, "%s", kBoxLine);
  return 1;
}

uint32_t CheckPdBin(Tool& t, uint8_t d, uint8_t fid_byte, uint32_t size) {
  const uint8_t fid = fid_byte < 0xA0 ? fid_byte & 0x0F : fid_byte;
  const Controller* chip = d < t.Pd.size() ? ControllerByChip(t.Pd[d].ChipCode()) : nullptr;
  uint32_t ok = chip && chip->image_size != 0 && (fid == chip->fid_a || fid == chip->fid_b) &&
                        size == chip->image_size
                    ? 1
                    : 0;
  if (fid == 0x00 || fid == 0x0F) {
    LogPrint(t.out, "    Test_Bin_File, No_Check.\n");
    ok = 1;
  }
  if (t.set.SecondSPIUpdateOnly) {
    LogPrint(t.out, "    Write_2nd_SPI, No_Check.\n");
    ok = 1;
  }
  if (t.set.SkipJumpRom) {
    LogPrint(t.out, "    FW_Code_Update, No_Check.\n");
    ok = 1;
  }
  if (t.set.SkipCheckBin) {
    LogPrint(t.out, "    Skip_Check_Bin\n");
    return 1;
  }
  return ok;
}

}  // namespace pdflash
