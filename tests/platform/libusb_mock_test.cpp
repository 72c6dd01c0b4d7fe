// The libusb backend against a mocked bus: umockdev fakes sysfs, the device
// nodes and the usbfs traffic (replayed from a usbmon capture we write here),
// so enumeration, location, open and control transfers run through the real
// libusb without hardware. LibusbBackend.RunsAgainstAMockedBus starts this same
// binary inside the mock to run the LibusbMocked tests.
#if defined(PDFLASH_HAVE_LIBUSB) && !defined(_WIN32)

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "image/bytes.h"
#include "platform/platform.h"
#include "platform/usb_common.h"
#include "support/harness.h"

namespace pdflash {
namespace {

constexpr const char* kPci = "/devices/pci0000:00/0000:00:14.0";

struct MockDevice {
  std::string sysfs;  // below kPci
  int bus, devnum;
  uint8_t device_class, interface_class;
  uint16_t vid, pid, bcd;
  bool node = true;  // has a /dev/bus/usb node
};

// Listed out of order on purpose; 1-10 sorts before 1-4 as text.
const std::vector<MockDevice> kDevices = {
    {"usb2", 2, 1, 0x09, 0x09, 0x1D6B, 0x0002, 0x0601},
    {"usb1", 1, 1, 0x09, 0x09, 0x1D6B, 0x0002, 0x0601},
    {"usb1/1-4", 1, 3, 0x09, 0x09, 0x05E3, 0x0610, 0x9226},
    {"usb1/1-4/1-4.2", 1, 7, 0x11, 0x11, 0x1209, 0xB0B0, 0x0102},
    {"usb2/2-3", 2, 127, 0x11, 0x11, 0x1209, 0xB0B2, 0x0104, false},
    {"usb1/1-10", 1, 12, 0x00, 0x11, 0x1209, 0xB0B3, 0x0105},
    {"usb1/1-1", 1, 9, 0x00, 0x11, 0x1209, 0xB0B1, 0x0103},
};

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string s;
  char b[3];
  for (uint8_t v : bytes) {
    std::snprintf(b, sizeof b, "%02x", v);
    s += b;
  }
  return s;
}

std::string UmockdevFile() {
  std::ostringstream f;
  for (const auto& d : kDevices) {
    DeviceDescriptorFields fields;
    fields.bcdUSB = 0x0200;
    fields.bDeviceClass = d.device_class;
    fields.bMaxPacketSize0 = 64;
    fields.idVendor = d.vid;
    fields.idProduct = d.pid;
    fields.bcdDevice = d.bcd;
    fields.bNumConfigurations = 1;
    const auto dd = PackDeviceDescriptor(fields);
    std::vector<uint8_t> descriptors(dd.begin(), dd.end());
    for (uint8_t v :
         {9, 2, 18, 0, 1, 1, 0, 0x80, 50, 9, 4, 0, 0, 0, int(d.interface_class), 0, 0, 0})
      descriptors.push_back(v);
    char node[32];
    std::snprintf(node, sizeof node, "bus/usb/%03d/%03d", d.bus, d.devnum);
    f << "P: " << kPci << "/" << d.sysfs << "\n";
    if (d.node) f << "N: " << node << "\n";
    f << "E: DEVNAME=/dev/" << node << "\nE: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\n";
    f << "A: busnum=" << d.bus << "\nA: devnum=" << d.devnum << "\nA: speed=480\n";
    f << "A: bConfigurationValue=1\nH: descriptors=" << Hex(descriptors) << "\n\n";
  }
  return f.str();
}

// A usbmon capture (pcap, Linux mmapped USB headers) of control transfers,
// which umockdev replays: a submitted URB must carry the recorded setup packet
// (and data, going out) to get the recorded completion.
class Capture {
 public:
  Capture() {
    Put32(0xA1B2C3D4);
    Put16(2), Put16(4), Put32(0), Put32(0), Put32(65535), Put32(220);
  }
  void In(const SetupPacket& s, const std::vector<uint8_t>& answer) { Transfer(s, {}, answer); }
  void Out(const SetupPacket& s, const std::vector<uint8_t>& data) { Transfer(s, data, {}); }
  const std::vector<uint8_t>& bytes() const { return out_; }
  int bus = 1, devnum = 7;

 private:
  void Transfer(const SetupPacket& s, const std::vector<uint8_t>& sent,
                const std::vector<uint8_t>& got) {
    const uint8_t ep = s.bmRequestType & 0x80;
    std::vector<uint8_t> setup(8);
    setup[0] = s.bmRequestType;
    setup[1] = s.bRequest;
    PutLe16(&setup[2], s.wValue);
    PutLe16(&setup[4], s.wIndex);
    PutLe16(&setup[6], s.wLength);
    Packet('S', ep, &setup, sent, -115, s.wLength);
    Packet('C', ep, nullptr, got, 0, static_cast<uint32_t>(ep ? got.size() : s.wLength));
    ++urb_;
  }
  void Packet(char type, uint8_t ep, const std::vector<uint8_t>* setup,
              const std::vector<uint8_t>& data, int32_t status, uint32_t length) {
    time_ += 10;
    Put32(1000), Put32(time_), Put32(64 + uint32_t(data.size())), Put32(64 + uint32_t(data.size()));
    Put32(uint32_t(urb_)), Put32(uint32_t(urb_ >> 32));
    out_.push_back(uint8_t(type));
    out_.push_back(2);  // control
    out_.push_back(ep);
    out_.push_back(uint8_t(devnum));
    Put16(uint16_t(bus));
    out_.push_back(setup ? 0 : '-');
    out_.push_back(!data.empty() ? 0 : (type == 'S' ? '<' : '>'));
    Put32(1000), Put32(0), Put32(time_), Put32(uint32_t(status)), Put32(length),
        Put32(uint32_t(data.size()));
    for (int i = 0; i < 8; ++i) out_.push_back(setup ? (*setup)[i] : 0);
    for (int i = 0; i < 4; ++i) Put32(0);
    out_.insert(out_.end(), data.begin(), data.end());
  }
  void Put16(uint16_t v) { out_.push_back(uint8_t(v)), out_.push_back(uint8_t(v >> 8)); }
  void Put32(uint32_t v) { Put16(uint16_t(v)), Put16(uint16_t(v >> 16)); }
  std::vector<uint8_t> out_;
  uint64_t urb_ = 0xFFFF888100000000ull;
  uint32_t time_ = 0;
};

// What the board at 1-4.2 answers.
Capture BoardTraffic() {
  Capture c;
  c.In({0xC0, 0xE0, 0x1801, 0x0000, 1}, {0x70});        // read register 0x0018
  c.Out({0x40, 0xE0, 0x3402, 0x0012, 1}, {0x5A});       // write register 0x1234
  c.In({0xC0, 0xC4, 0x0003, 0x0200, 4}, {1, 2, 3, 4});  // flash read at 0x020000
  c.Out({0x40, 0xA0, 0x0000, 0x0000, 0}, {});           // no data stage
  return c;
}

// 1-1 only ever answers a request we do not send.
Capture SilentTraffic() {
  Capture c;
  c.devnum = 9;
  c.In({0xC0, 0xE0, 0x2101, 0x0000, 1}, {0x09});
  return c;
}

// "bus" inside the mocked bus, "empty" inside a mock with no USB at all.
std::string Mocked() {
  const char* v = std::getenv("PDFLASH_UMOCKDEV");
  return v ? v : "";
}

const UsbDeviceInfo* Find(const std::vector<UsbDeviceInfo>& list, const std::string& path) {
  for (const auto& d : list)
    if (d.path == path) return &d;
  return nullptr;
}

// Runs the LibusbMocked tests in this binary inside umockdev-run with `options`;
// returns what that run printed.
std::string RunInMock(const test::TempDir& dir, const std::string& mode,
                      const std::string& options) {
  const std::string command = "PDFLASH_UMOCKDEV=" + mode + " umockdev-run " + options + " -- '" +
                              RealHost().ExePath() + "' --gtest_filter='LibusbMocked.*' > '" +
                              dir / "out.txt" + "' 2>&1 </dev/null";
  const int rc = std::system(command.c_str());
  const std::string out = test::ReadFile(dir / "out.txt");
  EXPECT_EQ(rc, 0) << out;
  EXPECT_EQ(out.find("SKIPPED"), std::string::npos) << out;
  return out;
}

bool HaveUmockdev() {
  return std::system("command -v umockdev-run >/dev/null 2>&1") == 0;
}

TEST(LibusbBackend, RunsAgainstAMockedBus) {
  if (!Mocked().empty()) GTEST_SKIP() << "already inside the mock";
  if (!HaveUmockdev()) GTEST_SKIP() << "umockdev-run is not installed (scripts/setup.sh does it)";
  test::TempDir dir;
  test::WriteFile(dir / "bus.umockdev", UmockdevFile());
  test::WriteBytes(dir / "board.pcap", BoardTraffic().bytes());
  test::WriteBytes(dir / "silent.pcap", SilentTraffic().bytes());
  const std::string sys = std::string("/sys") + kPci + "/usb1/";
  const std::string out =
      RunInMock(dir, "bus",
                "-d '" + dir / "bus.umockdev" + "' -p '" + sys + "1-4/1-4.2=" + dir / "board.pcap" +
                    "' -p '" + sys + "1-1=" + dir / "silent.pcap" + "'");
  EXPECT_NE(out.find("[  PASSED  ] 4 tests."), std::string::npos) << out;
}

TEST(LibusbBackend, AMachineWithoutUsbIsAnEmptyBus) {
  if (!Mocked().empty()) GTEST_SKIP() << "already inside the mock";
  if (!HaveUmockdev()) GTEST_SKIP() << "umockdev-run is not installed (scripts/setup.sh does it)";
  test::TempDir dir;
  const std::string out = RunInMock(dir, "empty", "");
  EXPECT_NE(out.find("[  PASSED  ] 1 test."), std::string::npos) << out;
}

// These exist only inside the mock (see kRegistered below).
class LibusbMocked : public ::testing::Test {
 protected:
  void SetUp() override {
    bus = MakeNativeUsbBus();
    devices = bus->Enumerate();
  }
  std::unique_ptr<UsbBus> bus;
  std::vector<UsbDeviceInfo> devices;
};

struct ListsDevicesByPortWithoutRootHubs : LibusbMocked {
  void TestBody() override {
    std::vector<std::string> paths;
    for (const auto& d : devices) paths.push_back(d.path);
    EXPECT_EQ(paths, (std::vector<std::string>{"1-1", "1-4", "1-4.2", "1-10", "2-3"}));

    const UsbDeviceInfo* board = Find(devices, "1-4.2");
    ASSERT_NE(board, nullptr);
    EXPECT_EQ(Le16(&board->descriptor[8]), 0x1209);
    EXPECT_EQ(Le16(&board->descriptor[10]), 0xB0B0);
    EXPECT_EQ(Le16(&board->descriptor[12]), 0x0102);
    EXPECT_EQ(board->descriptor[4], kBillboardClass);
    EXPECT_EQ(board->address, 7);
    EXPECT_EQ(board->location, "Port_#0002.Hub_#0004");
    std::string text;
    EXPECT_EQ(bus->Location(*board, text), LocationStatus::Ok);
    EXPECT_EQ(text, "Port_#0002.Hub_#0004");

    EXPECT_EQ(Find(devices, "1-10")->location, "Port_#0010.Hub_#0001");
    EXPECT_EQ(Find(devices, "2-3")->location, "Port_#0003.Hub_#0002");
    EXPECT_EQ(Find(devices, "2-3")->address, 127);
  }
};

struct SendsTheSetupPacketsAsGiven : LibusbMocked {
  void TestBody() override {
    const UsbDeviceInfo* board = Find(devices, "1-4.2");
    ASSERT_NE(board, nullptr);
    UsbStatus status = UsbStatus::Failed;
    auto dev = bus->Open(*board, status);
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(status, UsbStatus::Ok);

    uint8_t id = 0;
    EXPECT_TRUE(dev->ControlTransfer({0xC0, 0xE0, 0x1801, 0x0000, 1}, &id));
    EXPECT_EQ(id, 0x70);
    uint8_t value = 0x5A;
    EXPECT_TRUE(dev->ControlTransfer({0x40, 0xE0, 0x3402, 0x0012, 1}, &value));
    uint8_t flash[4] = {};
    EXPECT_TRUE(dev->ControlTransfer({0xC0, 0xC4, 0x0003, 0x0200, 4}, flash));
    EXPECT_EQ(std::vector<uint8_t>(flash, flash + 4), (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_TRUE(dev->ControlTransfer({0x40, 0xA0, 0, 0, 0}, nullptr));

    std::array<uint8_t, 18> d{};
    EXPECT_TRUE(dev->ReadDeviceDescriptor(d));
    EXPECT_EQ(d, board->descriptor);
  }
};

struct AnUnansweredRequestEndsAfterTheTimeout : LibusbMocked {
  void TestBody() override {
    const UsbDeviceInfo* silent = Find(devices, "1-1");
    ASSERT_NE(silent, nullptr);
    UsbStatus status = UsbStatus::Failed;
    auto dev = bus->Open(*silent, status);
    ASSERT_NE(dev, nullptr);
    uint8_t v = 0xEE;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(dev->ControlTransfer({0xC0, 0xE0, 0x1801, 0x0000, 1}, &v));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(4900));
    EXPECT_LT(waited, std::chrono::seconds(30));
    EXPECT_EQ(v, 0xEE);
  }
};

struct OpenFailuresMapToStatus : LibusbMocked {
  void TestBody() override {
    // 2-3 has no device node: unplugged between listing and opening.
    UsbStatus status = UsbStatus::Ok;
    EXPECT_EQ(bus->Open(*Find(devices, "2-3"), status), nullptr);
    EXPECT_EQ(status, UsbStatus::NotFound);
    UsbDeviceInfo stale;
    stale.path = "3-1";
    EXPECT_EQ(bus->Open(stale, status), nullptr);
    EXPECT_EQ(status, UsbStatus::NotFound);
    EXPECT_EQ(bus->OpenFailureHint(UsbStatus::NotFound), "");
    EXPECT_NE(bus->OpenFailureHint(UsbStatus::AccessDenied).find("60-pdflash-billboard.rules"),
              std::string::npos);
  }
};

template <class T>
void Register(const char* name, int line) {
  ::testing::RegisterTest("LibusbMocked", name, nullptr, nullptr, __FILE__, line,
                          []() -> LibusbMocked* { return new T; });
}

// Registered only when this binary runs inside the mock, so an ordinary run
// neither lists nor skips them.
struct NoDevicesNoError : LibusbMocked {
  void TestBody() override {
    EXPECT_TRUE(devices.empty());
    UsbDeviceInfo board;
    board.path = "1-4.2";
    UsbStatus status = UsbStatus::Ok;
    EXPECT_EQ(bus->Open(board, status), nullptr);
    EXPECT_EQ(status, UsbStatus::NotFound);
  }
};

const bool kRegistered = [] {
  if (Mocked() == "empty") Register<NoDevicesNoError>("NoDevicesNoError", __LINE__);
  if (Mocked() == "bus") {
    Register<ListsDevicesByPortWithoutRootHubs>("ListsDevicesByPortWithoutRootHubs", __LINE__);
    Register<SendsTheSetupPacketsAsGiven>("SendsTheSetupPacketsAsGiven", __LINE__);
    Register<AnUnansweredRequestEndsAfterTheTimeout>("AnUnansweredRequestEndsAfterTheTimeout",
                                                     __LINE__);
    Register<OpenFailuresMapToStatus>("OpenFailuresMapToStatus", __LINE__);
  }
  return true;
}();

}  // namespace
}  // namespace pdflash

#endif
