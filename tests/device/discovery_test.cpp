#include "device/discovery.h"

#include <gtest/gtest.h>

#include "support/fake_usb.h"

namespace pdflash {
namespace {

using test::FakeController;

constexpr uint16_t kVid = 0x2109, kPid = 0x0107, kRomPid = 0x1107;

struct BusFixture : test::DeviceFixture {
  BusFixture() {
    DeviceRecord& pd = t.Pd[1];
    pd.Vid = kVid;
    pd.Pid = kPid;
    pd.RomVid = kVid;
    pd.RomPid = kRomPid;
  }
  // A controller on the bus; application firmware unless `rom`.
  std::shared_ptr<FakeController> Plug(uint16_t vid, uint16_t pid, bool rom = false,
                                       uint8_t usb_address = 5,
                                       const std::string& location = "Port_#0001.Hub_#0001") {
    auto c = NewController();
    c->regs = {{0x0018, 0xC0}, {0x0021, usb_address}, {0x00F7, rom ? 0x00 : 0x80}};
    c->version = {0x11, 0x22, 0x33, 0x44};
    bus.Add(vid, pid, c, location);
    return c;
  }
  UsbLink found;
};

bool Has(const std::string& out, const std::string& line) {
  return out.find(line) != std::string::npos;
}

TEST(SearchDevice, MatchesConfiguredPairsAndRomPairInOrder) {
  BusFixture f;
  f.Plug(0x1234, 0x5678);
  auto app = f.Plug(kVid, kPid);
  uint8_t in_rom = 0;
  EXPECT_EQ(SearchDevice(f.t, f.found, 1, 0, in_rom, 0), 1u);
  EXPECT_TRUE(f.found.open);
  EXPECT_EQ(in_rom, 0);
  const DeviceRecord& pd = f.t.Pd[1];
  EXPECT_EQ(pd.CurPid, kPid);
  EXPECT_EQ(pd.BcdDevice, 0x0100);
  EXPECT_EQ(pd.ProjectId, 0x01070000u);
  EXPECT_EQ(pd.FwVersion, 0x11223344u);
  EXPECT_EQ(f.t.CurrentUsbAddress, 5);
  EXPECT_EQ(f.Out(),
            "    Not_Our_billboard_0\n    Found Target Device: \n"
            "=========================================\n"
            "=  KMPDx:2109/0107, Version:11.22.33.44 =\n"
            "=========================================\n"
            "    Get_USB_Set_Address = 0x05\n");

  // ROM-only: the application pair is no longer ours.
  EXPECT_EQ(SearchDevice(f.t, f.found, 1, 1, in_rom, 1), 0u);
  EXPECT_TRUE(Has(f.Out(), "    Not_Our_billboard_1\n    DeviceNotFound\n"));

  // The ROM pair matches with or without ROM-only; ROM code sets the flag.
  BusFixture g;
  g.Plug(kVid, kRomPid, true);
  for (uint8_t rom_only : {0, 1}) {
    in_rom = 0;
    EXPECT_EQ(SearchDevice(g.t, g.found, 1, rom_only, in_rom, 1), 1u);
    EXPECT_EQ(in_rom, 1);
    EXPECT_FALSE(g.found.open);
  }
}

TEST(SearchDevice, AlternativePairsMatchOnlyWhenConfigured) {
  BusFixture f;
  f.Plug(0x0000, 0x0000);
  f.Plug(0x3333, 0x4444);
  uint8_t in_rom = 0;
  EXPECT_EQ(SearchDevice(f.t, f.found, 1, 0, in_rom, 1), 0u);
  f.t.Pd[1].Vid3 = 0x3333;
  f.t.Pd[1].Pid3 = 0x4444;
  EXPECT_EQ(SearchDevice(f.t, f.found, 1, 0, in_rom, 1), 1u);
  EXPECT_EQ(SearchDevice(f.t, f.found, 1, 1, in_rom, 1), 0u);
  EXPECT_TRUE(MatchesPdRecord(f.t.Pd[1], 0x3333, 0x4444, 0));
  EXPECT_FALSE(MatchesPdRecord(f.t.Pd[1], 0x3333, 0x0000, 0));
}

TEST(SearchDevice, UsbAddressFilter) {
  BusFixture f;
  f.Plug(kVid, kPid, false, 0x05);
  auto second = f.Plug(kVid, kPid, false, 0x87);
  f.t.set.USBSetAddress = 7;
  uint8_t in_rom = 0;
  EXPECT_EQ(SearchDevice(f.t, f.found, 1, 0, in_rom, 0), 1u);
  EXPECT_EQ(f.t.CurrentUsbAddress, 7);
  EXPECT_TRUE(Has(f.Out(), "    Get_USB_Set_Address = 0x05\n    Not_Target_USB_Address \n"));
  // The open link talks to the second device.
  uint8_t v = 0;
  EXPECT_EQ(f.found.dev->ControlTransfer(SetupPacket{0xC0, 0xE0, 0x2101, 0, 1}, &v), true);
  EXPECT_EQ(v, 0x87);
}

TEST(SearchDevice, LocationFilter) {
  BusFixture f;
  f.Plug(kVid, kPid, false, 5, "Port_#0001.Hub_#0003");
  f.Plug(kVid, kPid, false, 6, "Port_#0012.Hub_#0003");
  f.t.set.WinLocationHub = 3;
  f.t.set.WinLocationPort = 2;
  uint8_t in_rom = 0;
  EXPECT_EQ(SearchDevice(f.t, f.found, 1, 0, in_rom, 0), 1u);
  EXPECT_EQ(f.t.CurrentUsbAddress, 6);
  const std::string out = f.Out();
  EXPECT_TRUE(Has(out, "    Registry_Location = Hub0003, Port0001\n"));
  EXPECT_TRUE(Has(out, "    Not_Target_Location_Info\n"));
  EXPECT_TRUE(Has(out, "    Registry_Location = Hub0003, Port0002\n"));

  // Only one of the two set: the other must be 0, which no location gives.
  f.t.set.WinLocationPort = 0;
  EXPECT_EQ(SearchDevice(f.t, f.found, 1, 0, in_rom, 0), 0u);
  // A device without the registry value is rejected.
  f.t.set.WinLocationPort = 2;
  f.bus.entries[1].location_status = LocationStatus::ValueMissing;
  EXPECT_EQ(SearchDevice(f.t, f.found, 1, 0, in_rom, 0), 0u);
  EXPECT_TRUE(Has(f.Out(), "    RegQueryValueEx FAIL \n    Registry_Location_Not_Found\n"));
}

TEST(GetRegistryLocation, DigitsAtFixedPositions) {
  BusFixture f;
  f.Plug(kVid, kPid, false, 5, "Port_#0012.Hub_#0003");
  f.Plug(kVid, kPid, false, 5, "Port_#0010.Hub_#0001");
  f.bus.entries[0].info.path = "\\\\?\\usb#vid_2109&pid_0107#5&1a2b&0&1#{a5dcbf10}";
  bool no_more = false;
  uint8_t hub = 0, port = 0;
  ASSERT_EQ(OpenDevice(f.t, 0, f.found, no_more), 0u);
  EXPECT_EQ(GetRegistryLocation(f.t, 0, f.found, hub, port), 1u);
  EXPECT_EQ(port, 2);
  EXPECT_EQ(hub, 3);
  EXPECT_EQ(
      f.Out(),
      "    DevicePath = \\\\?\\usb#vid_2109&pid_0107#5&1a2b&0&1#{a5dcbf10}\n"
      "    Split_1 = \\\\?\\usb\n"
      "    wcRegPath_1 = SYSTEM\\CurrentControlSet\\Enum\\USB\\\n"
      "    Split_2 = VID_2109&PID_0107\n"
      "    wcRegPath_2 = SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_2109&PID_0107\n"
      "    Split_3 = 5&1a2b&0&1\n"
      "    wcRegPath_3 = SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_2109&PID_0107\\5&1a2b&0&1\n"
      "    DevicePath=\\\\?\\usb#vid_2109&pid_0107#5&1a2b&0&1#{a5dcbf10}\n"
      "    Dev_0, LocationInformation = Port_#0012.Hub_#0003, 33, 32\n");

  ASSERT_EQ(OpenDevice(f.t, 1, f.found, no_more), 0u);
  EXPECT_EQ(GetRegistryLocation(f.t, 1, f.found, hub, port), 0u);
  EXPECT_EQ(port, 0);
  EXPECT_EQ(hub, 1);
  f.bus.entries[1].location_status = LocationStatus::KeyMissing;
  EXPECT_EQ(GetRegistryLocation(f.t, 1, f.found, hub, port), 0u);
  EXPECT_TRUE(Has(f.Out(), "    RegOpenKeyEx FAIL \n"));
}

TEST(SearchDevice, ChecksAfterAcceptance) {
  BusFixture f;
  auto c = f.Plug(kVid, kPid);
  c->regs[0x0018] = 0x70;
  c->regs[0x1005] = 0x0F;
  c->regs[0x2CF2] = 0x34;
  c->regs[0x2CF3] = 0x12;
  uint8_t in_rom = 0;
  // Wrong cable orientation fails the search but fills the record and keeps the link.
  EXPECT_EQ(SearchDevice(f.t, f.found, 1, 0, in_rom, 0), 0u);
  EXPECT_TRUE(Has(f.Out(), "    Please flip the USB-C cable and retry again.\n"));
  EXPECT_TRUE(f.found.open);
  EXPECT_EQ(f.t.Pd[1].ProjectId, 0x01030000u);
  EXPECT_EQ(f.t.UfpStatus[1], 0x1234u);

  // Family 9 has no orientation register.
  c->regs[0x0018] = 0x90;
  EXPECT_EQ(SearchDevice(f.t, f.found, 1, 0, in_rom, 0), 1u);
  EXPECT_EQ(in_rom, 0);
  f.t.set.SkipJumpRom = 1;
  EXPECT_EQ(SearchDevice(f.t, f.found, 1, 0, in_rom, 0), 1u);
  EXPECT_EQ(in_rom, 1);

  // The VMM6 shares the flash: GPIO8 is pulled low unless the function says otherwise.
  f.t.set.PDVMM6ShareSPI = 1;
  c->regs[0x0002] = 0x0F;
  SearchDevice(f.t, f.found, 1, 0, in_rom, 1);
  EXPECT_EQ(c->regs[0x0002], 0x87);
  f.t.ControlMode = 0x40010;
  f.t.set.DbgMsg = 1;
  SearchDevice(f.t, f.found, 1, 0, in_rom, 1);
  EXPECT_EQ(c->reg_writes[0x0002].size(), 1u);
  EXPECT_TRUE(Has(f.Out(), "    No_Pull_Down2\n"));
}

TEST(SearchDevice, InterfaceLimitAndUnopenableDevices) {
  BusFixture f;
  for (int i = 0; i < 20; ++i) f.Plug(0x1111, static_cast<uint16_t>(i));
  f.Plug(kVid, kPid);
  uint8_t in_rom = 0;
  EXPECT_EQ(SearchDevice(f.t, f.found, 1, 0, in_rom, 0), 0u);
  const std::string out = f.Out();
  EXPECT_TRUE(Has(out, "    Not_Our_billboard_19\n"));
  EXPECT_FALSE(Has(out, "Not_Our_billboard_20"));
  EXPECT_FALSE(Has(out, "DeviceNotFound"));
  // Enumerated afresh for every interface.
  EXPECT_EQ(f.bus.enumerations, 20);

  BusFixture g;
  g.Plug(kVid, kPid);
  g.Plug(kVid, kPid, false, 6);
  g.Plug(kVid, kPid, false, 7);
  g.bus.entries[0].open_status = UsbStatus::AccessDenied;
  g.bus.hint = "Add a udev rule for the device.";
  g.bus.entries[1].info.path = std::string(260, 'x');
  EXPECT_EQ(SearchDevice(g.t, g.found, 1, 0, in_rom, 0), 1u);
  EXPECT_EQ(g.t.CurrentUsbAddress, 7);
  const std::string out2 = g.Out();
  EXPECT_EQ(out2.rfind("    Open_Device_Access_Denied: ", 0), 0u);
  EXPECT_TRUE(Has(out2, "\n    Add a udev rule for the device.\n    Found Target Device: \n"));
}

TEST(WaitRomDevice, FiveSearchesThreeSecondsApart) {
  BusFixture f;
  f.Plug(kVid, kRomPid, true);
  EXPECT_EQ(WaitRomDevice(f.t, f.found, 1), 1u);
  EXPECT_TRUE(f.found.open);
  EXPECT_EQ(f.clock.SleptUs(), 0u);

  // ROM IDs but still firmware: found, closed again, and retried.
  BusFixture g;
  g.Plug(kVid, kRomPid, false);
  EXPECT_EQ(WaitRomDevice(g.t, g.found, 1), 0u);
  EXPECT_FALSE(g.found.open);
  EXPECT_EQ(g.clock.SleptUs(), 15000000u);
}

TEST(SameIdFwCheckRom, CollectsAddressesOfRomDevices) {
  BusFixture f;
  f.Plug(kVid, kRomPid, true, 3);
  f.Plug(kVid, kPid, false, 9);
  f.Plug(kVid, kRomPid, true, 4);
  EXPECT_EQ(SameIdFwCheckRom(f.t, f.found, 1, 2), 1u);
  EXPECT_EQ(f.t.SameIdAddress, (std::array<uint8_t, 5>{3, 4, 0, 0, 0}));
  EXPECT_FALSE(f.found.open);
  EXPECT_TRUE(Has(f.Out(), "    Not_Our_billboard_1\n"));
  EXPECT_EQ(SameIdFwCheckRom(f.t, f.found, 1, 3), 0u);
  EXPECT_TRUE(Has(f.Out(), "    DeviceNotFound\n"));

  f.Plug(kVid, kRomPid, false, 5);
  EXPECT_EQ(SameIdFwCheckRom(f.t, f.found, 1, 3), 0u);
  EXPECT_TRUE(Has(f.Out(), "    Still_Find_FW_Mode_Device.\n"));

  BusFixture g;
  for (uint8_t a = 1; a <= 5; ++a) g.Plug(kVid, kRomPid, true, a);
  EXPECT_EQ(SameIdFwCheckRom(g.t, g.found, 1, 5), 0u);
  EXPECT_TRUE(Has(g.Out(), "    Device_Cnt_Over.\n"));
}

}  // namespace
}  // namespace pdflash
