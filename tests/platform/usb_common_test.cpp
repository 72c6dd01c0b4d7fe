#include "platform/usb_common.h"

#include <gtest/gtest.h>

#include <vector>

#include "image/bytes.h"

namespace pdflash {
namespace {

std::string Location(uint8_t bus, std::vector<uint8_t> ports) {
  return LocationFromPortPath(bus, ports);
}

TEST(UsbLocation, PortIsLastHopHubNamesTheParent) {
  // Behind an external hub: the hub is named by the port it hangs on.
  EXPECT_EQ(Location(1, {4, 2}), "Port_#0002.Hub_#0004");
  EXPECT_EQ(Location(2, {1, 3, 6, 5}), "Port_#0005.Hub_#0006");
  // Directly on a root-hub port: the bus names the hub.
  EXPECT_EQ(Location(3, {2}), "Port_#0002.Hub_#0003");
  // A root hub itself has no location.
  EXPECT_EQ(Location(1, {}), "");
}

TEST(UsbLocation, DigitsStandWhereTheFilterReadsThem) {
  // The location filter takes the characters at 9 (port) and 19 (hub).
  for (const auto& [bus, ports, port_digit, hub_digit] :
       std::vector<std::tuple<uint8_t, std::vector<uint8_t>, char, char>>{{1, {7, 3}, '3', '7'},
                                                                          {1, {12}, '2', '1'},
                                                                          {9, {255, 255}, '5', '5'},
                                                                          {255, {9}, '9', '5'}}) {
    const std::string text = Location(bus, ports);
    ASSERT_EQ(text.size(), 20u) << text;
    EXPECT_EQ(text[9], port_digit) << text;
    EXPECT_EQ(text[19], hub_digit) << text;
  }
}

TEST(UsbLocation, PathNamesFollowSysfs) {
  EXPECT_EQ(PortPathName(1, std::vector<uint8_t>{4, 2}), "1-4.2");
  EXPECT_EQ(PortPathName(12, std::vector<uint8_t>{10}), "12-10");
  EXPECT_EQ(PortPathName(2, std::vector<uint8_t>{}), "2");
}

TEST(UsbErrors, LibusbCodesMapToStatus) {
  EXPECT_EQ(UsbStatusFromLibusb(0), UsbStatus::Ok);
  EXPECT_EQ(UsbStatusFromLibusb(kLibusbErrorAccess), UsbStatus::AccessDenied);
  EXPECT_EQ(UsbStatusFromLibusb(kLibusbErrorNoDevice), UsbStatus::NotFound);
  EXPECT_EQ(UsbStatusFromLibusb(kLibusbErrorNotFound), UsbStatus::NotFound);
  for (int other : {kLibusbErrorIo, kLibusbErrorBusy, -7, -12, -99})
    EXPECT_EQ(UsbStatusFromLibusb(other), UsbStatus::Failed) << other;
}

TEST(UsbErrors, Win32CodesBecomeHresults) {
  EXPECT_EQ(UsbStatusFromWin32(0), UsbStatus::Ok);
  EXPECT_EQ(UsbStatusFromWin32(5), UsbStatus::AccessDenied);
  EXPECT_EQ(UsbStatusFromWin32(2), UsbStatus::NotFound);
  EXPECT_EQ(UsbStatusFromWin32(0x7A), UsbStatus::PathTooLong);
  EXPECT_EQ(static_cast<uint32_t>(UsbStatusFromWin32(259)), 0x80070103u);
  EXPECT_EQ(static_cast<uint32_t>(UsbStatusFromWin32(0x12345)), 0x80072345u);
}

TEST(UsbErrors, OnlyARefusedOpenGetsAHint) {
  const std::string hint = LibusbOpenHint(UsbStatus::AccessDenied);
  EXPECT_NE(hint.find("permission"), std::string::npos);
  EXPECT_NE(hint.find("60-pdflash-billboard.rules"), std::string::npos);
  EXPECT_NE(hint.find("udevadm"), std::string::npos);
  for (const std::string& text : {hint, WinUsbOpenHint(UsbStatus::AccessDenied)}) {
    ASSERT_FALSE(text.empty());
    // Whole detail lines.
    EXPECT_EQ(text.back(), '\n');
    for (size_t start = 0; start < text.size(); start = text.find('\n', start) + 1)
      EXPECT_EQ(text.compare(start, 4, "    "), 0) << text.substr(start);
  }
  for (UsbStatus s :
       {UsbStatus::Ok, UsbStatus::NotFound, UsbStatus::Failed, UsbStatus::PathTooLong}) {
    EXPECT_EQ(LibusbOpenHint(s), "");
    EXPECT_EQ(WinUsbOpenHint(s), "");
  }
}

TEST(UsbDescriptor, PacksTheWireLayout) {
  DeviceDescriptorFields f;
  f.bcdUSB = 0x0201;
  f.bDeviceClass = kBillboardClass;
  f.bMaxPacketSize0 = 64;
  f.idVendor = 0x1A2B;
  f.idProduct = 0x3C4D;
  f.bcdDevice = 0x0107;
  f.iManufacturer = 1;
  f.iProduct = 2;
  f.iSerialNumber = 3;
  f.bNumConfigurations = 1;
  const auto d = PackDeviceDescriptor(f);
  const std::array<uint8_t, 18> expected = {18,   1,    0x01, 0x02, 0x11, 0, 0, 64, 0x2B,
                                            0x1A, 0x4D, 0x3C, 0x07, 0x01, 1, 2, 3,  1};
  EXPECT_EQ(d, expected);
  // Where discovery takes the IDs from.
  EXPECT_EQ(Le16(&d[8]), 0x1A2B);
  EXPECT_EQ(Le16(&d[10]), 0x3C4D);
  EXPECT_EQ(Le16(&d[12]), 0x0107);
}

TEST(UsbDescriptor, ParseAcceptsOnlyADeviceDescriptor) {
  DeviceDescriptorFields f;
  f.idVendor = 0x04B4;
  const auto good = PackDeviceDescriptor(f);
  std::array<uint8_t, 18> out{};
  EXPECT_TRUE(ParseDeviceDescriptor(good, out));
  EXPECT_EQ(out, good);

  std::vector<uint8_t> longer(good.begin(), good.end());
  longer.push_back(0xAA);
  out = {};
  EXPECT_TRUE(ParseDeviceDescriptor(longer, out));
  EXPECT_EQ(out, good);

  const std::array<uint8_t, 18> before = out;
  EXPECT_FALSE(ParseDeviceDescriptor(std::span<const uint8_t>(good.data(), 17), out));
  auto wrong_type = good;
  wrong_type[1] = 2;  // a configuration descriptor
  EXPECT_FALSE(ParseDeviceDescriptor(wrong_type, out));
  auto short_length = good;
  short_length[0] = 9;
  EXPECT_FALSE(ParseDeviceDescriptor(short_length, out));
  EXPECT_EQ(out, before);  // untouched on failure
}

TEST(UsbDevicePath, BuildsTheRegistryKeyTokenByToken) {
  const auto k = RegistryKeyFromDevicePath(
      "\\\\?\\usb#vid_04b4&pid_f2a0#5&1a2b3c&0&2#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
  ASSERT_TRUE(k.ok);
  EXPECT_EQ(k.split1, "\\\\?\\usb");
  EXPECT_EQ(k.split2, "vid_04b4&pid_f2a0");
  EXPECT_EQ(k.split3, "5&1a2b3c&0&2");
  EXPECT_EQ(k.key1, "SYSTEM\\CurrentControlSet\\Enum\\USB\\");
  EXPECT_EQ(k.key2, "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_04B4&PID_F2A0");
  // The instance ID keeps its case; only the hardware ID is upper-cased.
  EXPECT_EQ(k.key3, "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_04B4&PID_F2A0\\5&1a2b3c&0&2");

  EXPECT_EQ(RegistryKeyFromDevicePath("\\\\?\\usb##vid_1&pid_2##inst#x").key3,
            "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_1&PID_2\\inst");
  EXPECT_FALSE(RegistryKeyFromDevicePath("\\\\?\\usb#vid_04b4&pid_f2a0").ok);
  EXPECT_FALSE(RegistryKeyFromDevicePath("1-4.2").ok);
}

TEST(UsbDevicePath, KeyMustFitTheRegistryPathLimit) {
  const std::string base = "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_1234&PID_5678\\";
  const std::string fits(kMaxDevicePath - 1 - base.size(), 'a');
  auto k = RegistryKeyFromDevicePath("x#vid_1234&pid_5678#" + fits + "#g");
  EXPECT_TRUE(k.ok);
  EXPECT_EQ(k.key3.size(), kMaxDevicePath - 1);
  k = RegistryKeyFromDevicePath("x#vid_1234&pid_5678#" + fits + "a#g");
  EXPECT_FALSE(k.ok);
}

TEST(UsbDevicePath, LongPathsAreCutAndRefused) {
  std::string path(kMaxDevicePath - 1, 'p');
  EXPECT_TRUE(FitDevicePath(path));
  EXPECT_EQ(path.size(), kMaxDevicePath - 1);
  std::wstring wide(kMaxDevicePath + 40, L'w');
  EXPECT_FALSE(FitDevicePath(wide));
  EXPECT_EQ(wide.size(), kMaxDevicePath - 1);
  path.push_back('x');
  EXPECT_FALSE(FitDevicePath(path));
  EXPECT_EQ(path, std::string(kMaxDevicePath - 1, 'p'));
}

TEST(UsbDevicePath, ReadsTheIdsFromTheHardwareId) {
  uint16_t vid = 0, pid = 0;
  EXPECT_TRUE(IdsFromDevicePath("\\\\?\\USB#VID_04B4&PID_F2a0#5&1&0&2#{g}", vid, pid));
  EXPECT_EQ(vid, 0x04B4);
  EXPECT_EQ(pid, 0xF2A0);
  EXPECT_TRUE(IdsFromDevicePath("\\\\?\\usb#vid_0001&pid_ffff&mi_00#6&2#{g}", vid, pid));
  EXPECT_EQ(vid, 0x0001);
  EXPECT_EQ(pid, 0xFFFF);
  vid = pid = 7;
  EXPECT_FALSE(IdsFromDevicePath("\\\\?\\usb#vid_04x4&pid_f2a0#5#{g}", vid, pid));
  EXPECT_FALSE(IdsFromDevicePath("\\\\?\\usb#vid_04b4#5#{g}", vid, pid));
  EXPECT_FALSE(IdsFromDevicePath("1-4.2", vid, pid));
  EXPECT_EQ(vid, 7);
  EXPECT_EQ(pid, 7);
}

}  // namespace
}  // namespace pdflash
