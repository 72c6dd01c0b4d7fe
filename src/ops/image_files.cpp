#include "ops/image_files.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/bytes.h"
#include "core/files.h"
#include "core/ini.h"
#include "image/checksum.h"
#include "image/compose.h"
#include "image/flash_map.h"
#include "image/pd_image.h"
#include "ops/dp.h"
#include "ops/hub.h"
#include "ops/pd_file.h"
#include "ops/vmm6.h"

namespace pdflash {

namespace {

constexpr uint32_t kWorkBuffer = 0x200000;
constexpr uint32_t kPdImageLength = 0x40000;
constexpr uint32_t kPdVmm6ImageLength = 0x200000;

// Reads a firmware file into buf; prints the size line and refuses sizes
// outside [min, max]. Returns the size, or 0 after printing the failure.
uint32_t LoadFirmware(Tool& t, const std::string& path, uint8_t* buf, uint32_t min, uint32_t max,
                      const char* open_fail, const char* size_line) {
  FilePtr f(t.Open(path, "rb"));
  if (!f) {
    LogPrint(t.out, "%s", open_fail);
    return 0;
  }
  const int64_t size = FileLength(f.get());
  LogPrint(t.out, size_line, static_cast<uint32_t>(std::min<int64_t>(size, UINT32_MAX)));
  if (size < min || size > max) {
    LogPrint(t.out, "Protection : FW_Size_%dK_Error.\n", static_cast<int>(size / 1024));
    return 0;
  }
  ReadFileAt(f.get(), 0, buf, static_cast<size_t>(size));
  return static_cast<uint32_t>(size);
}

// Writes a whole output file; it replaces a file of that name only once it
// is complete, so no partial image is left behind. 1 = written, 0 = cannot
// be created, -1 = the write failed (its line is printed).
int WriteOutput(Tool& t, const std::string& name, const uint8_t* data, uint32_t length) {
  StagedFile file(t.cwd, name);
  if (!file.Open()) return 0;
  file.Write(data, length);
  if (file.Commit()) return 1;
  PrintWriteFailure(t.out, name);
  return -1;
}

// The information zone for the device mask (bit 0 hub 1, bit 1 hub 2, bit 2
// PD, bit 3 DP, bit 4 VMM6 file versions).
void FillInfoZone(Tool& t, uint8_t* zone, uint8_t mask, uint32_t image_length) {
  std::vector<uint32_t> versions;
  if (mask & 0x01) versions.push_back(GetHubBinVersion(t, 1));
  if (mask & 0x02) versions.push_back(GetHubBinVersion(t, 2));
  if (mask & 0x04) versions.push_back(GetPdBinVersion(t, 1));
  if (mask & 0x08) versions.push_back(GetDpBinVersion(t, 1));
  if (mask & 0x10) versions.push_back(GetVmm6BinVersion(t));
  std::string project;
  if (!versions.empty() &&
      !ReadIniString(t.cwd, "Config", "ImgProject", project, 33, "", t.IniFile))
    project = "KMX_Image_Basic.";
  BuildInfoZone(t.out, zone, versions, project, t.clock.Local(), image_length);
}

}  // namespace

uint32_t CreatePdImage(Tool& t) {
  auto file = NewBuffer(kWorkBuffer, 0xFF);
  auto image = NewBuffer(kWorkBuffer, 0xFF);
  auto zone = NewBuffer(kInfoZoneSize, 0x00);
  if (!file || !image || !zone) return 0;
  LogPrint(t.out, "Generate_128K_Offset_Image_Only.\n");

  DeviceRecord& pd = t.Pd[1];
  if (!ReadIniString(t.cwd, "Config", "PD1Bin", pd.BinPath, kPathSize, "NA", t.IniFile)) {
    LogPrint(t.out, "PD1_Bin_Error.\n");
    return 0;
  }
  const uint32_t pd_size =
      LoadFirmware(t, pd.BinPath, file.get(), 0x8000, 0x10000, "Protection : PD1_Bin_Open_Fail.\n",
                   "    PD1_TotalByte = 0x%X\n");
  if (pd_size == 0) return 0;
  if (file[0] != kPdImageMarker) {
    LogPrint(t.out, "Protection : PDFW_Data[0]_Error.\n");
    return 0;
  }
  if (!Crc16Trailer(file.get(), pd_size)) {
    LogPrint(t.out, "Protection: Bin_CRC16=%04X\n",
             GetCrc16(file.get(), static_cast<int32_t>(pd_size - 2)));
    return 0;
  }
  std::memcpy(image.get() + kPdCopy1, file.get(), pd_size);
  std::memcpy(image.get() + PdCopy2(pd_size), file.get(), pd_size);

  uint32_t length = kPdImageLength;
  const bool with_vmm6 = t.set.PDVMM6ShareSPI != 0;
  if (with_vmm6) {
    LogPrint(t.out, "Add_VMM6_FW_to_Image.\n");
    LogPrint(t.out, "Windows_Cmd: certutil -hashfile NewPD1VMM6Image_20221117.Bin\n");
    length = kPdVmm6ImageLength;
    DeviceRecord& vmm = t.Vmm6[1];
    if (!ReadIniString(t.cwd, "Config", "VMM6Bin", vmm.BinPath, kPathSize, "NA", t.IniFile)) {
      LogPrint(t.out, "VMM6_Bin_Error.\n");
      return 0;
    }
    std::memset(file.get(), 0xFF, kWorkBuffer);
    const uint32_t vmm_size =
        LoadFirmware(t, vmm.BinPath, file.get(), 0x20000, 0x100000,
                     "Protection : VMM6_Bin_Open_Fail.\n", "    VMM6_TotalByte = 0x%X\n");
    if (vmm_size == 0) return 0;
    std::memcpy(image.get() + kImageVmm6, file.get(), vmm_size);
  }

  uint16_t image_checksum = 0;
  if (t.set.CreatePDImgOnly >= 2) {
    LogPrint(t.out, "    Add_Image_Information_zone\n");
    FillInfoZone(t, zone.get(), with_vmm6 ? 0x14 : 0x04, length);
    std::memcpy(image.get() + kImageZone1, zone.get(), kInfoZoneSize);
    std::memcpy(image.get() + kImageZone2, zone.get(), kInfoZoneSize);
    // -S takes the place of zone copy 2's own checksum, so the image's word sum
    // ends up as the negation of that checksum.
    const uint16_t sum = WordSumLe(image.get(), length);
    LogPrint(t.out, "    Ushort_Sum = %04X\n", sum);
    PutLe16(image.get() + kImageSumWord, static_cast<uint16_t>(0x10000u - sum));
    LogPrint(t.out, "    verify_Sum = %04X\n", WordSumLe(image.get(), length));
    image_checksum = CheckSum16(t.out, image.get(), length);
    LogPrint(t.out, "    IPv4_CheckSum = %04X\n", image_checksum);
  }

  const LocalTime now = t.clock.Local();
  const char* base = with_vmm6 ? "NewPD1VMM6Image" : "NewPD1Image";
  char name[kPathSize];
  if (image_checksum != 0)
    FormatText(name, sizeof name, "%s_%04d%02d%02d_%04X.bin", base, now.year, now.month, now.day,
               image_checksum);
  else
    FormatText(name, sizeof name, "%s_%04d%02d%02d.bin", base, now.year, now.month, now.day);
  if (const int written = WriteOutput(t, name, image.get(), length); written != 1) {
    if (written == 0) LogPrint(t.out, "Protection : NewPD1Image_Open_Fail.\n");
    return 0;
  }
  LogPrint(t.out, "Create NewImage.Bin OK.\n");
  return 1;
}

uint32_t CreateCrc16Image(Tool& t, uint8_t size_kib) {
  constexpr uint32_t kMax = 0x40000;
  LogPrint(t.out, "Create_CRC16_at_%dK_Only.\n", size_kib);
  auto buf = NewBuffer(kMax, 0xFF);
  if (!buf) return 0;
  const uint32_t target = uint32_t{size_kib} * 1024;
  if (target < 4096) {
    LogPrint(t.out, "Protection : Target_Size_Small.\n");
    return 0;
  }
  {
    FilePtr in(t.Open("ASIC_SPI.bin", "rb"));
    if (!in) {
      LogPrint(t.out, "Protection : ASIC_SPI.bin_Open_Fail.\n");
      return 0;
    }
    const int64_t size = FileLength(in.get());
    LogPrint(t.out, "    ASIC_TotalByte = 0x%X\n",
             static_cast<uint32_t>(std::min<int64_t>(size, UINT32_MAX)));
    if (size < 4096 || size > kMax) {
      LogPrint(t.out, "Protection : FW_Size_%dK_Error.\n", static_cast<int>(size / 1024));
      return 0;
    }
    ReadFileAt(in.get(), 0, buf.get(), static_cast<size_t>(size));
  }
  StampCrc16(buf.get(), target);
  if (const int written = WriteOutput(t, "ASIC_SPI_CRC.bin", buf.get(), target); written != 1) {
    if (written == 0) LogPrint(t.out, "Protection : ASIC_SPI_CRC_%dK.bin_Open_Fail.\n", size_kib);
    return 0;
  }
  LogPrint(t.out, "Generate ASIC_SPI_CRC_PD.Bin OK.\n");
  return 1;
}

}  // namespace pdflash
