#include "ops/file_image.h"

#include <algorithm>
#include <cstdio>

#include "core/bytes.h"
#include "core/files.h"
#include "image/checksum.h"
#include "image/flash_map.h"
#include "image/pd_image.h"
#include "ops/pd_file.h"

namespace pdflash {

namespace {

constexpr uint32_t kPdFileLimit = 0x20000;

}  // namespace

FileRead ReadFirmwareFile(const Tool& t, const std::string& path, uint32_t capacity,
                          std::vector<uint8_t>& buffer, uint32_t& size, uint64_t* length_out) {
  buffer.assign(capacity, 0);
  size = 0;
  FilePtr f(t.Open(path, "rb"));
  if (!f) return FileRead::OpenFailed;
  const int64_t length = FileLength(f.get());
  if (length_out) *length_out = length < 0 ? 0 : static_cast<uint64_t>(length);
  // A size past 32 bits stays too large instead of wrapping to a small one.
  size = length < 0 ? 0 : static_cast<uint32_t>(std::min<int64_t>(length, UINT32_MAX));
  if (length < 0 || length > int64_t{capacity}) return FileRead::TooLarge;
  size = static_cast<uint32_t>(ReadFileAt(f.get(), 0, buffer.data(), size));
  return FileRead::Ok;
}

bool ImageCrcMatches(Tool& t, const std::vector<uint8_t>& image, uint32_t size) {
  const uint16_t crc = size >= 2 ? GetCrc16(image.data(), static_cast<int32_t>(size - 2)) : 0;
  if (size >= 2 && Le16(&image[size - 2]) == crc) return true;
  LogPrint(t.out, "Protection: Bin_CRC16=%04X\n", crc);
  return false;
}

bool LoadPdImage(Tool& t, uint8_t d, PdImageUse use, std::vector<uint8_t>& image, uint32_t& size) {
  const bool update = use == PdImageUse::Update;
  uint64_t length = 0;
  const FileRead read = ReadFirmwareFile(t, t.Pd[d].BinPath, kPdFileLimit, image, size, &length);
  if (read == FileRead::OpenFailed) return LogPrint(t.out, "Protection : FW_Open_Fail.\n"), false;
  // Copy 2 starts one copy area after copy 1, so a larger image would
  // overwrite the other copy while it is being written.
  if (read == FileRead::TooLarge || (update && size > kPdCopyArea)) {
    LogPrint(t.out,
             update ? "Protection : PDFW_Size_%dK_Over.\n" : "Protection : FW_Size_%dK_Over.\n",
             SizeKib(length));
    return false;
  }
  if (image[0] != kPdImageMarker)
    return LogPrint(t.out, "Protection : PDFW_Data[0]_Error.\n"), false;
  const uint8_t fid_byte = image[kPdHeader];
  if (CheckPdBin(t, d, fid_byte, size) != 1) {
    if (update)
      LogPrint(t.out, "Protection: Bin_Not_Match:PJID=%08X, FID=%X, Size=%04X\n", t.Pd[d].ProjectId,
               fid_byte & 0x0F, size);
    else
      LogPrint(t.out, "Protection: Bin_Not_Match:PID=%04X, FID=%X, Size=%04X\n", t.Pd[d].CurPid,
               fid_byte & 0x0F, size);
    return false;
  }
  if (update && t.set.NoDowngrade) {
    GetPdBinVersion(t, d);
    const DeviceRecord& r = t.Pd[d];
    if ((r.BinVersion & 0xFF00) < (r.FwVersion & 0xFF00)) {
      LogPrint(t.out, "No_Downgrade, Bin=%08X, Dev=%08X\n", r.BinVersion, r.FwVersion);
      return false;
    }
  }
  return ImageCrcMatches(t, image, size);
}

}  // namespace pdflash
