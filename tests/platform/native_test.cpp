// The real platform services, on whatever machine runs the tests: a build host
// usually has no USB devices, so these check what holds on any machine.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>

#include "platform/platform.h"
#include "platform/usb_common.h"
#include "support/harness.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace pdflash {
namespace {

TEST(NativeUsbBus, ListsEachDeviceOnceWithItsDescriptor) {
  auto bus = MakeNativeUsbBus();
  const auto devices = bus->Enumerate();
  std::set<std::string> paths;
  for (const auto& d : devices) {
    EXPECT_TRUE(paths.insert(d.path).second) << d.path;
    EXPECT_EQ(d.descriptor[0], 18) << d.path;
    EXPECT_EQ(d.descriptor[1], 1) << d.path;
  }
  // Enumerating again gives the same order.
  const auto again = bus->Enumerate();
  ASSERT_EQ(again.size(), devices.size());
  for (size_t i = 0; i < devices.size(); ++i) EXPECT_EQ(again[i].path, devices[i].path);
}

TEST(NativeUsbBus, AnUnknownDeviceIsNotFound) {
  auto bus = MakeNativeUsbBus();
  bus->Enumerate();
  UsbDeviceInfo ghost;
  ghost.path =
      "\\\\?\\usb#vid_1209&pid_0001#pdflash-no-such-device#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
  UsbStatus status = UsbStatus::Ok;
  EXPECT_EQ(bus->Open(ghost, status), nullptr);
  EXPECT_EQ(status, UsbStatus::NotFound);
  std::string text = "unchanged";
  EXPECT_EQ(bus->Location(ghost, text), LocationStatus::KeyMissing);
  EXPECT_EQ(text, "unchanged");
}

TEST(RealClock, BusyWaitSpinsAtLeastTheTime) {
  RealClock clock;
  const auto start = std::chrono::steady_clock::now();
  clock.BusyWaitUs(3000);
  const auto spun = std::chrono::steady_clock::now() - start;
  EXPECT_GE(spun, std::chrono::microseconds(3000));
  const uint64_t before = clock.NowUs();
  clock.BusyWaitUs(0);
  clock.BusyWaitUs(-5);
  EXPECT_LT(clock.NowUs() - before, 1000000u);
}

TEST(RealHost, KnowsItsOwnFile) {
  RealHost host;
  const std::filesystem::path exe(host.ExePath());
  EXPECT_EQ(exe.stem().string(), "pdflash_tests");
  EXPECT_TRUE(host.PathExists(exe.string()));
  EXPECT_FALSE(host.IsDirectory(exe.string()));
}

#ifndef _WIN32
TEST(RealHost, HasNoWindowsOrUninstallerHere) {
  RealHost host;
  uint32_t code = 42;
  EXPECT_FALSE(host.RunHidden("true", "/", code));
  EXPECT_EQ(code, 42u);
  EXPECT_FALSE(host.PostWindowMessage(1, 0x464, 0, 50));
}
#endif

#ifdef _WIN32
TEST(RealHost, RunsHiddenAndReturnsTheExitCode) {
  RealHost host;
  test::TempDir dir;
  test::WriteFile(dir / "marker.txt", "x");
  uint32_t code = 0;
  ASSERT_TRUE(host.RunHidden("cmd.exe /c exit 7", "", code));
  EXPECT_EQ(code, 7u);
  // The command runs in the folder given.
  ASSERT_TRUE(
      host.RunHidden("cmd.exe /c if exist marker.txt (exit 5) else (exit 6)", dir.path(), code));
  EXPECT_EQ(code, 5u);
}

TEST(RealHost, ProbesDrivePaths) {
  RealHost host;
  test::TempDir dir;
  std::string folder = dir.path();
  for (char& c : folder)
    if (c == '/') c = '\\';
  std::filesystem::create_directory(folder + "SDRV");
  test::WriteFile(folder + "SDRV\\dpinst.exe", "");
  EXPECT_TRUE(host.PathExists(folder + "SDRV\\dpinst.exe"));
  EXPECT_TRUE(host.IsDirectory(folder + "SDRV"));
  EXPECT_FALSE(host.PathExists(folder + "SDRV\\dpinst2.exe"));
  // A drive letter that is not there is simply not found.
  EXPECT_FALSE(host.PathExists("Q:\\SDRV\\dpinst.exe"));
}

TEST(RealHost, FindsTheProgramInTheFolderGiven) {
  RealHost host;
  test::TempDir dir;
  std::filesystem::copy_file(host.ExePath(), dir / "probe.exe");
  const auto cwd = std::filesystem::current_path();
  uint32_t code = 99;
  EXPECT_TRUE(host.RunHidden("probe.exe --gtest_filter=NoSuchTest", dir.path(), code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(std::filesystem::current_path(), cwd);  // back where it was
  code = 99;
  EXPECT_FALSE(host.RunHidden("probe.exe --gtest_filter=NoSuchTest", "", code));
  EXPECT_EQ(code, 99u);
}

TEST(RealHost, PostsTheProgressMessage) {
  RealHost host;
  HWND window =
      CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  if (!window) GTEST_SKIP() << "no window station";
  const uint64_t handle = reinterpret_cast<uintptr_t>(window);
  ASSERT_TRUE(host.PostWindowMessage(handle, 0x464, 0, 25));
  MSG msg{};
  ASSERT_TRUE(PeekMessageW(&msg, window, 0x464, 0x464, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 0u);
  EXPECT_EQ(msg.lParam, 25);
  DestroyWindow(window);
  EXPECT_FALSE(host.PostWindowMessage(handle, 0x464, 0, 25));  // window gone
}

// Writes a device's key the way Windows keeps it; wine lets a test do that,
// a real Windows only an administrator.
class RegistryDevice {
 public:
  explicit RegistryDevice(const wchar_t* location) {
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                        nullptr) != ERROR_SUCCESS)
      return;
    created_ = true;
    if (location)
      RegSetValueExW(key_, L"LocationInformation", 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(location),
                     static_cast<DWORD>((wcslen(location) + 1) * sizeof(wchar_t)));
    RegCloseKey(key_);
  }
  ~RegistryDevice() {
    if (created_) RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey);
  }
  bool created() const { return created_; }
  static constexpr const wchar_t* kKey =
      L"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_1209&PID_F00D\\pdflash&test&0&3";
  static constexpr const char* kPath =
      "\\\\?\\usb#vid_1209&pid_f00d#pdflash&test&0&3#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

 private:
  HKEY key_ = nullptr;
  bool created_ = false;
};

TEST(WinUsbBus, ReadsTheLocationFromTheRegistry) {
  auto bus = MakeNativeUsbBus();
  UsbDeviceInfo info;
  info.path = RegistryDevice::kPath;
  std::string text;
  {
    RegistryDevice device(L"Port_#0003.Hub_#0002");
    if (!device.created()) GTEST_SKIP() << "registry not writable";
    ASSERT_EQ(bus->Location(info, text), LocationStatus::Ok);
    EXPECT_EQ(text, "Port_#0003.Hub_#0002");
  }
  {
    RegistryDevice device(nullptr);
    text = "unchanged";
    EXPECT_EQ(bus->Location(info, text), LocationStatus::ValueMissing);
    EXPECT_EQ(text, "unchanged");
  }
  EXPECT_EQ(bus->Location(info, text), LocationStatus::KeyMissing);
}
#endif

}  // namespace
}  // namespace pdflash
