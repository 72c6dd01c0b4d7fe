#include "flash/verified.h"

#include <gtest/gtest.h>

#include "support/fake_usb.h"

namespace pdflash {
namespace {

using test::DeviceFixture;

const char* const kEraseBanner =
    "\n=======================\n=   SeRdCmp_FAIL.   =\n=======================\n\n";
const char* const kWriteBanner =
    "\n=======================\n=    WrRdCmp_FAIL.    =\n=======================\n\n";
const char* const kWipe = "\r                    \r";

std::vector<uint8_t> Pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + 1);
  return v;
}

TEST(VerifiedSectorErase, ChecksTheFirst32BytesOfTheSector) {
  DeviceFixture f;
  f.dev->flash.assign(0x40000, 0x00);
  EXPECT_EQ(VerifiedSectorErase(f.t, f.link, 0, 0x021000, 1), 1u);
  const auto& log = f.dev->log;
  ASSERT_GE(log.size(), 5u);
  EXPECT_EQ(log[0].setup.bRequest, 0xD4);
  EXPECT_EQ(log[1].setup.bRequest, 0xD2);
  EXPECT_EQ(log[1].setup.wValue, 0x0020);
  EXPECT_EQ(log[1].setup.wIndex, 0x0210);
  EXPECT_EQ(log.back().setup.bRequest, 0xC4);
  EXPECT_EQ(log.back().setup.wLength, 32);
  // Erase polls are the slow kind.
  EXPECT_EQ(f.clock.SleptUs(), 500000u);
  EXPECT_EQ(f.Out(), "    =   SeRdCmp_PASS.   =\n");

  // A refused erase leaves data behind; only the first difference is named.
  f.dev->erase_ignored = true;
  f.dev->SetFlash(0x022000, std::vector<uint8_t>(0x1000, 0xFF));
  f.dev->SetFlash(0x022000 + 40, {0x00});
  EXPECT_EQ(VerifiedSectorErase(f.t, f.link, 0, 0x022000, 0), 1u);
  f.dev->SetFlash(0x022005, {0x12, 0x34});
  EXPECT_EQ(VerifiedSectorErase(f.t, f.link, 0, 0x022000, 0), 0u);
  EXPECT_EQ(f.Out(),
            std::string("  Compare_Data_Error_at_022005, Tx_FF != Rx_12\nSeRdCmp_Cmp_Error\n") +
                kEraseBanner);

  // Row 8 erases with its own opcode.
  VerifiedSectorErase(f.t, f.link, 8, 0x010000, 0);
  EXPECT_EQ(f.dev->Requests(0xD2).back().setup.wValue, 0x00D7);
}

TEST(VerifiedSectorErase, FailurePaths) {
  const struct {
    uint8_t failing;  // bRequest that fails; 0xC2 = a part that stays busy
    const char* lines;
  } cases[] = {{0xD2, "Sector_Erase_FAIL\n"},
               {0xC4, "Read_Data_FAIL\nSeRdCmp_Rd_Error\n"},
               {0xC2, "  Wait_Cnt = 200, Sts = 1\nSeRdCmp_Wait_Fail\n"}};
  for (const auto& c : cases) {
    DeviceFixture f;
    f.dev->flash.assign(0x40000, 0xFF);
    if (c.failing == 0xC2)
      f.dev->status = 0x01;
    else
      f.dev->fail_if = [&c](const SetupPacket& s) { return s.bRequest == c.failing; };
    EXPECT_EQ(VerifiedSectorErase(f.t, f.link, 0, 0x1000, 0), 0u);
    EXPECT_EQ(f.Out(), std::string(c.lines) + kEraseBanner);
    // 200 slow polls: a busy part is given 100 s.
    if (c.failing == 0xC2) {
      EXPECT_EQ(f.clock.SleptUs(), 100000000u);
    }
  }
}

TEST(VerifiedWrite, ShortWriteChunksWithoutProgress) {
  DeviceFixture f;
  f.dev->flash.assign(0x40000, 0xFF);
  const auto data = Pattern(110);
  EXPECT_EQ(VerifiedWrite(f.t, f.link, 0, 0x020000, 10, 100, data.data(), 1), 1u);
  const auto programs = f.dev->Requests(0xDC);
  ASSERT_EQ(programs.size(), 2u);
  EXPECT_EQ(programs[0].setup.wLength, 64);
  EXPECT_EQ(programs[0].setup.wValue, 0x0002);
  EXPECT_EQ(programs[0].setup.wIndex, 0x0200);
  EXPECT_EQ(programs[1].setup.wLength, 36);
  EXPECT_EQ(programs[1].setup.wValue, 0x4002);
  EXPECT_EQ(programs[1].data, std::vector<uint8_t>(data.begin() + 74, data.end()));
  EXPECT_EQ(std::vector<uint8_t>(f.dev->flash.begin() + 0x20000, f.dev->flash.begin() + 0x20064),
            std::vector<uint8_t>(data.begin() + 10, data.end()));
  char tx[64];
  std::snprintf(tx, sizeof tx, "    TxDataBuf[0x020000]: %02X,%02X,%02X,%02X\n", data[10], data[11],
                data[12], data[13]);
  EXPECT_EQ(f.Out(), std::string(tx) + kWipe + kWipe + "    =    WrRdCmp_PASS.    =\n");
}

TEST(VerifiedWrite, ProgressAtEvery4KiB) {
  DeviceFixture f;
  f.dev->flash.assign(0x40000, 0xFF);
  const auto data = Pattern(0x2000);
  EXPECT_EQ(VerifiedWrite(f.t, f.link, 0, 0x030000, 0, 0x2000, data.data(), 0), 1u);
  EXPECT_EQ(f.Out(), std::string("\r    Writing...50%\r    Writing...100%") + kWipe +
                         "\r    Checking...50%\r    Checking...100%" + kWipe);
  EXPECT_EQ(f.dev->Requests(0xC4).size(), 0x2000u / 64);
}

TEST(VerifiedWrite, CompareLinesAtFirstDifferenceAndEach4KiBBoundary) {
  DeviceFixture f;
  f.dev->flash.assign(0x40000, 0xFF);
  // Bits already cleared in the flash cannot be programmed back to 1.
  f.dev->SetFlash(0x5, {0x00, 0x00});
  f.dev->SetFlash(0x1000, {0x00});
  f.dev->SetFlash(0x1001, {0x00});
  const std::vector<uint8_t> data(0x2000, 0xA5);
  EXPECT_EQ(VerifiedWrite(f.t, f.link, 0, 0, 0, 0x2000, data.data(), 0), 0u);
  const std::string out = f.Out();
  const std::string tail = std::string("  Compare_Error_at_SPI_000005, Tx_A5 != Rx_00\n") +
                           "  Compare_Error_at_SPI_001000, Tx_A5 != Rx_00\n" +
                           "WrRdCmp_Cmp_Error\n" + kWriteBanner;
  ASSERT_GE(out.size(), tail.size());
  EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
}

TEST(VerifiedWrite, LengthLimitAndFailures) {
  DeviceFixture f;
  f.dev->flash.assign(0x200000, 0xFF);
  std::vector<uint8_t> data(0x100001, 0x3C);
  EXPECT_EQ(VerifiedWrite(f.t, f.link, 0, 0, 0, 0x100001, data.data(), 0), 0u);
  EXPECT_TRUE(f.dev->log.empty());
  EXPECT_EQ(f.Out(), "WrRdCmp_Length_Over.\n");
  EXPECT_EQ(VerifiedWrite(f.t, f.link, 0, 0x100000, 1, 0x100000, data.data(), 0), 1u);
  EXPECT_EQ(f.dev->flash[0x1FFFFF], 0x3C);
  f.Out();
  EXPECT_EQ(VerifiedWrite(f.t, f.link, 0, 0, 0, 0, data.data(), 0), 0u);
  EXPECT_EQ(f.Out(), std::string(kWipe) + kWipe + "WrRdCmp_Cmp_Error\n" + kWriteBanner);

  const struct {
    uint8_t failing;  // 0xC2 = a part that stays busy
    std::string lines;
  } cases[] = {{0xD4, "Write_Enable_FAIL\n"},
               {0xDC, "Write_Data_FAIL\nWrRdCmp_Wr_Error\n"},
               {0xC4, std::string(kWipe) + "Read_Data_FAIL\nWrRdCmp_Rd_Error\n"},
               {0xC2, "  Wait_Cnt = 200, Sts = 1\nWrRdCmp_Wt_Error\n"}};
  for (const auto& c : cases) {
    DeviceFixture g;
    g.dev->flash.assign(0x1000, 0xFF);
    if (c.failing == 0xC2)
      g.dev->status = 0x01;
    else
      g.dev->fail_if = [&c](const SetupPacket& s) { return s.bRequest == c.failing; };
    EXPECT_EQ(VerifiedWrite(g.t, g.link, 0, 0, 0, 16, data.data(), 0), 0u);
    EXPECT_EQ(g.Out(), c.lines + kWriteBanner);
  }
}

TEST(CheckFlashSize, CheckModeFindsMirrors) {
  DeviceFixture f;
  f.dev->flash.assign(0x40000, 0xFF);
  f.dev->SetFlash(0x20000, {0x5A, 0xA5, 0x12, 0x34});
  // A 256 KiB part shows 0x20000 again at 0x60000.
  EXPECT_EQ(CheckFlashSize(f.t, f.link, 0x80000, 0x20000, 1), 0u);
  EXPECT_EQ(f.Out(),
            "    SPI_20000 = 5A,A5,12,34\n\t SPI_60000 = 5A,A5,12,34\n    FlashSize_80000_NG\n");

  DeviceFixture g;
  g.dev->flash.assign(0x80000, 0xFF);
  g.dev->SetFlash(0x20000, {0x5A, 0xA5, 0x12, 0x34});
  EXPECT_EQ(CheckFlashSize(g.t, g.link, 0x80000, 0x20000, 1), 1u);
  EXPECT_EQ(g.Out(),
            "    SPI_20000 = 5A,A5,12,34\n\t SPI_60000 = FF,FF,FF,FF\n    FlashSize_80000_OK\n");

  // Data that cannot tell: the check passes.
  g.dev->SetFlash(0x20000, {0x00});
  EXPECT_EQ(CheckFlashSize(g.t, g.link, 0x80000, 0x20000, 0), 1u);
  EXPECT_EQ(g.Out(), "    ChkSize_Data_All_00.\n");

  g.dev->fail_if = [](const SetupPacket&) { return true; };
  EXPECT_EQ(CheckFlashSize(g.t, g.link, 0x80000, 0x20000, 0), 0u);
  EXPECT_EQ(g.Out(), "Read_Data_FAIL\n    ChkSize_Read_Fail.\n");
}

TEST(CheckFlashSize, DetectModeListsProbesAndNamesTheSize) {
  DeviceFixture f;
  f.dev->flash.assign(0x100000, 0xFF);
  f.dev->SetFlash(0, {0x02, 0x11, 0x22, 0x33});
  EXPECT_EQ(CheckFlashSize(f.t, f.link, 0, 0, 0), 0u);
  EXPECT_EQ(f.Out(),
            "    SPI[0x000000] = 02,11,22,33, (0 KByte)\n"
            "    SPI[0x010000] = FF,FF,FF,FF, (64 KByte, 512 Kbit)\n"
            "    SPI[0x020000] = FF,FF,FF,FF, (128 KByte, 1 Mbit)\n"
            "    SPI[0x040000] = FF,FF,FF,FF, (256 KByte, 2 Mbit)\n"
            "    SPI[0x080000] = FF,FF,FF,FF, (512 KByte, 4 Mbit)\n"
            "    SPI[0x100000] = 02,11,22,33, (1 MByte, 8 Mbit)\n"
            "    SPI[0x200000] = 02,11,22,33, (2 MByte, 16 Mbit)\n"
            "    SPI[0x400000] = 02,11,22,33, (4 MByte, 32 Mbit)\n"
            "    SPI[0x800000] = 02,11,22,33, (8 MByte, 64 Mbit)\n"
            "    FlashSize_1 MByte\n");

  // A blank part gets the marker first.
  DeviceFixture g;
  g.dev->flash.assign(0x40000, 0xFF);
  EXPECT_EQ(CheckFlashSize(g.t, g.link, 0, 0, 0), 0u);
  EXPECT_EQ(std::string(g.dev->flash.begin(), g.dev->flash.begin() + 4), "TEST");
  const std::string out = g.Out();
  EXPECT_EQ(out.rfind("    Write_TEST_For_Check_Size.\n", 0), 0u);
  EXPECT_NE(out.find("    SPI[0x000000] = 54,45,53,54, (0 KByte)\n"), std::string::npos);
  EXPECT_EQ(out.substr(out.size() - 24), "    FlashSize_256 KByte\n");
}

}  // namespace
}  // namespace pdflash
