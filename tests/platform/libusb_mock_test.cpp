// The libusb backend against a mocked bus: umockdev fakes sysfs, the device
// nodes and the usbfs traffic (replayed from a usbmon capture written here), so
// enumeration, location, open and control transfers run through the real
// libusb. LibusbBackend.RunsAgainstAMockedBus starts this binary inside the
// mock, where LibusbMocked.Bus is registered.
#if defined(PDFLASH_HAVE_LIBUSB) && !defined(_WIN32)

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "core/bytes.h"
#include "platform/platform.h"
#include "platform/usb_common.h"
#include "support/harness.h"

namespace pdflash {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr const char* kPci = "/devices/pci0000:00/0000:00:14.0";

// Listed out of order on purpose; 1-10 sorts before 1-4 as text. 2-3 has no
// device node: unplugged between listing and opening.
const struct MockDevice {
  std::string sysfs;
  int bus, devnum;
  uint8_t device_class, interface_class;
  uint16_t pid, bcd;
  bool node = true;
} kDevices[] = {
    {"usb2", 2, 1, 0x09, 0x09, 0x0002, 0x0601},
    {"usb1", 1, 1, 0x09, 0x09, 0x0002, 0x0601},
    {"usb1/1-4", 1, 3, 0x09, 0x09, 0x0610, 0x9226},
    {"usb1/1-4/1-4.2", 1, 7, 0x11, 0x11, 0xB0B0, 0x0102},
    {"usb2/2-3", 2, 127, 0x11, 0x11, 0xB0B2, 0x0104, false},
    {"usb1/1-10", 1, 12, 0x00, 0x11, 0xB0B3, 0x0105},
};

std::string UmockdevFile() {
  std::string f;
  for (const auto& d : kDevices) {
    char node[32], text[512];
    std::snprintf(node, sizeof node, "bus/usb/%03d/%03d", d.bus, d.devnum);
    std::snprintf(text, sizeof text,
                  "P: %s/%s\n%s%s%sE: DEVNAME=/dev/%s\nE: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\n"
                  "A: busnum=%d\nA: devnum=%d\nA: speed=480\nA: bConfigurationValue=1\n"
                  "H: descriptors=12010002%02x0000400912%02x%02x%02x%02x00000001"
                  "0902120001010080320904000000%02x000000\n\n",
                  kPci, d.sysfs.c_str(), d.node ? "N: " : "", d.node ? node : "",
                  d.node ? "\n" : "", node, d.bus, d.devnum, d.device_class, d.pid & 0xFF,
                  d.pid >> 8, d.bcd & 0xFF, d.bcd >> 8, d.interface_class);
    f += text;
  }
  return f;
}

// A usbmon capture (pcap, Linux mmapped USB headers) that umockdev replays: a
// submitted URB must carry the recorded setup packet (and data, going out) to
// get the recorded completion.
class Capture {
 public:
  explicit Capture(int devnum) : devnum_(devnum) {
    Put32(0xA1B2C3D4), Put16(2), Put16(4), Put32(0), Put32(0), Put32(65535), Put32(220);
  }
  Capture& Do(const SetupPacket& s, const Bytes& data) {
    const uint8_t in = s.bmRequestType & 0x80;
    Bytes setup(8);
    setup[0] = s.bmRequestType, setup[1] = s.bRequest;
    PutLe16(&setup[2], s.wValue), PutLe16(&setup[4], s.wIndex), PutLe16(&setup[6], s.wLength);
    Packet('S', in, &setup, in ? Bytes{} : data, -115, s.wLength);
    Packet('C', in, nullptr, in ? data : Bytes{}, 0, in ? uint32_t(data.size()) : s.wLength);
    ++urb_;
    return *this;
  }
  Bytes bytes;

 private:
  void Packet(char type, uint8_t ep, const Bytes* setup, const Bytes& data, int32_t status,
              uint32_t length) {
    const uint32_t n = uint32_t(data.size());
    time_ += 10;
    Put32(1000), Put32(time_), Put32(64 + n), Put32(64 + n), Put32(uint32_t(urb_)),
        Put32(uint32_t(urb_ >> 32));
    for (uint8_t v : {uint8_t(type), uint8_t{2}, ep, uint8_t(devnum_)}) bytes.push_back(v);
    Put16(1);  // bus
    bytes.push_back(setup ? 0 : '-');
    bytes.push_back(n ? 0 : (type == 'S' ? '<' : '>'));
    Put32(1000), Put32(0), Put32(time_), Put32(uint32_t(status)), Put32(length), Put32(n);
    for (int i = 0; i < 8; ++i) bytes.push_back(setup ? (*setup)[i] : 0);
    for (int i = 0; i < 4; ++i) Put32(0);
    bytes.insert(bytes.end(), data.begin(), data.end());
  }
  void Put16(uint16_t v) { bytes.push_back(uint8_t(v)), bytes.push_back(uint8_t(v >> 8)); }
  void Put32(uint32_t v) { Put16(uint16_t(v)), Put16(uint16_t(v >> 16)); }
  int devnum_;
  uint64_t urb_ = 0xFFFF888100000000ull;
  uint32_t time_ = 0;
};

bool Mocked() {
  return std::getenv("PDFLASH_UMOCKDEV") != nullptr;
}

TEST(LibusbBackend, RunsAgainstAMockedBus) {
  if (Mocked()) GTEST_SKIP() << "already inside the mock";
  if (std::system("command -v umockdev-run >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "umockdev-run is not installed (scripts/setup.sh does it)";
  test::TempDir dir;
  test::WriteFile(dir / "bus.umockdev", UmockdevFile());
  // What the board at 1-4.2 answers.
  test::WriteBytes(dir / "board.pcap", Capture(7)
                                           .Do({0xC0, 0xE0, 0x1801, 0x0000, 1}, {0x70})
                                           .Do({0x40, 0xE0, 0x3402, 0x0012, 1}, {0x5A})
                                           .Do({0xC0, 0xC4, 0x0003, 0x0200, 4}, {1, 2, 3, 4})
                                           .Do({0x40, 0xA0, 0x0000, 0x0000, 0}, {})
                                           .bytes);
  const std::string command =
      "PDFLASH_UMOCKDEV=1 umockdev-run -d '" + dir / "bus.umockdev" + "' -p '/sys" + kPci +
      "/usb1/1-4/1-4.2=" + dir / "board.pcap" + "' -- '" + RealHost().ExePath() +
      "' --gtest_filter='LibusbMocked.*' > '" + dir / "out.txt" + "' 2>&1 </dev/null";
  const int rc = std::system(command.c_str());
  const std::string out = test::ReadFile(dir / "out.txt");
  EXPECT_EQ(rc, 0) << out;
  EXPECT_THAT(out, ::testing::HasSubstr("[  PASSED  ] 1 test."));
}

// Registered only inside the mock, so an ordinary run neither lists nor skips it.
struct LibusbMocked : ::testing::Test {
  void TestBody() override {
    auto bus = MakeNativeUsbBus();
    const auto devices = bus->Enumerate();
    UsbStatus status = UsbStatus::Ok;
    std::vector<std::string> paths;
    for (const auto& d : devices) paths.push_back(d.path);
    ASSERT_EQ(paths, (std::vector<std::string>{"1-4", "1-4.2", "1-10", "2-3"}));
    auto Find = [&](const std::vector<UsbDeviceInfo>& list, const std::string& path) {
      return *std::find_if(list.begin(), list.end(), [&](auto& d) { return d.path == path; });
    };
    const UsbDeviceInfo board = Find(devices, "1-4.2");
    EXPECT_EQ(Le16(&board.descriptor[10]), 0xB0B0);
    EXPECT_EQ(board.address, 7);
    EXPECT_EQ(board.location, "Port_#0002.Hub_#0004");
    std::string text;
    EXPECT_EQ(bus->Location(board, text), LocationStatus::Ok);
    EXPECT_EQ(text, "Port_#0002.Hub_#0004");
    EXPECT_EQ(Find(devices, "1-10").location, "Port_#0010.Hub_#0001");
    EXPECT_EQ(Find(devices, "2-3").location, "Port_#0003.Hub_#0002");
    EXPECT_EQ(Find(devices, "2-3").address, 127);

    auto dev = bus->Open(board, status);
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(status, UsbStatus::Ok);
    uint8_t id = 0, value = 0x5A, flash[4] = {};
    EXPECT_TRUE(dev->ControlTransfer({0xC0, 0xE0, 0x1801, 0x0000, 1}, &id));
    EXPECT_EQ(id, 0x70);
    EXPECT_TRUE(dev->ControlTransfer({0x40, 0xE0, 0x3402, 0x0012, 1}, &value));
    EXPECT_TRUE(dev->ControlTransfer({0xC0, 0xC4, 0x0003, 0x0200, 4}, flash));
    EXPECT_EQ(Bytes(flash, flash + 4), (Bytes{1, 2, 3, 4}));
    EXPECT_TRUE(dev->ControlTransfer({0x40, 0xA0, 0, 0, 0}, nullptr));
    std::array<uint8_t, 18> d{};
    EXPECT_TRUE(dev->ReadDeviceDescriptor(d));
    EXPECT_EQ(d, board.descriptor);

    EXPECT_EQ(bus->Open(Find(devices, "2-3"), status), nullptr);
    EXPECT_EQ(status, UsbStatus::NotFound);
    EXPECT_THAT(bus->OpenFailureHint(UsbStatus::AccessDenied),
                ::testing::HasSubstr("60-pdflash-billboard.rules"));
  }
};

const bool kRegistered = [] {
  if (Mocked())
    ::testing::RegisterTest("LibusbMocked", "Bus", nullptr, nullptr, __FILE__, __LINE__,
                            []() -> ::testing::Test* { return new LibusbMocked; });
  return true;
}();

}  // namespace
}  // namespace pdflash

#endif
