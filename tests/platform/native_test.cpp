// The real platform services on whatever machine runs the tests: a build host
// usually has no USB devices, so these check what holds on any machine.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "platform/platform.h"
#include "platform/usb_common.h"
#include "support/harness.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace pdflash {
namespace {

TEST(RealPlatform, UnknownDeviceNotFoundAndHostKnowsItsOwnFile) {
  auto bus = MakeNativeUsbBus();
  bus->Enumerate();
  UsbDeviceInfo ghost;
  ghost.path = "\\\\?\\usb#vid_1209&pid_0001#pdflash-none#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
  UsbStatus status = UsbStatus::Ok;
  EXPECT_EQ(bus->Open(ghost, status), nullptr);
  EXPECT_EQ(status, UsbStatus::NotFound);
  std::string text = "unchanged";
  EXPECT_EQ(bus->Location(ghost, text), LocationStatus::KeyMissing);
  EXPECT_EQ(text, "unchanged");

  RealHost host;
  const std::filesystem::path exe(host.ExePath());
  EXPECT_EQ(exe.stem().string(), "pdflash_tests");
  EXPECT_TRUE(host.PathExists(exe.string()));
  EXPECT_FALSE(host.IsDirectory(exe.string()));
  EXPECT_TRUE(host.IsDirectory(exe.parent_path().string()));
}

// The real clock's waits sleep for most of their time, so they must still
// never return early, neither the pacing waits nor the sleeps, however the
// spin margin has adapted.
TEST(RealClock, WaitsNeverReturnEarly) {
  using std::chrono::microseconds;
  using std::chrono::steady_clock;
  RealClock clock;
  for (int round = 0; round < 3; ++round) {
    for (int32_t us : {0, 1, 20, 150, 999, 1000, 2500, 5000}) {
      const auto start = steady_clock::now();
      clock.BusyWaitUs(us);
      EXPECT_GE(steady_clock::now() - start, microseconds(us)) << us << " us";
    }
    for (uint32_t ms : {0u, 1u, 3u, 20u}) {
      const auto start = steady_clock::now();
      clock.SleepMs(ms);
      EXPECT_GE(steady_clock::now() - start, microseconds(ms * 1000)) << ms << " ms";
    }
    const uint64_t before = clock.NowUs();
    clock.BusyWaitUs(2000);
    EXPECT_GE(clock.NowUs() - before, 2000u);
    EXPECT_GE(clock.SpinMarginNs(), 20000);
    EXPECT_LE(clock.SpinMarginNs(), 50000000);
  }
}

#ifdef _WIN32
TEST(RealHost, RunsHiddenInTheFolderGivenProbesPathsAndPostsMessages) {
  RealHost host;
  test::TempDir dir;
  std::filesystem::copy_file(host.ExePath(), dir / "probe.exe");
  EXPECT_TRUE(host.PathExists(dir / "probe.exe"));
  EXPECT_FALSE(host.PathExists("Q:\\SDRV\\dpinst.exe"));
  const auto cwd = std::filesystem::current_path();
  uint32_t code = 99;
  EXPECT_TRUE(host.RunHidden("probe.exe --gtest_filter=NoSuchTest", dir.path(), code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(std::filesystem::current_path(), cwd);  // back where it was
  EXPECT_TRUE(host.RunHidden("cmd.exe /c exit 7", "", code));
  EXPECT_EQ(code, 7u);
  EXPECT_FALSE(host.RunHidden("probe.exe --gtest_filter=NoSuchTest", "", code));
  EXPECT_EQ(code, 7u);

  HWND window =
      CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  if (!window) GTEST_SKIP() << "no window station";
  const uint64_t handle = reinterpret_cast<uintptr_t>(window);
  ASSERT_TRUE(host.PostWindowMessage(handle, 0x464, 0, 25));
  MSG msg{};
  ASSERT_TRUE(PeekMessageW(&msg, window, 0x464, 0x464, PM_REMOVE));
  EXPECT_EQ(msg.lParam, 25);
  DestroyWindow(window);
  EXPECT_FALSE(host.PostWindowMessage(handle, 0x464, 0, 25));  // window gone
}

TEST(WinUsbBus, ReadsTheLocationFromTheRegistry) {
  // Written as Windows keeps a device's key; wine lets a test do that.
  const wchar_t* key = L"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_1209&PID_F00D\\pdflash&0&3";
  const wchar_t location[] = L"Port_#0003.Hub_#0002";
  if (RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, L"Service", REG_SZ, L"", 2) != ERROR_SUCCESS)
    GTEST_SKIP() << "registry not writable";
  UsbDeviceInfo info;
  info.path = "\\\\?\\usb#vid_1209&pid_f00d#pdflash&0&3#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
  auto bus = MakeNativeUsbBus();
  std::string text = "unchanged";
  EXPECT_EQ(bus->Location(info, text), LocationStatus::ValueMissing);
  EXPECT_EQ(text, "unchanged");
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, L"LocationInformation", REG_SZ, location,
                  sizeof location);
  EXPECT_EQ(bus->Location(info, text), LocationStatus::Ok);
  EXPECT_EQ(text, "Port_#0003.Hub_#0002");
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, key);
}
#endif

}  // namespace
}  // namespace pdflash
