#include "platform/usb_common.h"

#include <gtest/gtest.h>

#include <vector>

namespace pdflash {
namespace {

TEST(UsbLocation, PortIsLastHopHubNamesTheParentOrTheBus) {
  const struct {
    uint8_t bus;
    std::vector<uint8_t> ports;
    const char* text;
  } cases[] = {
      {1, {4, 2}, "Port_#0002.Hub_#0004"},     {2, {1, 3, 6, 5}, "Port_#0005.Hub_#0006"},
      {3, {2}, "Port_#0002.Hub_#0003"},        {1, {12}, "Port_#0012.Hub_#0001"},
      {9, {255, 255}, "Port_#0255.Hub_#0255"}, {1, {}, ""},  // a root hub
  };
  for (const auto& c : cases) EXPECT_EQ(LocationFromPortPath(c.bus, c.ports), c.text);
}

TEST(UsbErrors, CodesMapToStatusAndOnlyARefusedOpenGetsAHint) {
  EXPECT_EQ(UsbStatusFromLibusb(0), UsbStatus::Ok);
  EXPECT_EQ(UsbStatusFromLibusb(kLibusbErrorAccess), UsbStatus::AccessDenied);
  EXPECT_EQ(UsbStatusFromLibusb(kLibusbErrorNoDevice), UsbStatus::NotFound);
  EXPECT_EQ(UsbStatusFromLibusb(kLibusbErrorNotFound), UsbStatus::NotFound);
  for (int other : {kLibusbErrorIo, kLibusbErrorBusy, -99})
    EXPECT_EQ(UsbStatusFromLibusb(other), UsbStatus::Failed) << other;
  EXPECT_EQ(UsbStatusFromWin32(0), UsbStatus::Ok);
  EXPECT_EQ(UsbStatusFromWin32(5), UsbStatus::AccessDenied);
  EXPECT_EQ(UsbStatusFromWin32(2), UsbStatus::NotFound);
  EXPECT_EQ(UsbStatusFromWin32(0x7A), UsbStatus::PathTooLong);
  EXPECT_EQ(static_cast<uint32_t>(UsbStatusFromWin32(0x12345)), 0x80072345u);

  // Only a refused open gets a hint.
  const std::string hint = LibusbOpenHint(UsbStatus::AccessDenied);
  EXPECT_NE(hint.find("60-pdflash-billboard.rules"), std::string::npos);
  for (const std::string& text : {hint, WinUsbOpenHint(UsbStatus::AccessDenied)}) {
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');  // whole, indented detail lines
    for (size_t start = 0; start < text.size(); start = text.find('\n', start) + 1)
      EXPECT_EQ(text.compare(start, 4, "    "), 0) << text.substr(start);
  }
  for (UsbStatus s : {UsbStatus::Ok, UsbStatus::NotFound, UsbStatus::Failed})
    EXPECT_EQ(LibusbOpenHint(s) + WinUsbOpenHint(s), "");
}

TEST(UsbDescriptor, PacksTheWireLayoutAndParsesOnlyADeviceDescriptor) {
  // Length, type, bcdUSB, class, subclass, protocol, packet size, IDs, strings, configurations.
  const auto good =
      PackDeviceDescriptor({18, 1, 0x0201, 0x11, 0, 0, 64, 0x1A2B, 0x3C4D, 0x0107, 1, 2, 3, 1});
  EXPECT_EQ(good, (std::array<uint8_t, 18>{18, 1, 0x01, 0x02, 0x11, 0, 0, 64, 0x2B, 0x1A, 0x4D,
                                           0x3C, 0x07, 0x01, 1, 2, 3, 1}));

  std::array<uint8_t, 18> out{};
  std::vector<uint8_t> longer(good.begin(), good.end());
  longer.push_back(0xAA);
  EXPECT_TRUE(ParseDeviceDescriptor(longer, out));
  EXPECT_EQ(out, good);
  auto wrong_type = good, short_length = good;
  wrong_type[1] = 2;  // a configuration descriptor
  short_length[0] = 9;
  EXPECT_FALSE(ParseDeviceDescriptor(std::span<const uint8_t>(good.data(), 17), out));
  EXPECT_FALSE(ParseDeviceDescriptor(wrong_type, out));
  EXPECT_FALSE(ParseDeviceDescriptor(short_length, out));
  EXPECT_EQ(out, good);  // untouched on failure
}

TEST(UsbDevicePath, GivesTheRegistryKeyWithinThePathLimitAndTheIds) {
  const auto k = RegistryKeyFromDevicePath(
      "\\\\?\\usb#vid_04b4&pid_f2a0#5&1a2b3c&0&2#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
  ASSERT_TRUE(k.ok);
  EXPECT_EQ(k.key1, "SYSTEM\\CurrentControlSet\\Enum\\USB\\");
  EXPECT_EQ(k.key2, "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_04B4&PID_F2A0");
  // The instance ID keeps its case; only the hardware ID is upper-cased.
  EXPECT_EQ(k.key3, "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_04B4&PID_F2A0\\5&1a2b3c&0&2");
  EXPECT_EQ(RegistryKeyFromDevicePath("\\\\?\\usb##vid_1&pid_2##inst#x").key3,
            "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_1&PID_2\\inst");
  EXPECT_FALSE(RegistryKeyFromDevicePath("\\\\?\\usb#vid_04b4&pid_f2a0").ok);

  const std::string base = "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_1234&PID_5678\\";
  const std::string fits(kMaxDevicePath - 1 - base.size(), 'a');
  EXPECT_EQ(RegistryKeyFromDevicePath("x#vid_1234&pid_5678#" + fits + "#g").key3.size(),
            kMaxDevicePath - 1);
  EXPECT_FALSE(RegistryKeyFromDevicePath("x#vid_1234&pid_5678#" + fits + "a#g").ok);

  std::string path(kMaxDevicePath - 1, 'p');
  EXPECT_TRUE(FitDevicePath(path));
  std::wstring wide(kMaxDevicePath + 40, L'w');
  EXPECT_FALSE(FitDevicePath(wide));
  EXPECT_EQ(wide.size(), kMaxDevicePath - 1);

  uint16_t vid = 7, pid = 7;
  EXPECT_FALSE(IdsFromDevicePath("\\\\?\\usb#vid_04x4&pid_f2a0#5#{g}", vid, pid));
  EXPECT_FALSE(IdsFromDevicePath("\\\\?\\usb#vid_04b4#5#{g}", vid, pid));
  EXPECT_EQ(vid + pid, 14);  // untouched
  EXPECT_TRUE(IdsFromDevicePath("\\\\?\\USB#VID_04B4&PID_F2a0#5&1&0&2#{g}", vid, pid));
  EXPECT_EQ(vid, 0x04B4);
  EXPECT_EQ(pid, 0xF2A0);
}

}  // namespace
}  // namespace pdflash
