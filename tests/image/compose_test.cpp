#include "image/compose.h"

#include <gtest/gtest.h>

#include <algorithm>
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
using Bytes = std::vector<uint8_t>;

bool AllBytes(const Bytes& b, size_t from, size_t to, uint8_t value) {
  return std::all_of(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(to),
                     [&](uint8_t x) { return x == value; });
}

bool Holds(const Bytes& b, size_t at, const Bytes& part) {
  return b.size() >= at + part.size() &&
         std::equal(part.begin(), part.end(), b.begin() + static_cast<long>(at));
}

std::string Text(const uint8_t* at, size_t n) { return std::string(at, at + n); }

uint16_t WordSumLe(const Bytes& b) {
  uint32_t s = 0;
  for (size_t i = 0; i + 1 < b.size(); i += 2) s += Le16(&b[i]);
  return static_cast<uint16_t>(s);
}

// Slot n of the information zone: "DevN_FWVer:" and the version.
void ExpectSlot(const uint8_t* zone, int n, uint32_t version) {
  const size_t at = 96 + 16 * static_cast<size_t>(n - 1);
  EXPECT_EQ(Text(zone + at, 12), "Dev" + std::to_string(n) + "_FWVer:" + '\0');
  EXPECT_EQ(Be32(zone + at + 12), version);
}

struct Compose : ToolFixture {
  Bytes pd;
  Compose(uint32_t size, const std::string& settings = "", uint32_t version = 0x0E010100) {
    fwgen::PdFirmwareSpec s;
    s.size = size;
    s.version = version;
    pd = fwgen::MakePdFirmware(s);
    WriteBytes(dir / "pd.bin", pd);
    WriteFile(dir / "Setting.ini", "[Config]\nPD1Bin=pd.bin\n" + settings);
  }
  // The one image written; empty when there is none.
  std::string Output() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
      if (e.path().filename().string().rfind("NewPD1", 0) == 0)
        names.push_back(e.path().filename().string());
    EXPECT_LE(names.size(), 1u);
    return names.empty() ? "" : names[0];
  }
};

TEST(CreatePdImage, PlainImagePlacesTheCopiesBySize) {
  for (const auto& [size, copy2] : {std::pair{0x8000u, 0x28000u}, std::pair{0x8001u, 0x30000u}}) {
    Compose fx(size);
    fx.t.set.CreatePDImgOnly = 1;
    CreatePdImage(fx.t);
    EXPECT_EQ(fx.t.Pd[1].BinPath, "pd.bin");
    ASSERT_EQ(fx.Output(), "NewPD1Image_20261206.bin");
    const auto img = ReadBytes(fx.dir / fx.Output());
    ASSERT_EQ(img.size(), 0x40000u);
    EXPECT_TRUE(AllBytes(img, 0, 0x20000, 0xFF));  // no information zone
    EXPECT_TRUE(Holds(img, 0x20000, fx.pd));
    EXPECT_TRUE(AllBytes(img, 0x20000 + size, copy2, 0xFF));
    EXPECT_TRUE(Holds(img, copy2, fx.pd));
    EXPECT_TRUE(AllBytes(img, copy2 + size, 0x40000, 0xFF));
    EXPECT_EQ(fx.console.out, "Generate_128K_Offset_Image_Only.\n    PD1_TotalByte = 0x" +
                                  std::to_string(size == 0x8000 ? 8000 : 8001) +
                                  "\nCreate NewImage.Bin OK.\n");
  }
}

TEST(CreatePdImage, InformationZoneSumWordAndChecksumName) {
  Compose fx(0xC800, "ImgProject=P123456789abcdefghijklmnopqrstuvwxyz_40c\n", 0x0E010203);
  fx.t.set.CreatePDImgOnly = 2;
  CreatePdImage(fx.t);
  const auto img = ReadBytes(fx.dir / fx.Output());
  ASSERT_EQ(img.size(), 0x40000u);
  const uint16_t sum = CheckSum16(fx.t, img.data(), 0x40000);
  char name[64];
  std::snprintf(name, sizeof name, "NewPD1Image_20261206_%04X.bin", sum);
  EXPECT_EQ(fx.Output(), name);

  const Bytes zone(img.begin() + 0x1E000, img.begin() + 0x1F000);
  EXPECT_EQ(Text(&zone[0], 32), std::string("KMX_FWImage_v0.1") + std::string(16, '\0'));
  EXPECT_EQ(Text(&zone[32], 32), "P123456789abcdefghijklmnopqrstuv");  // first 32 of 40
  EXPECT_EQ(Text(&zone[64], 12), std::string("Image_Size:") + '\0');
  EXPECT_EQ(Be32(&zone[76]), 0x40000u);
  EXPECT_EQ(Text(&zone[80], 12), std::string("Image_Date:") + '\0');
  EXPECT_EQ(Be32(&zone[92]), 0x20261206u);  // BCD century, year, month, day
  ExpectSlot(zone.data(), 1, 0x0E010203);
  EXPECT_TRUE(AllBytes(zone, 112, 4094, 0x00));
  EXPECT_EQ(CheckSum16(fx.t, zone.data(), 4096), 0x0000);
  // Copy 2 is the same zone except the last word, which closes the image's word sum.
  EXPECT_TRUE(std::equal(zone.begin(), zone.end() - 2, img.begin() + 0x1F000));
  EXPECT_EQ(static_cast<uint16_t>(WordSumLe(img) + Le16(&zone[4094])), 0);
  EXPECT_TRUE(AllBytes(img, 0, 0x1E000, 0xFF));
  EXPECT_TRUE(Holds(img, 0x20000, fx.pd));
  EXPECT_TRUE(Holds(img, 0x30000, fx.pd));
  EXPECT_TRUE(AllBytes(img, 0x3C800, 0x40000, 0xFF));

  char lines[512];
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
  fwgen::Vmm6FirmwareSpec vs;
  const auto vmm = fwgen::MakeVmm6Firmware(vs);
  WriteBytes(fx.dir / "vmm6.bin", vmm);
  fx.t.set.PDVMM6ShareSPI = 1;
  fx.t.set.CreatePDImgOnly = 2;
  CreatePdImage(fx.t);
  EXPECT_EQ(fx.t.Vmm6[1].BinPath, "vmm6.bin");
  EXPECT_EQ(fx.Output().substr(0, 25), "NewPD1VMM6Image_19990310_");
  const auto img = ReadBytes(fx.dir / fx.Output());
  ASSERT_EQ(img.size(), 0x200000u);
  EXPECT_TRUE(Holds(img, 0x30000, fx.pd));
  EXPECT_TRUE(AllBytes(img, 0x40000, 0x100000, 0xFF));
  EXPECT_TRUE(Holds(img, 0x100000, vmm));
  EXPECT_TRUE(AllBytes(img, 0x100000 + vmm.size(), 0x200000, 0xFF));
  const uint8_t* zone = &img[0x1E000];
  EXPECT_EQ(Text(zone + 32, 32), std::string("KMX_Image_Basic.") + std::string(16, '\0'));
  EXPECT_EQ(Be32(zone + 76), 0x200000u);
  EXPECT_EQ(Be32(zone + 92), 0x19990310u);
  ExpectSlot(zone, 1, 0xA1010100);
  ExpectSlot(zone, 2, 0x01020304);
  EXPECT_EQ(static_cast<uint16_t>(WordSumLe(img) + Le16(zone + 4094)), 0);
  EXPECT_NE(fx.console.out.find("Add_VMM6_FW_to_Image.\n"
                                "Windows_Cmd: certutil -hashfile NewPD1VMM6Image_20221117.Bin\n"
                                "    VMM6_TotalByte = 0x50000\n"
                                "    Add_Image_Information_zone\n"),
            std::string::npos);
}

TEST(CreatePdImage, RefusalsWriteNoImage) {
  fwgen::PdFirmwareSpec s;
  s.size = 0x8000;
  const auto good = fwgen::MakePdFirmware(s);
  auto bad_marker = good, bad_crc = good;
  bad_marker[0] = 0x03;
  bad_crc[0x100] ^= 1;
  char crc_line[64];
  std::snprintf(crc_line, sizeof crc_line, "Protection: Bin_CRC16=%04X\n",
                GetCrc16(bad_crc.data(), 0x7FFE));
  s.size = 0x10001;
  const std::string ok = "    PD1_TotalByte = 0x8000\n";
  const std::string vmm6 = ok +
                           "Add_VMM6_FW_to_Image.\n"
                           "Windows_Cmd: certutil -hashfile NewPD1VMM6Image_20221117.Bin\n";
  const struct {
    std::string settings;
    Bytes pd;
    std::string tail;
  } cases[] = {
      {"PD2Bin=pd.bin\n", good, "PD1_Bin_Error.\n"},
      {"PD1Bin=other.bin\n", good, "Protection : PD1_Bin_Open_Fail.\n"},
      {"PD1Bin=pd.bin\n", Bytes(0x7FFF, 0x02),
       "    PD1_TotalByte = 0x7FFF\nProtection : FW_Size_31K_Error.\n"},
      {"PD1Bin=pd.bin\n", fwgen::MakePdFirmware(s),
       "    PD1_TotalByte = 0x10001\nProtection : FW_Size_64K_Error.\n"},
      {"PD1Bin=pd.bin\n", bad_marker, ok + "Protection : PDFW_Data[0]_Error.\n"},
      {"PD1Bin=pd.bin\n", bad_crc, ok + crc_line},
      {"PD1Bin=pd.bin\n", good, vmm6 + "VMM6_Bin_Error.\n"},
      {"PD1Bin=pd.bin\nVMM6Bin=none.bin\n", good,
       vmm6 + "Protection : VMM6_Bin_Open_Fail.\n"},
      {"PD1Bin=pd.bin\nVMM6Bin=pd.bin\n", good,
       vmm6 + "    VMM6_TotalByte = 0x8000\nProtection : FW_Size_32K_Error.\n"},
  };
  for (const auto& c : cases) {
    Compose fx(0x8000);
    WriteFile(fx.dir / "Setting.ini", "[Config]\n" + c.settings);
    WriteBytes(fx.dir / "pd.bin", c.pd);
    fx.t.set.PDVMM6ShareSPI = c.tail.find("VMM6") != std::string::npos;
    fx.t.set.CreatePDImgOnly = 2;
    CreatePdImage(fx.t);
    EXPECT_EQ(fx.console.out, "Generate_128K_Offset_Image_Only.\n" + c.tail);
    EXPECT_EQ(fx.Output(), "");
  }
}

TEST(BuildInfoZone, MaskSelectsTheSlots) {
  ToolFixture fx;
  Bytes zone(4096, 0xEE);
  // No slot: the zone is left as it is, only its checksum is stored.
  EXPECT_EQ(BuildInfoZone(fx.t, zone.data(), 0x00, 0x40000), 1u);
  EXPECT_TRUE(AllBytes(zone, 0, 4094, 0xEE));
  EXPECT_EQ(CheckSum16(fx.t, zone.data(), 4096), 0x0000);

  fwgen::HubFirmwareSpec hs;
  hs.version = 0x0305;
  WriteBytes(fx.dir / "hub.bin", fwgen::MakeHubFirmware(hs));
  fx.t.Hub[1].BinPath = "hub.bin";
  fwgen::DpFirmwareSpec ds;
  ds.version = 0x05060708;
  WriteBytes(fx.dir / "dp.bin", fwgen::MakeDpFirmware(ds));
  fx.t.Dp[1].BinPath = "dp.bin";
  EXPECT_EQ(BuildInfoZone(fx.t, zone.data(), 0x09, 0x1234), 1u);  // hub 1, then DP
  EXPECT_EQ(Be32(&zone[76]), 0x1234u);
  ExpectSlot(zone.data(), 1, 0x0305);
  ExpectSlot(zone.data(), 2, 0x05060708);
  EXPECT_TRUE(AllBytes(zone, 128, 4094, 0x00));
  EXPECT_EQ(CheckSum16(fx.t, zone.data(), 4096), 0x0000);
}

TEST(CreateCrc16Image, StampsPadsAndCutsToTheTargetSize) {
  ToolFixture fx;
  Bytes in(60 * 1024);
  for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 13 + (i >> 8));
  WriteBytes(fx.dir / "ASIC_SPI.bin", in);
  CreateCrc16Image(fx.t, 64);
  EXPECT_EQ(fx.console.out,
            "Create_CRC16_at_64K_Only.\n    ASIC_TotalByte = 0xF000\n"
            "Generate ASIC_SPI_CRC_PD.Bin OK.\n");
  auto out = ReadBytes(fx.dir / "ASIC_SPI_CRC.bin");
  ASSERT_EQ(out.size(), 0x10000u);
  EXPECT_TRUE(Holds(out, 0, in));
  EXPECT_TRUE(AllBytes(out, in.size(), 0xFFFE, 0xFF));
  const uint16_t crc = GetCrc16(out.data(), 0xFFFE);
  EXPECT_EQ(out[0xFFFE], crc & 0xFF);
  EXPECT_EQ(out[0xFFFF], crc >> 8);

  CreateCrc16Image(fx.t, 8);  // a target below the input's size cuts it
  out = ReadBytes(fx.dir / "ASIC_SPI_CRC.bin");
  ASSERT_EQ(out.size(), 0x2000u);
  EXPECT_TRUE(Holds(out, 0, Bytes(in.begin(), in.begin() + 0x1FFE)));
  EXPECT_TRUE(Crc16Trailer(out.data(), 0x2000));

  WriteBytes(fx.dir / "ASIC_SPI.bin", Bytes(0x40000, 7));  // the largest of both
  CreateCrc16Image(fx.t, 255);
  EXPECT_EQ(ReadBytes(fx.dir / "ASIC_SPI_CRC.bin").size(), 255u * 1024);
}

TEST(CreateCrc16Image, Refusals) {
  const struct {
    uint8_t kib;
    size_t input;  // 0: no input file
    std::string tail;
  } cases[] = {
      {3, 0x1000, "Protection : Target_Size_Small.\n"},
      {64, 0, "Protection : ASIC_SPI.bin_Open_Fail.\n"},
      {64, 0xFFF, "    ASIC_TotalByte = 0xFFF\nProtection : FW_Size_3K_Error.\n"},
      {64, 0x40001, "    ASIC_TotalByte = 0x40001\nProtection : FW_Size_256K_Error.\n"},
  };
  for (const auto& c : cases) {
    ToolFixture fx;
    if (c.input) WriteBytes(fx.dir / "ASIC_SPI.bin", Bytes(c.input, 1));
    CreateCrc16Image(fx.t, c.kib);
    EXPECT_EQ(fx.console.out, "Create_CRC16_at_" + std::to_string(c.kib) + "K_Only.\n" + c.tail);
    EXPECT_FALSE(FileExists(fx.dir / "ASIC_SPI_CRC.bin"));
  }
}

}  // namespace
}  // namespace pdflash
