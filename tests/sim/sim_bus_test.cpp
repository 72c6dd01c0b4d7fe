#include "sim/sim_bus.h"

#include "sim_support.h"

namespace pdflash::sim::test {
namespace {

using pdflash::test::WriteBytes;

TEST(SimBus, EnumeratesPresentDevicesInSectionOrder) {
  Board b(
      "[Device2]\nMode=Rom\nRomPID=1108\nUsbAddress=86\nLocation=\n"
      "[Device]\nBcdDevice=0123\nLocation=Port_#0002.Hub_#0003\n");
  SimBus& bus = b.Run();
  const auto list = bus.Enumerate();
  ASSERT_EQ(list.size(), 2u);

  EXPECT_EQ(list[0].path.rfind("\\\\?\\usb#vid_2109&pid_0107#", 0), 0u) << list[0].path;
  EXPECT_NE(list[0].path.find("#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"), std::string::npos);
  EXPECT_EQ(list[0].descriptor[0], 18);
  EXPECT_EQ(list[0].descriptor[1], 1);
  EXPECT_EQ(Le16(&list[0].descriptor[8]), 0x2109);
  EXPECT_EQ(Le16(&list[0].descriptor[10]), 0x0107);
  EXPECT_EQ(Le16(&list[0].descriptor[12]), 0x0123);
  EXPECT_EQ(list[0].address, 5);
  EXPECT_EQ(list[0].location, "Port_#0002.Hub_#0003");

  EXPECT_NE(list[1].path.find("vid_2109&pid_1108"), std::string::npos);
  EXPECT_EQ(Le16(&list[1].descriptor[10]), 0x1108);
  EXPECT_EQ(list[1].address, 6) << "bus address is bits 0-6 of the register";

  std::string text;
  EXPECT_EQ(bus.Location(list[0], text), LocationStatus::Ok);
  EXPECT_EQ(text, "Port_#0002.Hub_#0003");
  EXPECT_EQ(bus.Location(list[1], text), LocationStatus::ValueMissing);

  UsbDeviceInfo gone = list[0];
  gone.path += "x";
  UsbStatus status = UsbStatus::Ok;
  EXPECT_EQ(bus.Open(gone, status), nullptr);
  EXPECT_EQ(status, UsbStatus::NotFound);
  EXPECT_EQ(bus.Location(gone, text), LocationStatus::KeyMissing);

  auto dev = bus.Open(list[1], status);
  ASSERT_NE(dev, nullptr);
  std::array<uint8_t, 18> d{};
  ASSERT_TRUE(dev->ReadDeviceDescriptor(d));
  EXPECT_EQ(d, list[1].descriptor);
}

TEST(SimBus, RegisterRequestsFollowTheWireEncoding) {
  Board b(
      "[Device]\nUsbAddress=85\nOrientation=F\nUfpStatus=1234\n[Device2]\nIdentity=FF\nExtIdHigh="
      "35\nExtIdLow=96\nExtVersion=2\n");
  b.Run();
  auto d = b.Open(0);
  ASSERT_NE(d, nullptr);

  std::vector<uint8_t> in;
  ASSERT_TRUE(In(*d, 0xE0, 0x1801, 0x0000, 1, in));  // identity register 0x0018
  EXPECT_EQ(in[0], 0xC0);
  EXPECT_TRUE(Out(*d, 0xE0, 0x3402, 0x0012, {0x5A}));  // register 0x1234
  EXPECT_EQ(ReadReg(*d, 0x1234), 0x5A);
  EXPECT_EQ(b.bus->Device(0).PeekRegister(0x1234), 0x5A);

  EXPECT_EQ(ReadReg(*d, 0x0021), 0x85);
  EXPECT_EQ(ReadReg(*d, 0x1005).value() & 0x0F, 0x0F);
  EXPECT_EQ(ReadReg(*d, 0x2CF2), 0x34);
  EXPECT_EQ(ReadReg(*d, 0x2CF3), 0x12);
  EXPECT_EQ(ReadReg(*d, 0x00F7).value() & 0x80, 0x80) << "application firmware runs";
  EXPECT_TRUE(WriteReg(*d, 0x0018, 0x10));
  EXPECT_EQ(ReadReg(*d, 0x0018), 0xC0) << "identity is read-only";
  EXPECT_TRUE(WriteReg(*d, 0x0002, 0x87));
  EXPECT_EQ(ReadReg(*d, 0x0002), 0x87) << "GPIO registers keep what is written";

  // Blocks, ascending and descending, at most 32 bytes.
  ASSERT_TRUE(Out(*d, 0xE0, RegValue(0x2000, 0x04), 0x20, {1, 2, 3, 4}));
  ASSERT_TRUE(In(*d, 0xE0, RegValue(0x2003, 0x05), 0x20, 4, in));
  EXPECT_EQ(in, (std::vector<uint8_t>{4, 3, 2, 1}));
  ASSERT_TRUE(Out(*d, 0xE0, RegValue(0x2103, 0x06), 0x21, {9, 8}));
  ASSERT_TRUE(In(*d, 0xE0, RegValue(0x2102, 0x03), 0x21, 2, in));
  EXPECT_EQ(in, (std::vector<uint8_t>{8, 9}));
  EXPECT_TRUE(In(*d, 0xE0, RegValue(0x2000, 0x03), 0x20, 32, in));
  EXPECT_FALSE(In(*d, 0xE0, RegValue(0x2000, 0x03), 0x20, 33, in));

  // Requests the device does not know, or in the wrong direction, fail.
  EXPECT_FALSE(In(*d, 0x99, 0, 0, 1, in));
  EXPECT_FALSE(Out(*d, 0xE0, 0x1801, 0, {0}));
  EXPECT_FALSE(In(*d, 0xE0, 0x0007, 0, 8, in)) << "no security engine";
  EXPECT_FALSE(Challenge16(*d, 0x000F)) << "no challenge without a client";
  EXPECT_FALSE(Vdr(*d, 0xA1));
  EXPECT_TRUE(In(*d, 0xC5, 0, 0, 3, in));
  EXPECT_EQ(in, (std::vector<uint8_t>{0, 0, 0}));
  EXPECT_TRUE(Out(*d, 0xB2, 0, 0, {0x82, 0x03, 0xFE}));
  EXPECT_EQ(b.bus->Device(0).I2cWrites().back(), (std::vector<uint8_t>{0x82, 0x03, 0xFE}));

  auto ext = b.Open(1);
  EXPECT_EQ(ReadReg(*ext, 0x0018), 0xFF);
  EXPECT_EQ(ReadReg(*ext, 0x009C), 0x35);
  EXPECT_EQ(ReadReg(*ext, 0x009D), 0x96);
  EXPECT_EQ(ReadReg(*ext, 0x009E), 0x02);
}

TEST(SimBus, FlashRequestsAreServedInRomCodeAndByIdentityC0) {
  Board b("[Device]\nFlashSize=200000\n[Device2]\nIdentity=B0\n[Device3]\nIdentity=B0\nMode=Rom\n");
  b.Run();
  auto c0 = b.Open(0), b0 = b.Open(1), rom = b.Open(2);
  EXPECT_TRUE(SpiRead(*c0, 0, 4));
  EXPECT_FALSE(SpiRead(*b0, 0, 4));
  EXPECT_FALSE(SpiCommand(*b0, 0x06));
  EXPECT_TRUE(SpiRead(*rom, 0, 4));

  // Program through the requests; the address travels in wValue and wIndex.
  ASSERT_TRUE(SpiCommand(*c0, 0x06));
  EXPECT_EQ(SpiStatus(*c0), 0x02);
  std::vector<uint8_t> in;
  ASSERT_TRUE(Out(*c0, 0xDC, 0xF002, 0x14FF, {0x12, 0x34}));
  EXPECT_EQ(SpiStatus(*c0), 0x03);
  b.clock.Advance(1000);
  EXPECT_EQ(SpiStatus(*c0), 0x00);
  ASSERT_TRUE(In(*c0, 0xC4, 0xF003, 0x14FF, 2, in));
  EXPECT_EQ(in, (std::vector<uint8_t>{0x12, 0x34}));
  EXPECT_EQ(b.bus->Device(0).Flash().Data()[0x14FFF0], 0x12);

  ASSERT_TRUE(SpiCommand(*c0, 0x06));
  ASSERT_TRUE(Out(*c0, 0xD2, 0x0020, 0x14F0));  // sector erase at 0x14F000
  b.clock.Advance(40000);
  EXPECT_EQ(SpiRead(*c0, 0x14FFF0, 2), (std::vector<uint8_t>{0xFF, 0xFF}));

  ASSERT_TRUE(SpiCommand(*c0, 0x06));
  ASSERT_TRUE(SpiWriteStatus(*c0, 0x01, 0x1C));  // wValue 0x1C01
  b.clock.Advance(10000);
  EXPECT_EQ(SpiStatus(*c0), 0x1C);
  ASSERT_TRUE(SpiCommand(*c0, 0x06));
  ASSERT_TRUE(SpiWriteStatus(*c0, 0x31, 0x40));
  b.clock.Advance(10000);
  EXPECT_EQ(SpiStatus(*c0, 0x35), 0x40);

  EXPECT_FALSE(Out(*c0, 0xD4, 0x06, 0, {0x00})) << "no-data requests carry no data";
}

// The register sequence the tool uses to read flash in application firmware.
std::vector<uint8_t> MasterRead(UsbDevice& d, VirtualClock& clock, uint32_t address, int n,
                                bool enable = true) {
  auto send = [&] {
    WriteReg(d, 0x00F0, static_cast<uint8_t>(ReadReg(d, 0x00F0).value_or(0) | 0x04));
    clock.Advance(1000);
    EXPECT_EQ(ReadReg(d, 0x00F1).value_or(0xFF) & 0x01, 0);
  };
  if (enable) WriteReg(d, 0x00F7, static_cast<uint8_t>(ReadReg(d, 0x00F7).value_or(0) | 0x01));
  WriteReg(d, 0x00F5, 0x00);
  WriteReg(d, 0x00F5, 0xC0);
  WriteReg(d, 0x00F6, 0x03);
  send();
  for (int shift : {16, 8, 0}) {
    WriteReg(d, 0x00F6, static_cast<uint8_t>(address >> shift));
    send();
  }
  std::vector<uint8_t> out;
  for (int i = 0; i < n; ++i) {
    WriteReg(d, 0x00F5, 0x40);
    send();
    out.push_back(ReadReg(d, 0x00F6).value_or(0xEE));
  }
  WriteReg(d, 0x00F5, 0x00);
  return out;
}

TEST(SimBus, RegisterDrivenSpiMasterReadsFlashByteByByte) {
  Board b("[Device]\nIdentity=B0\n");
  WriteBytes(b.dir / "flash.bin", FlashWith(0x80000, {{0x21003, {0x0E, 0x01, 0x02, 0x03}}}));
  b.Run();
  auto d = b.Open();
  ASSERT_FALSE(SpiRead(*d, 0x21003, 4)) << "flash requests are refused here";

  EXPECT_EQ(MasterRead(*d, b.clock, 0x21003, 4), (std::vector<uint8_t>{0x0E, 0x01, 0x02, 0x03}));
  EXPECT_EQ(MasterRead(*d, b.clock, 0x21005, 1), (std::vector<uint8_t>{0x02}))
      << "each command starts afresh";
  EXPECT_EQ(ReadReg(*d, 0x00F7), 0x81) << "enable bit kept, mode bit untouched";
  EXPECT_EQ(ReadReg(*d, 0x00F0).value() & 0x04, 0) << "start bit clears itself";

  // The busy bit is up while a byte moves.
  WriteReg(*d, 0x00F5, 0xC0);
  WriteReg(*d, 0x00F0, 0x04);
  EXPECT_EQ(ReadReg(*d, 0x00F1).value() & 0x01, 0x01);
  b.clock.Advance(1);
  EXPECT_EQ(ReadReg(*d, 0x00F1).value() & 0x01, 0x00);
  WriteReg(*d, 0x00F5, 0x00);

  // Without the enable bit nothing reaches the flash: the data register keeps
  // the last address byte written.
  WriteReg(*d, 0x00F7, 0x00);
  EXPECT_EQ(MasterRead(*d, b.clock, 0x21003, 2, false), (std::vector<uint8_t>{0x03, 0x03}));
}

TEST(SimBus, PortSelectSwitchesIdentityC0ToItsSecondFlash) {
  Board b(
      "[Device]\nMode=Rom\nFlash2Size=10000\n[Device2]\nMode=Rom\nIdentity=B0\nFlash2Size=10000\n"
      "[Device3]\nMode=Rom\n");
  WriteBytes(b.dir / "flash.bin", FlashWith(0x80000, {{0, {0x11}}}));
  WriteBytes(b.dir / "flash2.bin", FlashWith(0x10000, {{0, {0x22}}}));
  b.Run();
  auto d = b.Open(0);
  EXPECT_EQ(SpiRead(*d, 0, 1).value()[0], 0x11);
  ASSERT_TRUE(WriteReg(*d, 0x2BFD, 1));
  EXPECT_EQ(SpiRead(*d, 0, 1).value()[0], 0x22);
  EXPECT_EQ(SpiRead(*d, 0x10000, 1).value()[0], 0x22) << "wraps at the second flash's size";
  ASSERT_TRUE(SpiCommand(*d, 0x06));
  ASSERT_TRUE(SpiProgram(*d, 0x10, {0x33}));
  EXPECT_EQ(MasterRead(*d, b.clock, 0x10, 1), (std::vector<uint8_t>{0x33}))
      << "register master follows the port";
  ASSERT_TRUE(WriteReg(*d, 0x2BFD, 0));
  EXPECT_EQ(SpiRead(*d, 0x10, 1).value()[0], 0xFF);
  EXPECT_EQ(b.bus->Device(0).Flash2()->Data()[0x10], 0x33);

  auto other = b.Open(1);  // only identity C0 has the port
  ASSERT_TRUE(WriteReg(*other, 0x2BFD, 1));
  EXPECT_EQ(SpiRead(*other, 0, 1).value()[0], 0xFF);
  EXPECT_EQ(b.bus->Device(1).SelectedFlash(), &b.bus->Device(1).Flash());

  auto empty_port = b.Open(2);
  ASSERT_TRUE(WriteReg(*empty_port, 0x2BFD, 1));
  EXPECT_EQ(b.bus->Device(2).SelectedFlash(), nullptr);
  EXPECT_EQ(SpiStatus(*empty_port), 0xFF) << "nothing on the port: the line floats high";
}

}  // namespace
}  // namespace pdflash::sim::test
