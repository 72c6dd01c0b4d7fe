#include "flash/spi.h"

#include <gtest/gtest.h>

#include "support/fake_usb.h"

namespace pdflash {
namespace {

using test::DeviceFixture;
using test::FakeTransfer;

// bRequest and wValue of every transfer, the shape the status-write tests compare.
std::vector<std::pair<uint8_t, uint16_t>> Wire(const std::vector<FakeTransfer>& log) {
  std::vector<std::pair<uint8_t, uint16_t>> out;
  for (const auto& r : log) out.emplace_back(r.setup.bRequest, r.setup.wValue);
  return out;
}

TEST(SpiCommands, FlashAddressEncodingAndPostDelays) {
  DeviceFixture f;
  f.dev->flash.assign(0x200000, 0xFF);
  uint8_t buf[4] = {};
  EXPECT_EQ(SpiReadData(f.t, f.link, 0x03, 0x14FFF0, 2, 2, buf), 1u);
  EXPECT_EQ(SpiSectorErase(f.t, f.link, 0x20, 0x021000), 1u);
  EXPECT_EQ(SpiWriteStatus(f.t, f.link, 0x01, 0x00), 1u);
  EXPECT_EQ(SpiWriteStatus(f.t, f.link, 0x31, 0x18), 1u);
  // Address bits above 23 are not transmitted.
  EXPECT_EQ(SpiWriteData(f.t, f.link, 0x02, 0x1ABCDEF, 1, 2, buf), 1u);
  const auto& log = f.dev->log;
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[0].setup.bmRequestType, 0xC0);
  EXPECT_EQ(log[0].setup.bRequest, 0xC4);
  EXPECT_EQ(log[0].setup.wValue, 0xF003);
  EXPECT_EQ(log[0].setup.wIndex, 0x14FF);
  EXPECT_EQ(log[0].setup.wLength, 2);
  EXPECT_EQ(log[1].setup.wValue, 0x0020);
  EXPECT_EQ(log[1].setup.wIndex, 0x0210);
  EXPECT_EQ(log[2].setup.wValue, 0x0001);
  EXPECT_EQ(log[3].setup.wValue, 0x1831);
  EXPECT_EQ(log[4].setup.bRequest, 0xDC);
  EXPECT_EQ(log[4].setup.wValue, 0xEF02);
  EXPECT_EQ(log[4].setup.wIndex, 0xABCD);
  EXPECT_EQ(log[4].data, (std::vector<uint8_t>{buf[1], buf[2]}));
  // The status writes sleep 100 ms each; the data write spins 5 ms.
  EXPECT_EQ(f.clock.SleptUs(), 200000u);
  EXPECT_EQ(f.clock.SpunUs(), 5 * 1000u + 5000u);

  // The delays hold after a failed transfer as well.
  f.dev->fail_if = [](const SetupPacket&) { return true; };
  EXPECT_EQ(SpiWriteStatus(f.t, f.link, 0x01, 0x00), 0u);
  EXPECT_EQ(SpiWriteData(f.t, f.link, 0x02, 0, 0, 1, buf), 0u);
  EXPECT_EQ(f.clock.SleptUs(), 300000u);
  EXPECT_EQ(f.clock.SpunUs(), 7 * 1000u + 10000u);
  SpiCommand(f.t, f.link, 0xAA);
  SpiChipErase(f.t, f.link, 0xC7);
  SpiReadStatus(f.t, f.link, 0x05, 1, buf);
  EXPECT_EQ(
      f.Out(),
      "Write_Status_FAIL\nWrite_Data_FAIL\nWrite_Enable_FAIL\nChip_Erase_FAIL\nRead_Status_FAIL\n");
}

TEST(SpiWaitReady, NeedsTwoCleanReadsInARow) {
  DeviceFixture f;
  EXPECT_EQ(SpiWaitReady(f.t, f.link, 0x05, false), 1u);
  EXPECT_EQ(f.dev->log.size(), 2u);
  EXPECT_EQ(f.clock.SpunUs(), 2 * 1000u + 5000u);
  EXPECT_EQ(f.Out(), "");

  // WEL counts as busy; a long wait is reported when it ends.
  f.dev->status_script = {0x02, 0x03, 0x01, 0x00, 0x00};
  EXPECT_EQ(SpiWaitReady(f.t, f.link, 0x05, true), 1u);
  EXPECT_EQ(f.clock.SleptUs(), 4 * 500000u);
  EXPECT_EQ(f.Out(), "  Wait_Cnt = 4, Sts = 0\n");

  DeviceFixture g;
  for (int i = 0; i < 300; ++i) g.dev->status_script.push_back(i % 2 ? 0x00 : 0x01);
  EXPECT_EQ(SpiWaitReady(g.t, g.link, 0x05, false), 0u);
  EXPECT_EQ(g.dev->log.size(), 200u);
  EXPECT_EQ(g.Out(), "  Wait_Cnt = 200, Sts = 0\n");

  g.dev->fail_if = [](const SetupPacket&) { return true; };
  EXPECT_EQ(SpiWaitReady(g.t, g.link, 0x05, false), 0u);
  EXPECT_EQ(g.Out(), "Read_Status_FAIL\n  Wait_Cmd_Fail\n");
}

TEST(WriteFlashStatus, EnableSequencesPerPart) {
  using W = std::vector<std::pair<uint8_t, uint16_t>>;
  {
    DeviceFixture f;
    f.dev->status = 0x9C;
    EXPECT_EQ(WriteFlashStatus(f.t, f.link, 0, 0x00, 1), 1u);
    EXPECT_EQ(Wire(f.dev->log), (W{{0xD4, 0x06}, {0xD8, 0x0001}, {0xC2, 0x05}}));
    EXPECT_EQ(f.Out(), "    Do_SPI_Write_Status_0x00\n    SPI_Status_0 = 0x00\n");
  }
  {
    // Row 7 gets the SST enable even when the part type says nothing.
    DeviceFixture f;
    EXPECT_EQ(WriteFlashStatus(f.t, f.link, 7, 0x00, 0), 1u);
    EXPECT_EQ(Wire(f.dev->log), (W{{0xD4, 0x06}, {0xD8, 0x0050}, {0xD8, 0x0001}, {0xC2, 0x05}}));
  }
  {
    DeviceFixture f;
    f.t.set.SPIFlashType = 10;
    f.t.set.VolatileSRWrEn = 1;
    EXPECT_EQ(WriteFlashStatus(f.t, f.link, 0, 0x00, 1), 1u);
    EXPECT_EQ(Wire(f.dev->log),
              (W{{0xD4, 0xAA}, {0xD4, 0x55}, {0xD4, 0x50}, {0xD8, 0x0001}, {0xC2, 0x05}}));
    EXPECT_EQ(f.Out(),
              "    Do_SPI_Write_Status_0x00\n    W25X_Additional_WriteEN_0xAA_0x55\n"
              "    SPI_Status_0 = 0x00\n");
  }
  {
    // A part that never takes the value: three attempts, and the read result decides.
    DeviceFixture f;
    f.dev->status = 0x1C;
    f.dev->status_sticky = true;
    EXPECT_EQ(WriteFlashStatus(f.t, f.link, 0, 0x00, 1), 1u);
    EXPECT_EQ(f.dev->Requests(0xD8).size(), 3u);
    EXPECT_NE(f.Out().find("    SPI_Status_2 = 0x1C\n"), std::string::npos);
    f.dev->fail_if = [](const SetupPacket& s) { return s.bRequest == 0xC2; };
    EXPECT_EQ(WriteFlashStatus(f.t, f.link, 0, 0x00, 0), 0u);
  }
}

TEST(WriteFlashStatus, StatusRegister2Repair) {
  const struct {
    uint8_t before;
    int writes;  // of status register 2
    uint8_t after;
  } cases[] = {{0x42, 1, 0x00}, {0x5A, 1, 0x18}, {0x18, 0, 0x18}};
  for (const auto& c : cases) {
    DeviceFixture f;
    f.t.set.SPIFlashType = 14;
    f.dev->status2 = c.before;
    EXPECT_EQ(WriteFlashStatus(f.t, f.link, 0, 0x00, 0), 1u);
    const auto writes = f.dev->Requests(0xD8);
    int sr2_writes = 0;
    for (const auto& w : writes) {
      if ((w.setup.wValue & 0xFF) != 0x31) continue;
      ++sr2_writes;
      EXPECT_EQ(w.setup.wValue >> 8, c.after);
    }
    EXPECT_EQ(sr2_writes, c.writes) << std::hex << int{c.before};
    EXPECT_EQ(f.dev->status2, c.after);
    char expect[120];
    if (c.writes)
      std::snprintf(
          expect, sizeof expect,
          "    StatusReg2 = 0x%02X\n    Write_StatusReg2_To_0x%02X\n    StatusReg2 = 0x%02X\n",
          c.before, c.after, c.after);
    else
      std::snprintf(expect, sizeof expect, "    StatusReg2 = 0x%02X\n", c.before);
    EXPECT_EQ(f.Out(), expect);
  }
  // Only a clear to 0 repairs status register 2.
  DeviceFixture f;
  f.t.set.SPIFlashType = 14;
  f.dev->status2 = 0x42;
  WriteFlashStatus(f.t, f.link, 0, 0x1C, 0);
  EXPECT_EQ(f.dev->status2, 0x42);
}

TEST(PdRegisterReadSpi, ShiftsCommandThenDataThroughTheRegisterMaster) {
  DeviceFixture f;
  EXPECT_EQ(PdRegisterReadSpi(f.t, f.link, 0x03, 0x123456, 0, 0, nullptr), 1u);
  EXPECT_EQ(f.dev->reg_writes[0x00F6], (std::vector<uint8_t>{0x03, 0x12, 0x34, 0x56}));
  EXPECT_EQ(f.dev->reg_writes[0x00F5], (std::vector<uint8_t>{0x00, 0xC0, 0x00}));
  EXPECT_EQ(f.dev->regs[0x00F7] & 0x01, 0x01);
  EXPECT_EQ(f.dev->Requests(0xC4).size(), 0u);

  DeviceFixture g;
  g.dev->flash.assign(0x40000, 0xFF);
  g.dev->SetFlash(0x21000, {0x10, 0x20, 0x30, 0x40});
  // The second data byte cannot be read: the previous one stands in for it.
  int reads = 0;
  g.dev->fail_if = [&reads](const SetupPacket& s) { return s.wValue == 0xF601 && ++reads == 2; };
  uint8_t buf[6] = {};
  EXPECT_EQ(PdRegisterReadSpi(g.t, g.link, 0x03, 0x21000, 2, 4, buf), 1u);
  EXPECT_EQ(std::vector<uint8_t>(buf, buf + 6),
            (std::vector<uint8_t>{0, 0, 0x10, 0x10, 0x30, 0x40}));
  EXPECT_EQ(g.Out(), "Read-Reg 0x00F6 Fail\n");
}

}  // namespace
}  // namespace pdflash
