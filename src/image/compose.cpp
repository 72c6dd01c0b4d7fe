#include "image/compose.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/ini.h"
#include "app/log.h"
#include "core/bytes.h"
#include "image/checksum.h"
#include "image/file_bytes.h"
#include "ops/companion_files.h"
#include "ops/pd_file.h"

namespace pdflash {

namespace {

constexpr const char* kSettingFile = "Setting.ini";
constexpr uint32_t kWorkBuffer = 0x200000;
constexpr uint32_t kPdImageLength = 0x40000;
constexpr uint32_t kPdVmm6ImageLength = 0x200000;

// Sum of little-endian 16-bit words, modulo 0x10000.
uint16_t WordSumLe(const uint8_t* b, uint32_t len) {
  uint32_t s = 0;
  for (uint32_t i = 0; i + 1 < len; i += 2) s += Le16(b + i);
  return static_cast<uint16_t>(s);
}

uint8_t Bcd(int v) {
  return static_cast<uint8_t>(((v / 10) % 10) << 4 | (v % 10));
}

void PutLabel(uint8_t* zone, uint32_t offset, const char* text) {
  std::memcpy(zone + offset, text, std::strlen(text));
}

// Reads a firmware file into buf; prints the size line and refuses sizes
// outside [min, max]. Returns the size, or 0 after printing the failure.
uint32_t LoadFirmware(Tool& t, const std::string& path, uint8_t* buf, uint32_t min, uint32_t max,
                      const char* open_fail, const char* size_line) {
  FilePtr f(t.Open(path, "rb"));
  if (!f) {
    LogPrint(t, "%s", open_fail);
    return 0;
  }
  const int64_t size = FileLength(f.get());
  LogPrint(t, size_line, static_cast<uint32_t>(size));
  if (size < min || size > max) {
    LogPrint(t, "Protection : FW_Size_%dK_Error.\n", static_cast<int>(size / 1024));
    return 0;
  }
  ReadFileAt(f.get(), 0, buf, static_cast<size_t>(size));
  return static_cast<uint32_t>(size);
}

// Writes a whole output file; a file that could not be written completely is
// removed so that no partial image is left behind.
bool WriteOutput(Tool& t, const std::string& name, const uint8_t* data, uint32_t length) {
  FILE* f = t.Open(name, "wb");
  if (!f) return false;
  const bool written = WriteWholeFile(f, data, length);
  const bool closed = std::fclose(f) == 0;
  if (written && closed) return true;
  std::remove(t.Resolve(name).c_str());
  return false;
}

}  // namespace

uint32_t BuildInfoZone(Tool& t, uint8_t* zone, uint8_t mask, uint32_t image_length) {
  uint32_t versions[5];
  int slots = 0;
  if (mask & 0x01) versions[slots++] = GetHubBinVersion(t, 1);
  if (mask & 0x02) versions[slots++] = GetHubBinVersion(t, 2);
  if (mask & 0x04) versions[slots++] = GetPdBinVersion(t, 1);
  if (mask & 0x08) versions[slots++] = GetDpBinVersion(t, 1);
  if (mask & 0x10) versions[slots++] = GetVmm6BinVersion(t);

  if (slots > 0) {
    std::memset(zone, 0, kInfoZoneSize);
    PutLabel(zone, 0, "KMX_FWImage_v0.1");
    std::string project;
    if (!ReadIniString(t, "Config", "ImgProject", project, 33, "", kSettingFile))
      project = "KMX_Image_Basic.";
    std::memcpy(zone + 32, project.data(), std::min<size_t>(project.size(), 32));
    PutLabel(zone, 64, "Image_Size:");
    PutBe32(zone + 76, image_length);
    PutLabel(zone, 80, "Image_Date:");
    const LocalTime now = t.clock.Local();
    zone[92] = Bcd(now.year / 100);
    zone[93] = Bcd(now.year % 100);
    zone[94] = Bcd(now.month);
    zone[95] = Bcd(now.day);
    for (int k = 0; k < slots; ++k) {
      char label[16];
      FormatText(label, sizeof label, "Dev%d_FWVer:", k + 1);
      PutLabel(zone, 96 + 16 * k, label);
      PutBe32(zone + 108 + 16 * k, versions[k]);
    }
  }
  // Stored high byte first so that the zone's own one's-complement sum is 0xFFFF.
  PutBe16(zone + kInfoZoneSize - 2, CheckSum16(t, zone, kInfoZoneSize - 2));
  return 1;
}

void CreatePdImage(Tool& t) {
  auto file = NewBuffer(kWorkBuffer, 0xFF);
  auto image = NewBuffer(kWorkBuffer, 0xFF);
  auto zone = NewBuffer(kInfoZoneSize, 0x00);
  if (!file || !image || !zone) return;
  LogPrint(t, "Generate_128K_Offset_Image_Only.\n");

  DeviceRecord& pd = t.Pd[1];
  if (!ReadIniString(t, "Config", "PD1Bin", pd.BinPath, kPathSize, "NA", kSettingFile)) {
    LogPrint(t, "PD1_Bin_Error.\n");
    return;
  }
  const uint32_t pd_size =
      LoadFirmware(t, pd.BinPath, file.get(), 0x8000, 0x10000, "Protection : PD1_Bin_Open_Fail.\n",
                   "    PD1_TotalByte = 0x%X\n");
  if (pd_size == 0) return;
  if (file[0] != 0x02) {
    LogPrint(t, "Protection : PDFW_Data[0]_Error.\n");
    return;
  }
  if (!Crc16Trailer(file.get(), pd_size)) {
    LogPrint(t, "Protection: Bin_CRC16=%04X\n",
             GetCrc16(file.get(), static_cast<int32_t>(pd_size - 2)));
    return;
  }
  // The controller keeps a 32 KiB image's second copy at 0x028000, larger ones at 0x030000.
  std::memcpy(image.get() + kImagePdCopy1, file.get(), pd_size);
  std::memcpy(image.get() + (pd_size == 0x8000 ? 0x028000 : 0x030000), file.get(), pd_size);

  uint32_t length = kPdImageLength;
  const bool with_vmm6 = t.set.PDVMM6ShareSPI != 0;
  if (with_vmm6) {
    LogPrint(t, "Add_VMM6_FW_to_Image.\n");
    LogPrint(t, "Windows_Cmd: certutil -hashfile NewPD1VMM6Image_20221117.Bin\n");
    length = kPdVmm6ImageLength;
    DeviceRecord& vmm = t.Vmm6[1];
    if (!ReadIniString(t, "Config", "VMM6Bin", vmm.BinPath, kPathSize, "NA", kSettingFile)) {
      LogPrint(t, "VMM6_Bin_Error.\n");
      return;
    }
    std::memset(file.get(), 0xFF, kWorkBuffer);
    const uint32_t vmm_size =
        LoadFirmware(t, vmm.BinPath, file.get(), 0x20000, 0x100000,
                     "Protection : VMM6_Bin_Open_Fail.\n", "    VMM6_TotalByte = 0x%X\n");
    if (vmm_size == 0) return;
    std::memcpy(image.get() + kImageVmm6, file.get(), vmm_size);
  }

  uint16_t image_checksum = 0;
  if (t.set.CreatePDImgOnly >= 2) {
    LogPrint(t, "    Add_Image_Information_zone\n");
    if (BuildInfoZone(t, zone.get(), with_vmm6 ? 0x14 : 0x04, length) == 1) {
      std::memcpy(image.get() + kImageZone1, zone.get(), kInfoZoneSize);
      std::memcpy(image.get() + kImageZone2, zone.get(), kInfoZoneSize);
    }
    // -S takes the place of zone copy 2's own checksum, so the image's word sum
    // ends up as the negation of that checksum.
    const uint16_t sum = WordSumLe(image.get(), length);
    LogPrint(t, "    Ushort_Sum = %04X\n", sum);
    PutLe16(image.get() + kImageSumWord, static_cast<uint16_t>(0x10000u - sum));
    LogPrint(t, "    verify_Sum = %04X\n", WordSumLe(image.get(), length));
    image_checksum = CheckSum16(t, image.get(), length);
    LogPrint(t, "    IPv4_CheckSum = %04X\n", image_checksum);
  }

  const LocalTime now = t.clock.Local();
  const char* base = with_vmm6 ? "NewPD1VMM6Image" : "NewPD1Image";
  char name[kPathSize];
  if (image_checksum != 0)
    FormatText(name, sizeof name, "%s_%04d%02d%02d_%04X.bin", base, now.year, now.month, now.day,
               image_checksum);
  else
    FormatText(name, sizeof name, "%s_%04d%02d%02d.bin", base, now.year, now.month, now.day);
  if (!WriteOutput(t, name, image.get(), length)) {
    LogPrint(t, "Protection : NewPD1Image_Open_Fail.\n");
    return;
  }
  LogPrint(t, "Create NewImage.Bin OK.\n");
}

void CreateCrc16Image(Tool& t, uint8_t size_kib) {
  constexpr uint32_t kMax = 0x40000;
  LogPrint(t, "Create_CRC16_at_%dK_Only.\n", size_kib);
  auto buf = NewBuffer(kMax, 0xFF);
  if (!buf) return;
  const uint32_t target = uint32_t{size_kib} * 1024;
  if (target < 4096) {
    LogPrint(t, "Protection : Target_Size_Small.\n");
    return;
  }
  {
    FilePtr in(t.Open("ASIC_SPI.bin", "rb"));
    if (!in) {
      LogPrint(t, "Protection : ASIC_SPI.bin_Open_Fail.\n");
      return;
    }
    const int64_t size = FileLength(in.get());
    LogPrint(t, "    ASIC_TotalByte = 0x%X\n", static_cast<uint32_t>(size));
    if (size < 4096 || size > kMax) {
      LogPrint(t, "Protection : FW_Size_%dK_Error.\n", static_cast<int>(size / 1024));
      return;
    }
    ReadFileAt(in.get(), 0, buf.get(), static_cast<size_t>(size));
  }
  StampCrc16(buf.get(), target);
  if (!WriteOutput(t, "ASIC_SPI_CRC.bin", buf.get(), target)) {
    LogPrint(t, "Protection : ASIC_SPI_CRC_%dK.bin_Open_Fail.\n", size_kib);
    return;
  }
  LogPrint(t, "Generate ASIC_SPI_CRC_PD.Bin OK.\n");
}

}  // namespace pdflash
