#include "ops/pd_version.h"

#include <gtest/gtest.h>

#include "image/bytes.h"
#include "image/checksum.h"
#include "support/fake_usb.h"

namespace pdflash {
namespace {

using test::DeviceFixture;

// A PD image of `size` bytes with a valid CRC-16 trailer.
std::vector<uint8_t> PdImage(uint32_t size, uint32_t version, uint16_t vid, uint16_t pid,
                             uint16_t vid2 = 0) {
  std::vector<uint8_t> img(size, 0x5C);
  img[0] = 0x02;
  PutBe32(&img[0x1003], version);
  PutLe16(&img[0x1007], vid);
  PutLe16(&img[0x1009], pid);
  PutLe16(&img[0x100D], vid2);
  StampCrc16(img.data(), size);
  return img;
}

const std::vector<uint8_t> kFormal = {0x01, 0x02, 0x03, 0x04, 0x66, 0x6D, 0xAB, 0x56};

TEST(GetPdFwVersion, OneRequestBigEndian) {
  DeviceFixture f;
  f.t.Pd[1].Vid = 0x2109;
  f.t.Pd[1].Pid = 0x0107;
  f.dev->version = {0x35, 0x00, 0x01, 0x02};
  GetPdFwVersion(f.t, f.link, 1, true);
  ASSERT_EQ(f.dev->log.size(), 1u);
  const SetupPacket& s = f.dev->log[0].setup;
  EXPECT_EQ(s.bmRequestType, 0xC0);
  EXPECT_EQ(s.bRequest, 0xE2);
  EXPECT_EQ(s.wValue, 0x0001);
  EXPECT_EQ(s.wIndex, 0x0000);
  EXPECT_EQ(s.wLength, 4);
  EXPECT_EQ(f.t.Pd[1].FwVersion, 0x35000102u);
  EXPECT_EQ(
      f.Out(),
      "Get_PD[1]_FW_Version\n=========================================\n"
      "=  KMPDx:2109/0107, Version:35.00.01.02 =\n=========================================\n");
  f.dev->fail_if = [](const SetupPacket&) { return true; };
  GetPdFwVersion(f.t, f.link, 1, false);
  EXPECT_EQ(f.t.Pd[1].FwVersion, 0u);
  EXPECT_EQ(f.Out(), "Get_PD_FW_Version_FAIL.\n");
}

TEST(GetPdFormalVer, AddressesAndReadPathFollowModeAndChip) {
  {
    DeviceFixture f;
    GetPdFormalVer(f.t, f.link, 1);
    EXPECT_TRUE(f.dev->log.empty());
  }
  {
    // ROM code: flash requests; copy 2 sits at 0x30000 on most parts.
    DeviceFixture f;
    f.t.set.DisplayFormalVer = 1;
    f.dev->flash.assign(0x40000, 0xFF);
    f.dev->SetFlash(0x31000 + 20, kFormal);
    GetPdFormalVer(f.t, f.link, 1);
    EXPECT_EQ(f.t.Pd[1].DevFormalVersion, 0x01020304u);
    const auto reads = f.dev->Requests(0xC4);
    ASSERT_EQ(reads.size(), 6u);
    EXPECT_EQ(reads[0].setup.wValue, 0x0003);
    EXPECT_EQ(reads[0].setup.wIndex, 0x0210);
    EXPECT_EQ(reads[1].setup.wValue, 0x2003);
    EXPECT_EQ(reads[4].setup.wIndex, 0x0310);
    EXPECT_EQ(
        f.Out(),
        "=     Formal Version is 01.02.03.04     =\n=========================================\n");
  }
  {
    // Parts with 32 KiB images keep copy 2 at 0x28000; a signature past the
    // 64-byte window is not seen.
    DeviceFixture f;
    f.t.set.DisplayFormalVer = 1;
    f.t.set.PD1RomPID = 0x0103;
    f.dev->flash.assign(0x40000, 0xFF);
    f.dev->SetFlash(0x21000 + 57, kFormal);
    f.dev->SetFlash(0x31000, kFormal);
    GetPdFormalVer(f.t, f.link, 1);
    EXPECT_EQ(f.t.Pd[1].DevFormalVersion, 0u);
    EXPECT_EQ(f.dev->Requests(0xC4)[4].setup.wIndex, 0x0290);
    EXPECT_EQ(f.Out(), "PD Formal version not found.\n");
  }
  {
    // Application firmware on a chip other than 0x0107: register-level SPI.
    DeviceFixture f;
    f.t.set.DisplayFormalVer = 1;
    f.t.Pd[1].ProjectId = 0x01040000;
    f.dev->flash.assign(0x40000, 0xFF);
    f.dev->SetFlash(0x24000 + 40, kFormal);
    GetPdFormalVer(f.t, f.link, 0);
    EXPECT_EQ(f.t.Pd[1].DevFormalVersion, 0x01020304u);
    EXPECT_TRUE(f.dev->Requests(0xC4).empty());
    f.t.Pd[1].ProjectId = 0x01070000;
    GetPdFormalVer(f.t, f.link, 0);
    EXPECT_EQ(f.dev->Requests(0xC4).size(), 4u);
  }
}

TEST(GetPdSpiVersion, CopySelectorsAndSizeMatch) {
  DeviceFixture f;
  f.t.Pd[1].Vid = 0x2109;
  f.dev->flash.assign(0x40000, 0xFF);
  // 50 KiB image as copy 2; a 32 KiB image in the window at 0x28000.
  f.dev->SetFlash(0x30000, PdImage(0xC800, 0x0E010203, 0x2109, 0x0107));
  f.dev->SetFlash(0x28000, PdImage(0x8000, 0x0A000001, 0x1111, 0x2222, 0x1111));

  GetPdSpiVersion(f.t, f.link, 1, 1, 0);
  EXPECT_EQ(f.t.Pd[1].FwVersion, 0u);
  EXPECT_EQ(f.Out(), "\n    PD1_Get_SPI1_Version...\nSPI[20000] = FF\n");

  GetPdSpiVersion(f.t, f.link, 1, 2, 1);
  EXPECT_EQ(f.t.Pd[1].FwVersion, 0x0E010203u);
  EXPECT_EQ(f.t.Pd[1].CurPid, 0x0107);
  EXPECT_EQ(
      f.Out(),
      "\n    PD1_Get_SPI2_Version...\n    Read_Start_Adr = 30000\n    Size_Match_at: 50KB\n"
      "    Loop0_VID = 2109/0000\n=========================================\n"
      "=    PD[1] FW Version is 0E.01.02.03    =\n=========================================\n");

  // With copy 2 gone, the 32 KiB window is tried; equal vendor IDs are accepted.
  f.dev->SetFlash(0x30000, {0xFF});
  f.t.set.DisplayFormalVer = 1;
  auto img = PdImage(0x8000, 0x0A000001, 0x1111, 0x2222, 0x1111);
  std::copy(kFormal.begin(), kFormal.end(), img.begin() + 0x1003 + 20);
  StampCrc16(img.data(), 0x8000);
  f.dev->SetFlash(0x28000, img);
  GetPdSpiVersion(f.t, f.link, 1, 2, 0);
  EXPECT_EQ(f.t.Pd[1].FwVersion, 0x0A000001u);
  EXPECT_EQ(f.t.Pd[1].CurVid, 0x1111);
  EXPECT_EQ(f.t.Pd[1].DevFormalVersion, 0x01020304u);
  EXPECT_NE(f.Out().find("= \tFormal Version is 01.02.03.04\t  =\n"), std::string::npos);

  // Neither vendor ID ours nor equal: no version.
  f.dev->SetFlash(0x28000, PdImage(0x8000, 0x0A000001, 0x1111, 0x2222, 0x3333));
  GetPdSpiVersion(f.t, f.link, 1, 2, 0);
  EXPECT_EQ(f.t.Pd[1].FwVersion, 0u);

  int reads = 0;
  f.dev->fail_if = [&reads](const SetupPacket& s) { return s.bRequest == 0xC4 && ++reads == 5; };
  GetPdSpiVersion(f.t, f.link, 1, 3, 0);
  EXPECT_NE(f.Out().find("Protection: SPI_Check_Read_Fail.\n"), std::string::npos);
}

}  // namespace
}  // namespace pdflash
