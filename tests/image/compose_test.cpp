#include "image/compose.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "image/bytes.h"
#include "image/checksum.h"
#include "support/harness.h"
#include "tools/fwgen.h"

namespace pdflash {
namespace {

using test::FileExists;
using test::ReadBytes;
using test::ToolFixture;
using test::WriteBytes;
using test::WriteFile;

bool AllBytes(const std::vector<uint8_t>& b, size_t from, size_t to, uint8_t value) {
  return std::all_of(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(to),
                     [&](uint8_t x) { return x == value; });
}

bool Holds(const std::vector<uint8_t>& b, size_t at, const std::vector<uint8_t>& part) {
  return b.size() >= at + part.size() &&
         std::equal(part.begin(), part.end(), b.begin() + static_cast<long>(at));
}

uint16_t WordSumLe(const std::vector<uint8_t>& b) {
  uint32_t s = 0;
  for (size_t i = 0; i + 1 < b.size(); i += 2) s += Le16(&b[i]);
  return static_cast<uint16_t>(s);
}

std::vector<std::string> OutputImages(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const std::string n = e.path().filename().string();
    if (n.rfind("NewPD1", 0) == 0) names.push_back(n);
  }
  return names;
}

struct Compose : ToolFixture {
  std::vector<uint8_t> pd;
  void Pd(uint32_t size, uint32_t version = 0x0E010100) {
    fwgen::PdFirmwareSpec s;
    s.size = size;
    s.version = version;
    pd = fwgen::MakePdFirmware(s);
    WriteBytes(dir / "pd.bin", pd);
  }
  void Settings(const std::string& lines) {
    WriteFile(dir / "Setting.ini", "[Config]\nPD1Bin=pd.bin\n" + lines);
  }
};

TEST(CreatePdImage, PlainImageOf32KiBFirmware) {
  Compose fx;
  fx.Pd(0x8000);
  fx.Settings("");
  fx.t.set.CreatePDImgOnly = 1;
  CreatePdImage(fx.t);
  EXPECT_EQ(fx.console.out,
            "Generate_128K_Offset_Image_Only.\n"
            "    PD1_TotalByte = 0x8000\n"
            "Create NewImage.Bin OK.\n");
  EXPECT_EQ(fx.t.Pd[1].BinPath, "pd.bin");
  const auto img = ReadBytes(fx.dir / "NewPD1Image_20261206.bin");
  ASSERT_EQ(img.size(), 0x40000u);
  EXPECT_TRUE(AllBytes(img, 0, 0x20000, 0xFF));  // no information zone
  EXPECT_TRUE(Holds(img, 0x20000, fx.pd));
  EXPECT_TRUE(Holds(img, 0x28000, fx.pd));
  EXPECT_TRUE(AllBytes(img, 0x30000, 0x40000, 0xFF));
}

TEST(CreatePdImage, LargerFirmwareGoesTo0x30000) {
  Compose fx;
  fx.Pd(0x8001);
  fx.Settings("");
  fx.t.set.CreatePDImgOnly = 1;
  CreatePdImage(fx.t);
  const auto img = ReadBytes(fx.dir / "NewPD1Image_20261206.bin");
  ASSERT_EQ(img.size(), 0x40000u);
  EXPECT_TRUE(Holds(img, 0x20000, fx.pd));
  EXPECT_TRUE(AllBytes(img, 0x28001, 0x30000, 0xFF));
  EXPECT_TRUE(Holds(img, 0x30000, fx.pd));
  EXPECT_TRUE(AllBytes(img, 0x38001, 0x40000, 0xFF));
}

TEST(CreatePdImage, InformationZoneSumWordAndChecksumName) {
  Compose fx;
  fx.Pd(0xC800, 0x0E010203);
  fx.Settings("ImgProject=" + std::string("P123456789abcdefghijklmnopqrstuvwxyz_40c") + "\n");
  fx.t.set.CreatePDImgOnly = 2;
  CreatePdImage(fx.t);

  const auto names = OutputImages(fx.dir.path());
  ASSERT_EQ(names.size(), 1u);
  const auto img = ReadBytes(fx.dir / names[0]);
  ASSERT_EQ(img.size(), 0x40000u);
  char want_name[64];
  std::snprintf(want_name, sizeof want_name, "NewPD1Image_20261206_%04X.bin",
                CheckSum16(fx.t, img.data(), 0x40000));
  EXPECT_EQ(names[0], want_name);

  std::vector<uint8_t> zone(img.begin() + 0x1E000, img.begin() + 0x1F000);
  auto text = [&](size_t at, size_t n) {
    return std::string(zone.begin() + static_cast<long>(at),
                       zone.begin() + static_cast<long>(at + n));
  };
  EXPECT_EQ(text(0, 32), std::string("KMX_FWImage_v0.1") + std::string(16, '\0'));
  EXPECT_EQ(text(32, 32), "P123456789abcdefghijklmnopqrstuv");  // first 32 of 40
  EXPECT_EQ(text(64, 12), std::string("Image_Size:") + '\0');
  EXPECT_EQ(Be32(&zone[76]), 0x40000u);
  EXPECT_EQ(text(80, 12), std::string("Image_Date:") + '\0');
  EXPECT_EQ(Be32(&zone[92]), 0x20261206u);  // BCD century, year, month, day
  EXPECT_EQ(text(96, 12), std::string("Dev1_FWVer:") + '\0');
  EXPECT_EQ(Be32(&zone[108]), 0x0E010203u);
  EXPECT_TRUE(AllBytes(zone, 112, 4094, 0x00));
  // The zone's own checksum closes its one's-complement sum.
  EXPECT_EQ(CheckSum16(fx.t, zone.data(), 4096), 0x0000);

  // Copy 2 is the same zone except the last word, which closes the image's word sum.
  EXPECT_TRUE(std::equal(zone.begin(), zone.end() - 2, img.begin() + 0x1F000));
  EXPECT_EQ(static_cast<uint16_t>(WordSumLe(img) + Le16(&zone[4094])), 0);
  const uint16_t stored = Le16(&img[0x1FFFE]);
  EXPECT_TRUE(Holds(img, 0x20000, fx.pd));
  EXPECT_TRUE(Holds(img, 0x30000, fx.pd));
  EXPECT_TRUE(AllBytes(img, 0x3C800, 0x40000, 0xFF));
  EXPECT_TRUE(AllBytes(img, 0, 0x1E000, 0xFF));

  char lines[512];
  std::snprintf(lines, sizeof lines,
                "Generate_128K_Offset_Image_Only.\n"
                "    PD1_TotalByte = 0xC800\n"
                "    Add_Image_Information_zone\n"
                "=========================================\n"
                "=    PD[1] Bin Version is 0E.01.02.03   =\n"
                "=========================================\n"
                "    Ushort_Sum = %04X\n"
                "    verify_Sum = %04X\n"
                "    IPv4_CheckSum = %04X\n"
                "Create NewImage.Bin OK.\n",
                static_cast<uint16_t>(0x10000 - stored), WordSumLe(img),
                CheckSum16(fx.t, img.data(), 0x40000));
  EXPECT_EQ(fx.console.out, lines);
}

TEST(CreatePdImage, DefaultProjectNameAndTheDateOfTheClock) {
  Compose fx;
  fx.clock = VirtualClock({1999, 3, 9, 23, 59, 59});
  fx.clock.Advance(2'000'000);  // past midnight: the date is taken when the image is built
  fx.Pd(0x8000);
  fx.Settings("ImgProject=\n");
  fx.t.set.CreatePDImgOnly = 3;
  CreatePdImage(fx.t);
  const auto names = OutputImages(fx.dir.path());
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0].substr(0, 21), "NewPD1Image_19990310_");
  const auto img = ReadBytes(fx.dir / names[0]);
  EXPECT_EQ(std::string(img.begin() + 0x1E000 + 32, img.begin() + 0x1E000 + 64),
            std::string("KMX_Image_Basic.") + std::string(16, '\0'));
  EXPECT_EQ(Be32(&img[0x1E000 + 92]), 0x19990310u);
}

TEST(CreatePdImage, WithVmm6Firmware) {
  Compose fx;
  fx.Pd(0x10000, 0xA1010100);
  fwgen::Vmm6FirmwareSpec vs;
  vs.a = 1, vs.b = 2, vs.c = 3, vs.d = 4;
  const auto vmm = fwgen::MakeVmm6Firmware(vs);
  WriteBytes(fx.dir / "vmm6.bin", vmm);
  fx.Settings("VMM6Bin=vmm6.bin\n");
  fx.t.set.PDVMM6ShareSPI = 1;
  fx.t.set.CreatePDImgOnly = 2;
  CreatePdImage(fx.t);
  EXPECT_EQ(fx.t.Vmm6[1].BinPath, "vmm6.bin");
  const auto names = OutputImages(fx.dir.path());
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0].substr(0, 25), "NewPD1VMM6Image_20261206_");
  const auto img = ReadBytes(fx.dir / names[0]);
  ASSERT_EQ(img.size(), 0x200000u);
  EXPECT_TRUE(Holds(img, 0x20000, fx.pd));
  EXPECT_TRUE(Holds(img, 0x30000, fx.pd));
  EXPECT_TRUE(AllBytes(img, 0x40000, 0x100000, 0xFF));
  EXPECT_TRUE(Holds(img, 0x100000, vmm));
  EXPECT_TRUE(AllBytes(img, 0x100000 + vmm.size(), 0x200000, 0xFF));
  // Slot 0 is the PD version, slot 1 the VMM6 version.
  const uint8_t* zone = &img[0x1E000];
  EXPECT_EQ(Be32(zone + 76), 0x200000u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(zone + 96)), "Dev1_FWVer:");
  EXPECT_EQ(Be32(zone + 108), 0xA1010100u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(zone + 112)), "Dev2_FWVer:");
  EXPECT_EQ(Be32(zone + 124), 0x01020304u);
  EXPECT_EQ(static_cast<uint16_t>(WordSumLe(img) + Le16(zone + 4094)), 0);
  EXPECT_NE(fx.console.out.find("Add_VMM6_FW_to_Image.\n"
                                "Windows_Cmd: certutil -hashfile NewPD1VMM6Image_20221117.Bin\n"
                                "    VMM6_TotalByte = 0x50000\n"
                                "    Add_Image_Information_zone\n"),
            std::string::npos);
}

TEST(CreatePdImage, RefusalsWriteNoImage) {
  struct Case {
    const char* name;
    std::string settings;
    std::vector<uint8_t> pd;  // empty: no file
    uint8_t vmm6_share;
    std::string tail;
  };
  fwgen::PdFirmwareSpec s;
  s.size = 0x8000;
  const auto good = fwgen::MakePdFirmware(s);
  auto bad_marker = good;
  bad_marker[0] = 0x03;
  auto bad_crc = good;
  bad_crc[0x100] ^= 1;
  char crc_line[64];
  std::snprintf(crc_line, sizeof crc_line, "Protection: Bin_CRC16=%04X\n",
                GetCrc16(bad_crc.data(), 0x7FFE));
  s.size = 0x10001;
  const auto too_big = fwgen::MakePdFirmware(s);
  const std::vector<uint8_t> too_small(0x7FFF, 0x02);
  const std::string head = "Generate_128K_Offset_Image_Only.\n";

  const Case cases[] = {
      {"no key", "[Config]\nPD2Bin=pd.bin\n", good, 0, "PD1_Bin_Error.\n"},
      {"no file", "[Config]\nPD1Bin=other.bin\n", good, 0, "Protection : PD1_Bin_Open_Fail.\n"},
      {"too small", "[Config]\nPD1Bin=pd.bin\n", too_small, 0,
       "    PD1_TotalByte = 0x7FFF\nProtection : FW_Size_31K_Error.\n"},
      {"too big", "[Config]\nPD1Bin=pd.bin\n", too_big, 0,
       "    PD1_TotalByte = 0x10001\nProtection : FW_Size_64K_Error.\n"},
      {"marker", "[Config]\nPD1Bin=pd.bin\n", bad_marker, 0,
       "    PD1_TotalByte = 0x8000\nProtection : PDFW_Data[0]_Error.\n"},
      {"crc", "[Config]\nPD1Bin=pd.bin\n", bad_crc, 0,
       std::string("    PD1_TotalByte = 0x8000\n") + crc_line},
      {"no vmm6 key", "[Config]\nPD1Bin=pd.bin\n", good, 1,
       "    PD1_TotalByte = 0x8000\nAdd_VMM6_FW_to_Image.\n"
       "Windows_Cmd: certutil -hashfile NewPD1VMM6Image_20221117.Bin\nVMM6_Bin_Error.\n"},
      {"no vmm6 file", "[Config]\nPD1Bin=pd.bin\nVMM6Bin=none.bin\n", good, 1,
       "    PD1_TotalByte = 0x8000\nAdd_VMM6_FW_to_Image.\n"
       "Windows_Cmd: certutil -hashfile NewPD1VMM6Image_20221117.Bin\nProtection : "
       "VMM6_Bin_Open_Fail.\n"},
      {"small vmm6", "[Config]\nPD1Bin=pd.bin\nVMM6Bin=pd.bin\n", good, 1,
       "    PD1_TotalByte = 0x8000\nAdd_VMM6_FW_to_Image.\n"
       "Windows_Cmd: certutil -hashfile NewPD1VMM6Image_20221117.Bin\n"
       "    VMM6_TotalByte = 0x8000\nProtection : FW_Size_32K_Error.\n"},
  };
  for (const Case& c : cases) {
    Compose fx;
    WriteFile(fx.dir / "Setting.ini", c.settings);
    WriteBytes(fx.dir / "pd.bin", c.pd);
    fx.t.set.PDVMM6ShareSPI = c.vmm6_share;
    fx.t.set.CreatePDImgOnly = 2;
    CreatePdImage(fx.t);
    EXPECT_EQ(fx.console.out, head + c.tail) << c.name;
    EXPECT_TRUE(OutputImages(fx.dir.path()).empty()) << c.name;
  }
}

TEST(BuildInfoZone, MaskSelectsTheSlots) {
  Compose fx;
  fx.Settings("");
  std::vector<uint8_t> zone(4096, 0xEE);
  // No slot: the zone is left as it is, only its checksum is stored.
  EXPECT_EQ(BuildInfoZone(fx.t, zone.data(), 0x00, 0x40000), 1u);
  EXPECT_TRUE(AllBytes(zone, 0, 4094, 0xEE));
  EXPECT_EQ(CheckSum16(fx.t, zone.data(), 4096), 0x0000);
  EXPECT_EQ(fx.console.out, "");

  // Hub 1 and the DP converter: two slots, in mask order.
  fwgen::HubFirmwareSpec hs;
  hs.version = 0x0305;
  WriteBytes(fx.dir / "hub.bin", fwgen::MakeHubFirmware(hs));
  fx.t.Hub[1].BinPath = "hub.bin";
  fwgen::DpFirmwareSpec ds;
  ds.version = 0x05060708;
  WriteBytes(fx.dir / "dp.bin", fwgen::MakeDpFirmware(ds));
  fx.t.Dp[1].BinPath = "dp.bin";
  EXPECT_EQ(BuildInfoZone(fx.t, zone.data(), 0x09, 0x1234), 1u);
  EXPECT_EQ(Be32(&zone[76]), 0x1234u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&zone[96])), "Dev1_FWVer:");
  EXPECT_EQ(Be32(&zone[108]), 0x0305u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&zone[112])), "Dev2_FWVer:");
  EXPECT_EQ(Be32(&zone[124]), 0x05060708u);
  EXPECT_TRUE(AllBytes(zone, 128, 4094, 0x00));
  EXPECT_EQ(CheckSum16(fx.t, zone.data(), 4096), 0x0000);
}

TEST(CreateCrc16Image, StampsTheCrcAtTheTargetSize) {
  ToolFixture fx;
  std::vector<uint8_t> in(0x10000);
  for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 13 + (i >> 8));
  WriteBytes(fx.dir / "ASIC_SPI.bin", in);
  CreateCrc16Image(fx.t, 64);
  EXPECT_EQ(fx.console.out,
            "Create_CRC16_at_64K_Only.\n"
            "    ASIC_TotalByte = 0x10000\n"
            "Generate ASIC_SPI_CRC_PD.Bin OK.\n");
  const auto out = ReadBytes(fx.dir / "ASIC_SPI_CRC.bin");
  ASSERT_EQ(out.size(), 0x10000u);
  EXPECT_TRUE(std::equal(out.begin(), out.end() - 2, in.begin()));
  const uint16_t crc = GetCrc16(in.data(), 0xFFFE);
  EXPECT_EQ(out[0xFFFE], crc & 0xFF);
  EXPECT_EQ(out[0xFFFF], crc >> 8);
}

TEST(CreateCrc16Image, ShortInputIsPaddedWithFFUnderTheCrc) {
  ToolFixture fx;
  const std::vector<uint8_t> in(60 * 1024, 0x5A);
  WriteBytes(fx.dir / "ASIC_SPI.bin", in);
  CreateCrc16Image(fx.t, 64);
  const auto out = ReadBytes(fx.dir / "ASIC_SPI_CRC.bin");
  ASSERT_EQ(out.size(), 0x10000u);
  EXPECT_TRUE(AllBytes(out, 0, 60 * 1024, 0x5A));
  EXPECT_TRUE(AllBytes(out, 60 * 1024, 0xFFFE, 0xFF));
  EXPECT_TRUE(Crc16Trailer(out.data(), 0x10000));

  // A target below the input's size cuts it.
  CreateCrc16Image(fx.t, 8);
  const auto cut = ReadBytes(fx.dir / "ASIC_SPI_CRC.bin");
  ASSERT_EQ(cut.size(), 0x2000u);
  EXPECT_TRUE(Crc16Trailer(cut.data(), 0x2000));
}

TEST(CreateCrc16Image, Refusals) {
  struct Case {
    uint8_t kib;
    size_t input;  // 0: no input file
    std::string tail;
  } cases[] = {
      {3, 0x1000, "Protection : Target_Size_Small.\n"},
      {0, 0x1000, "Protection : Target_Size_Small.\n"},
      {64, 0, "Protection : ASIC_SPI.bin_Open_Fail.\n"},
      {64, 0xFFF, "    ASIC_TotalByte = 0xFFF\nProtection : FW_Size_3K_Error.\n"},
      {64, 0x40001, "    ASIC_TotalByte = 0x40001\nProtection : FW_Size_256K_Error.\n"},
  };
  for (const Case& c : cases) {
    ToolFixture fx;
    if (c.input) WriteBytes(fx.dir / "ASIC_SPI.bin", std::vector<uint8_t>(c.input, 1));
    CreateCrc16Image(fx.t, c.kib);
    EXPECT_EQ(fx.console.out, "Create_CRC16_at_" + std::to_string(c.kib) + "K_Only.\n" + c.tail);
    EXPECT_FALSE(FileExists(fx.dir / "ASIC_SPI_CRC.bin"));
  }
  // The largest target with the largest input.
  ToolFixture fx;
  WriteBytes(fx.dir / "ASIC_SPI.bin", std::vector<uint8_t>(0x40000, 7));
  CreateCrc16Image(fx.t, 255);
  EXPECT_EQ(ReadBytes(fx.dir / "ASIC_SPI_CRC.bin").size(), 255u * 1024);
}

}  // namespace
}  // namespace pdflash
