#include "device/vendor.h"

#include <gtest/gtest.h>

#include "support/fake_usb.h"

namespace pdflash {
namespace {

using test::DeviceFixture;
using test::FakeTransfer;

void ExpectSetup(const FakeTransfer& r, uint8_t type, uint8_t request, uint16_t value,
                 uint16_t index, uint16_t length) {
  EXPECT_EQ(r.setup.bmRequestType, type);
  EXPECT_EQ(r.setup.bRequest, request);
  EXPECT_EQ(r.setup.wValue, value) << std::hex << r.setup.wValue;
  EXPECT_EQ(r.setup.wIndex, index) << std::hex << r.setup.wIndex;
  EXPECT_EQ(r.setup.wLength, length);
}

TEST(VendorRequests, RegisterAddressTravelsInValueAndIndex) {
  DeviceFixture f;
  f.dev->regs[0x1234] = 0xA5;
  uint8_t v = 0;
  EXPECT_EQ(ReadRegister(f.t, f.link, 0x1234, v, true), 1u);
  EXPECT_EQ(v, 0xA5);
  EXPECT_EQ(WriteRegister(f.t, f.link, 0x1234, 0x5A, true), 1u);
  EXPECT_EQ(ReadRegister(f.t, f.link, 0x0018, v, false), 1u);
  ASSERT_EQ(f.dev->log.size(), 3u);
  ExpectSetup(f.dev->log[0], 0xC0, 0xE0, 0x3401, 0x0012, 1);
  ExpectSetup(f.dev->log[1], 0x40, 0xE0, 0x3402, 0x0012, 1);
  EXPECT_EQ(f.dev->log[1].data, std::vector<uint8_t>{0x5A});
  ExpectSetup(f.dev->log[2], 0xC0, 0xE0, 0x1801, 0x0000, 1);
  EXPECT_EQ(f.Out(), "    Read-Reg 0x1234 = 0xA5\n    Write-Reg 0x1234 = 0x5A\n");

  // A failed read reports itself whatever the echo flag and keeps the old value.
  f.dev->fail_if = [](const SetupPacket&) { return true; };
  v = 0x77;
  EXPECT_EQ(ReadRegister(f.t, f.link, 0x1234, v, false), 0u);
  EXPECT_EQ(v, 0x77);
  EXPECT_EQ(WriteRegister(f.t, f.link, 0x00AB, 1, false), 0u);
  EXPECT_EQ(f.Out(), "Read-Reg 0x1234 Fail\nWrite-Reg 0x00AB  Fail\n");
}

TEST(VendorRequests, EveryRequestWaitsOneMillisecondAndAClosedLinkFails) {
  DeviceFixture f;
  uint8_t v = 0;
  for (int i = 0; i < 3; ++i) ReadRegister(f.t, f.link, 0x0021, v, false);
  ASSERT_EQ(f.dev->log.size(), 3u);
  EXPECT_EQ(f.dev->log[0].time_us, 1000u);
  EXPECT_EQ(f.dev->log[1].time_us, 2000u);
  EXPECT_EQ(f.dev->log[2].time_us, 3000u);

  f.link.open = false;
  EXPECT_EQ(ReadRegister(f.t, f.link, 0x0021, v, false), 0u);
  EXPECT_EQ(f.dev->log.size(), 3u);
  f.link.open = true;
  f.link.dev.reset();
  EXPECT_FALSE(VendorTransfer(f.t, f.link, kVendorIn, 0xE0, 0x2101, 0, 1, &v));
}

TEST(VendorRequests, BlockCountsAreLimitedTo32) {
  DeviceFixture f;
  uint8_t buf[33] = {};
  EXPECT_EQ(ReadRegisterBlock(f.t, f.link, 0x0900, buf, 33, true), 0u);
  EXPECT_EQ(WriteRegisterBlock(f.t, f.link, 0x0900, buf, 33, true), 0u);
  EXPECT_TRUE(f.dev->log.empty());
  EXPECT_EQ(ReadRegisterBlock(f.t, f.link, 0x0900, buf, 32, false), 1u);
  ExpectSetup(f.dev->log.back(), 0xC0, 0xE0, 0x0003, 0x0009, 32);
  EXPECT_EQ(ReadRegisterBlock(f.t, f.link, 0x0900, buf, 0, false), 1u);
  EXPECT_EQ(f.dev->log.back().setup.wLength, 0u);
  // Descending blocks count the echoed address down.
  f.dev->regs = {{0x0A10, 0x11}, {0x0A0F, 0x22}};
  EXPECT_EQ(ReadRegisterBlockDescending(f.t, f.link, 0x0A10, buf, 2, true), 1u);
  ExpectSetup(f.dev->log.back(), 0xC0, 0xE0, 0x1005, 0x000A, 2);
  EXPECT_EQ(f.Out(), "    Read-reg [0x0A10] = 0x11\n    Read-reg [0x0A0F] = 0x22\n");
}

TEST(VendorRequests, VdrWriteIsSilentOnlyForTheJumpCodes) {
  DeviceFixture f;
  EXPECT_EQ(VdrWrite(f.t, f.link, 0xA0, true), 1u);
  ExpectSetup(f.dev->log.back(), 0x40, 0xA0, 0, 0, 0);
  EXPECT_EQ(f.Out(), "    VDR-Write 0xA0\n");
  f.dev->fail_if = [](const SetupPacket&) { return true; };
  EXPECT_EQ(VdrWrite(f.t, f.link, 0xA0, true), 0u);
  EXPECT_EQ(VdrWrite(f.t, f.link, 0xB0, true), 0u);
  EXPECT_EQ(VdrWrite(f.t, f.link, 0xC0, true), 0u);
  EXPECT_EQ(f.Out(), "VDR-Write 0xA0 Fail\n");
}

TEST(ChipIdentity, IdentityRegisterTable) {
  const struct {
    uint8_t reg;
    uint32_t id;
  } cases[] = {{0x00, 0x01000000}, {0x10, 0x01020000}, {0x70, 0x01030000}, {0x80, 0x01030000},
               {0x81, 0x01030000}, {0x90, 0x01040000}, {0xA0, 0x01050000}, {0xB0, 0x01060000},
               {0xC0, 0x01070000}, {0x71, 0}};
  for (const auto& c : cases) {
    DeviceFixture f;
    f.dev->regs[0x0018] = c.reg;
    EXPECT_EQ(ReadChipIdentity(f.t, f.link, 1, false), c.id) << std::hex << int{c.reg};
    EXPECT_EQ(f.t.Pd[1].ProjectId, c.id);
    if (c.id == 0) {
      EXPECT_EQ(f.Out(), "    Reg[0018] = 0x71\n");
      EXPECT_EQ(f.t.Pd[1].ChipName, "");
    }
  }
  DeviceFixture f;
  f.dev->regs[0x0018] = 0xC0;
  ReadChipIdentity(f.t, f.link, 2, false);
  EXPECT_EQ(f.t.Pd[2].ChipName, "KM107");
  f.dev->fail_if = [](const SetupPacket&) { return true; };
  EXPECT_EQ(ReadChipIdentity(f.t, f.link, 2, false), 0x01000000u);
  EXPECT_EQ(f.t.Pd[2].ChipName, "KM100");
}

TEST(ChipIdentity, ExtendedIdentity) {
  const struct {
    uint8_t hi, lo, ver;
    uint32_t id;
    const char* name;
  } cases[] = {{0x35, 0x96, 0x02, 0x01080200, "KM108"},
               {0x36, 0x01, 0x00, 0x01090000, "KM109"},
               {0x12, 0x34, 0x05, 0x12340500, "KM1234"}};
  for (const auto& c : cases) {
    DeviceFixture f;
    f.dev->regs = {{0x0018, 0xFF}, {0x009C, c.hi}, {0x009D, c.lo}, {0x009E, c.ver}};
    EXPECT_EQ(ReadChipIdentity(f.t, f.link, 1, false), c.id);
    EXPECT_EQ(f.t.Pd[1].ChipName, c.name);
  }
  DeviceFixture f;
  f.dev->regs = {{0x0018, 0xFF}, {0x009C, 0x35}, {0x009D, 0x96}, {0x009E, 0x07}};
  // The low ID byte is lost: it counts as 0, so 0x3596 is not recognised.
  f.dev->fail_if = [](const SetupPacket& s) { return s.wValue == 0x9D01; };
  EXPECT_EQ(ReadChipIdentity(f.t, f.link, 1, true), 0x35000700u);
  EXPECT_EQ(f.Out(),
            "Read-Reg 0x009D Fail\n    Reg_ID=0x3500, Ver=0x07\n    ProjectID = 0x35000700\n");
}

TEST(Gpio, RegisterArithmetic) {
  const struct {
    uint8_t n, level;
    uint16_t reg;
    uint8_t before, after;
    const char* line;
  } cases[] = {{8, 0, 0x0002, 0x0F, 0x87, "    GPIO8_Low\n"},
               {1, 1, 0x0003, 0x00, 0x11, "    GPIO1_High\n"},
               {10, 1, 0x0009, 0x00, 0x88, "    GPIOA_High\n"},
               {4, 0, 0x0003, 0xFF, 0xF7, "    GPIO4_Low\n"},
               {9, 2, 0x0009, 0x04, 0x40, "    GPIO9_Low\n"},
               {0, 1, 0x0000, 0x5A, 0x5A, "    GPIO0_High\n"},
               {11, 0, 0x0000, 0xA5, 0xA5, "    GPIOB_Low\n"}};
  for (const auto& c : cases) {
    DeviceFixture f;
    f.dev->regs[c.reg] = c.before;
    EXPECT_EQ(SetGpio(f.t, f.link, c.n, c.level), 1u);
    ASSERT_EQ(f.dev->reg_writes[c.reg].size(), 1u) << int{c.n};
    EXPECT_EQ(f.dev->reg_writes[c.reg][0], c.after) << int{c.n};
    EXPECT_EQ(f.Out(), c.line);
  }
  DeviceFixture f;
  f.dev->regs[0x0002] = 0xFF;
  f.dev->fail_transfers = {1};
  EXPECT_EQ(SetGpio(f.t, f.link, 5, 1), 1u);
  EXPECT_EQ(f.dev->regs[0x0002], 0x11);
  EXPECT_EQ(f.Out(), "    GPIO5_High\nRead-Reg 0x0002 Fail\n");
}

TEST(VendorHelpers, PollRegisterGivesUpAfter4096Reads) {
  DeviceFixture f;
  f.dev->reg_script[0x00F1] = {0x01, 0x03, 0x02};
  EXPECT_EQ(PollRegister(f.t, f.link, 0x00F1, 0x01, 0x00), 1u);
  EXPECT_EQ(f.dev->log.size(), 3u);

  DeviceFixture g;
  g.dev->regs[0x00F1] = 0x01;
  EXPECT_EQ(PollRegister(g.t, g.link, 0x00F1, 0x01, 0x00), 0u);
  EXPECT_EQ(g.dev->log.size(), 4096u);
  EXPECT_EQ(g.Out(), "");
  // 1 ms per read plus 1 us per miss: about four seconds.
  EXPECT_EQ(g.clock.NowUs(), 4096u * 1001u);

  g.dev->fail_if = [](const SetupPacket&) { return true; };
  EXPECT_EQ(PollRegister(g.t, g.link, 0x00F1, 0x01, 0x00), 0u);
  EXPECT_EQ(g.Out(), "Read-Reg 0x00F1 Fail\n");
}

TEST(VendorHelpers, UsbAddressZeroIsAFailure) {
  DeviceFixture f;
  f.dev->regs[0x0021] = 0x85;
  GetUsbAddress(f.t, f.link);
  EXPECT_EQ(f.t.CurrentUsbAddress, 5);
  f.dev->regs[0x0021] = 0x80;
  GetUsbAddress(f.t, f.link);
  EXPECT_EQ(f.t.CurrentUsbAddress, 0);
  EXPECT_EQ(f.Out(), "    Get_USB_Set_Address = 0x05\n    Get_USB_Set_Address_Fail\n");
}

TEST(VendorHelpers, I2cTestModeTogglesSixTimes) {
  DeviceFixture f;
  // A failed send does not stop the sequence; only the very last one decides.
  f.dev->fail_transfers = {3};
  EXPECT_EQ(I2cTestMode(f.t, f.link, 0x2), 1u);
  const auto sends = f.dev->Requests(0xB2);
  ASSERT_EQ(sends.size(), 12u);
  ExpectSetup(sends[0], 0x40, 0xB2, 0, 0, 3);
  EXPECT_EQ(sends[0].data, (std::vector<uint8_t>{0x82, 0x03, 0xFE}));
  EXPECT_EQ(sends[11].data, (std::vector<uint8_t>{0x82, 0x01, 0x01}));
  EXPECT_EQ(f.clock.SleptUs(), 18000000u);
  f.dev->fail_transfers = {24};
  EXPECT_EQ(I2cTestMode(f.t, f.link, 0), 0u);
}

}  // namespace
}  // namespace pdflash
