#include "image/compose.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "core/bytes.h"
#include "image/checksum.h"
#include "ops/image_files.h"
#include "support/harness.h"
#include "tools/fwgen.h"

namespace pdflash {
namespace {

using test::ReadBytes;
using test::WriteBytes;
using Bytes = std::vector<uint8_t>;
using Parts = std::initializer_list<std::pair<size_t, Bytes>>;

// An erased image holding the parts given.
Bytes Image(size_t size, Parts parts) {
  Bytes b(size, 0xFF);
  for (const auto& [at, part] : parts) std::copy(part.begin(), part.end(), b.begin() + at);
  return b;
}

// An information zone without its closing word.
Bytes Zone(const std::string& project, uint32_t size, uint32_t date,
           const std::vector<uint32_t>& versions) {
  Bytes z(4096, 0);
  auto put = [&](size_t at, const std::string& s) { std::copy(s.begin(), s.end(), &z[at]); };
  put(0, "KMX_FWImage_v0.1");
  put(32, project);
  put(64, "Image_Size:");
  PutBe32(&z[76], size);
  put(80, "Image_Date:");
  PutBe32(&z[92], date);  // BCD century, year, month, day
  for (size_t i = 0; i < versions.size(); ++i) {
    put(96 + 16 * i, "Dev" + std::to_string(i + 1) + "_FWVer:");
    PutBe32(&z[108 + 16 * i], versions[i]);
  }
  return z;
}

uint16_t WordSumLe(const Bytes& b) {
  uint32_t s = 0;
  for (size_t i = 0; i + 1 < b.size(); i += 2) s += Le16(&b[i]);
  return static_cast<uint16_t>(s);
}

// The image byte by byte: erased, the parts, and the zone's two copies. Copy 1
// closes its own one's-complement sum; copy 2's last word closes the image's
// word sum.
void ExpectImage(Tool& t, const Bytes& img, size_t size, Parts parts, Bytes zone) {
  ASSERT_EQ(img.size(), size);
  Bytes want = Image(size, parts);
  EXPECT_EQ(CheckSum16(t.out, &img[kImageZone1], kInfoZoneSize), 0x0000);
  std::copy(&img[kImageZone1 + 4094], &img[kImageZone1 + 4096], &zone[4094]);
  EXPECT_EQ(static_cast<uint16_t>(WordSumLe(img) + Le16(&zone[4094])), 0);
  std::copy(zone.begin(), zone.end(), &want[kImageZone1]);
  std::copy(zone.begin(), zone.end() - 2, &want[kImageZone2]);
  std::copy(&img[kImageSumWord], &img[kImageSumWord + 2], &want[kImageSumWord]);
  EXPECT_TRUE(img == want);
}

struct Compose : test::ToolFixture {
  Bytes pd;
  std::string name;  // of the image written
  Compose(uint32_t size, const std::string& settings = "", uint32_t version = 0x0E010100)
      : pd(fwgen::MakePdFirmware({.size = size, .version = version})) {
    WriteBytes(dir / "pd.bin", pd);
    test::WriteFile(dir / "Setting.ini", "[Config]\nPD1Bin=pd.bin\n" + settings);
  }
  Bytes Run(uint8_t mode) {
    t.set.CreatePDImgOnly = mode;
    CreatePdImage(t);
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
      if (e.path().filename().string().rfind("NewPD1", 0) == 0) name = e.path().filename().string();
    return name.empty() ? Bytes{} : ReadBytes(dir / name);
  }
};

TEST(CreatePdImage, PlainImagePlacesTheCopiesBySize) {
  for (const auto& [size, copy2] : {std::pair{0x8000u, 0x28000u}, std::pair{0x8001u, 0x30000u}}) {
    Compose fx(size);
    EXPECT_TRUE(fx.Run(1) == Image(0x40000, {{0x20000, fx.pd}, {copy2, fx.pd}}));  // no zone
    EXPECT_EQ(fx.name, "NewPD1Image_20261206.bin");
    EXPECT_EQ(fx.console.out, "Generate_128K_Offset_Image_Only.\n    PD1_TotalByte = 0x" +
                                  std::to_string(size == 0x8000 ? 8000 : 8001) +
                                  "\nCreate NewImage.Bin OK.\n");
  }
}

TEST(CreatePdImage, InformationZoneSumWordAndChecksumName) {
  Compose fx(0xC800, "ImgProject=P123456789abcdefghijklmnopqrstuvwxyz_40c\n", 0x0E010203);
  const auto img = fx.Run(2);
  ExpectImage(fx.t, img, 0x40000, {{0x20000, fx.pd}, {0x30000, fx.pd}},
              Zone("P123456789abcdefghijklmnopqrstuv", 0x40000, 0x20261206, {0x0E010203}));
  const uint16_t sum = CheckSum16(fx.t.out, img.data(), 0x40000);
  char name[64], lines[512];
  std::snprintf(name, sizeof name, "NewPD1Image_20261206_%04X.bin", sum);
  EXPECT_EQ(fx.name, name);
  std::snprintf(lines, sizeof lines,
                "Generate_128K_Offset_Image_Only.\n    PD1_TotalByte = 0xC800\n"
                "    Add_Image_Information_zone\n"
                "=========================================\n"
                "=    PD[1] Bin Version is 0E.01.02.03   =\n"
                "=========================================\n"
                "    Ushort_Sum = %04X\n    verify_Sum = %04X\n    IPv4_CheckSum = %04X\n"
                "Create NewImage.Bin OK.\n",
                static_cast<uint16_t>(0x10000 - Le16(&img[0x1FFFE])), WordSumLe(img), sum);
  EXPECT_EQ(fx.console.out, lines);
}

TEST(CreatePdImage, WithVmm6FirmwareDefaultProjectAndTheClocksDate) {
  Compose fx(0x10000, "VMM6Bin=vmm6.bin\nImgProject=\n", 0xA1010100);
  fx.clock = VirtualClock({1999, 3, 9, 23, 59, 59});
  fx.clock.Advance(2'000'000);  // past midnight: the date is taken when the image is built
  const auto vmm = fwgen::MakeVmm6Firmware({});
  WriteBytes(fx.dir / "vmm6.bin", vmm);
  fx.t.set.PDVMM6ShareSPI = 1;
  const auto img = fx.Run(2);
  EXPECT_EQ(fx.name.substr(0, 25), "NewPD1VMM6Image_19990310_");
  ExpectImage(fx.t, img, 0x200000, {{0x20000, fx.pd}, {0x30000, fx.pd}, {0x100000, vmm}},
              Zone("KMX_Image_Basic.", 0x200000, 0x19990310, {0xA1010100, 0x01020304}));
}

TEST(CreatePdImage, RefusalsWriteNoImage) {
  const auto good = fwgen::MakePdFirmware({.size = 0x8000});
  auto bad_marker = good, bad_crc = good;
  bad_marker[0] = 0x03;
  bad_crc[0x100] ^= 1;
  char crc_line[64];
  std::snprintf(crc_line, sizeof crc_line, "Protection: Bin_CRC16=%04X\n",
                GetCrc16(bad_crc.data(), 0x7FFE));
  const std::string ok = "    PD1_TotalByte = 0x8000\n";
  const std::string vmm6 = ok +
                           "Add_VMM6_FW_to_Image.\n"
                           "Windows_Cmd: certutil -hashfile NewPD1VMM6Image_20221117.Bin\n";
  const std::tuple<std::string, Bytes, std::string> cases[] = {
      {"PD2Bin=pd.bin\n", good, "PD1_Bin_Error.\n"},
      {"PD1Bin=other.bin\n", good, "Protection : PD1_Bin_Open_Fail.\n"},
      {"PD1Bin=pd.bin\n", Bytes(0x7FFF, 0x02),
       "    PD1_TotalByte = 0x7FFF\nProtection : FW_Size_31K_Error.\n"},
      {"PD1Bin=pd.bin\n", bad_marker, ok + "Protection : PDFW_Data[0]_Error.\n"},
      {"PD1Bin=pd.bin\n", bad_crc, ok + crc_line},
      {"PD1Bin=pd.bin\n", good, vmm6 + "VMM6_Bin_Error.\n"},
      {"PD1Bin=pd.bin\nVMM6Bin=pd.bin\n", good,
       vmm6 + "    VMM6_TotalByte = 0x8000\nProtection : FW_Size_32K_Error.\n"},
  };
  for (const auto& [settings, pd, tail] : cases) {
    Compose fx(0x8000);
    test::WriteFile(fx.dir / "Setting.ini", "[Config]\n" + settings);
    WriteBytes(fx.dir / "pd.bin", pd);
    fx.t.set.PDVMM6ShareSPI = tail.find("VMM6") != std::string::npos;
    EXPECT_TRUE(fx.Run(2).empty());
    EXPECT_EQ(fx.console.out, "Generate_128K_Offset_Image_Only.\n" + tail);
  }
}

TEST(CreateCrc16Image, StampsPadsCutsAndRefuses) {
  test::ToolFixture fx;
  Bytes in(60 * 1024);
  for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 13 + (i >> 8));
  WriteBytes(fx.dir / "ASIC_SPI.bin", in);
  CreateCrc16Image(fx.t, 64);
  auto want = Image(0x10000, {{0, in}});
  StampCrc16(want.data(), 0x10000);
  EXPECT_TRUE(ReadBytes(fx.dir / "ASIC_SPI_CRC.bin") == want);
  CreateCrc16Image(fx.t, 8);  // a target below the input's size cuts it
  want.resize(0x2000);
  StampCrc16(want.data(), 0x2000);
  EXPECT_TRUE(ReadBytes(fx.dir / "ASIC_SPI_CRC.bin") == want);
  EXPECT_EQ(fx.console.out,
            "Create_CRC16_at_64K_Only.\n    ASIC_TotalByte = 0xF000\n"
            "Generate ASIC_SPI_CRC_PD.Bin OK.\nCreate_CRC16_at_8K_Only.\n"
            "    ASIC_TotalByte = 0xF000\nGenerate ASIC_SPI_CRC_PD.Bin OK.\n");
  WriteBytes(fx.dir / "ASIC_SPI.bin", Bytes(0x40000, 7));  // the largest of both
  CreateCrc16Image(fx.t, 255);
  EXPECT_EQ(ReadBytes(fx.dir / "ASIC_SPI_CRC.bin").size(), 255u * 1024);

  const std::tuple<uint8_t, size_t, std::string> cases[] = {
      {3, 0x1000, "Protection : Target_Size_Small.\n"},
      {64, 0, "Protection : ASIC_SPI.bin_Open_Fail.\n"},  // no input file
      {64, 0xFFF, "    ASIC_TotalByte = 0xFFF\nProtection : FW_Size_3K_Error.\n"},
      {64, 0x40001, "    ASIC_TotalByte = 0x40001\nProtection : FW_Size_256K_Error.\n"},
  };
  for (const auto& [kib, input, tail] : cases) {
    test::ToolFixture one;
    if (input) WriteBytes(one.dir / "ASIC_SPI.bin", Bytes(input, 1));
    CreateCrc16Image(one.t, kib);
    EXPECT_EQ(one.console.out, "Create_CRC16_at_" + std::to_string(kib) + "K_Only.\n" + tail);
    EXPECT_FALSE(test::FileExists(one.dir / "ASIC_SPI_CRC.bin"));
  }
}

// Through the whole program: the image functions' own result is the run's,
// and their files come from the settings file the run reads.
TEST(ImageFunctions, ResultIsTheFunctionsAndTheRunsSettingsFileNamesTheFiles) {
  test::Program failed;
  failed.Settings("CreatePDImgOnly=1\nPD1Bin=missing.bin\n");
  EXPECT_EQ(failed.Run(), 0u);
  EXPECT_NE(failed.out.find("Protection : PD1_Bin_Open_Fail.\n"), std::string::npos);
  EXPECT_NE(failed.out.find("\nReturn_Value = 0x0\n"), std::string::npos);

  test::Program crc;
  crc.Settings("CreateCRC16Only=40\n");  // no ASIC_SPI.bin
  EXPECT_EQ(crc.Run(), 0u);
  EXPECT_NE(crc.out.find("Protection : ASIC_SPI.bin_Open_Fail.\n"), std::string::npos);

  test::Program other;
  other.Settings("CreatePDImgOnly=2\nPD1Bin=missing.bin\nImgProject=FromSettingIni\n");
  test::WriteBytes(other.File("pd.bin"), fwgen::MakePdFirmware({.size = 0x8000}));
  test::WriteFile(other.File("Other.ini"),
                  "[Config]\nCreatePDImgOnly=2\nPD1Bin=pd.bin\nImgProject=FromOtherIni\n");
  EXPECT_EQ(other.Run({"/INI", "Other.ini"}), 1u);
  std::string name;
  for (const auto& e : std::filesystem::directory_iterator(other.dir.path()))
    if (e.path().filename().string().rfind("NewPD1Image_", 0) == 0) name = e.path().string();
  ASSERT_FALSE(name.empty()) << other.out;
  const auto image = test::ReadBytes(name);
  const std::string project(image.begin() + kImageZone1 + 32, image.begin() + kImageZone1 + 44);
  EXPECT_EQ(project, "FromOtherIni");
}

}  // namespace
}  // namespace pdflash
