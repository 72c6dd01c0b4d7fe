// The seam between the tool and the operating system. Everything that touches
// the OS (USB stack, clocks, console, windows, processes, the file system's
// existence tests) is reached through these small interfaces so that the
// whole program can run against a virtual device and a virtual clock.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// printf-style checking. On mingw, gcc's plain "printf" archetype means the
// Microsoft runtime's formats (no %zu); the build uses mingw's conforming stdio.
// clang knows no gnu_printf and checks "printf" the conforming way anyway.
#if defined(__MINGW32__) && !defined(__clang__)
#define PDFLASH_PRINTF_FORMAT(fmt, first) __attribute__((format(gnu_printf, fmt, first)))
#else
#define PDFLASH_PRINTF_FORMAT(fmt, first) __attribute__((format(printf, fmt, first)))
#endif

namespace pdflash {

struct LocalTime {
  int year = 2000, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Both waits return after at least the time asked, never earlier.
  virtual void SleepMs(uint32_t ms) = 0;
  // The short pacing waits between requests, precise to the microsecond.
  virtual void BusyWaitUs(int32_t us) = 0;
  // Monotonic microseconds since an arbitrary start.
  virtual uint64_t NowUs() = 0;
  virtual LocalTime Local() = 0;
};

// Steady-clock time. A wait sleeps on the OS's precise timer up to a margin
// before its deadline and spins the rest; the margin follows how late the
// timer wakes on this machine, so the waits neither burn a core nor overrun.
class RealClock final : public Clock {
 public:
  RealClock();
  ~RealClock() override;
  RealClock(const RealClock&) = delete;
  RealClock& operator=(const RealClock&) = delete;
  void SleepMs(uint32_t ms) override;
  void BusyWaitUs(int32_t us) override;
  uint64_t NowUs() override;
  LocalTime Local() override;
  // How long before a deadline the sleep ends, in nanoseconds.
  int64_t SpinMarginNs() const { return margin_ns_; }

 private:
  void WaitUntil(int64_t deadline_ns);
  int64_t margin_ns_;
  [[maybe_unused]] void* timer_ = nullptr;  // the waitable timer on Windows
};

// Time is a counter that only the tool's own waits advance; a 100 s timeout
// costs nothing but can still be measured afterwards.
class VirtualClock final : public Clock {
 public:
  explicit VirtualClock(LocalTime start = {2026, 12, 6, 9, 30, 0}) : start_(start) {}
  void SleepMs(uint32_t ms) override {
    now_us_ += uint64_t{ms} * 1000;
    slept_us_ += uint64_t{ms} * 1000;
  }
  void BusyWaitUs(int32_t us) override {
    if (us > 0) {
      now_us_ += static_cast<uint64_t>(us);
      spun_us_ += static_cast<uint64_t>(us);
    }
  }
  uint64_t NowUs() override { return now_us_; }
  LocalTime Local() override;
  void Advance(uint64_t us) { now_us_ += us; }
  uint64_t SleptUs() const { return slept_us_; }
  uint64_t SpunUs() const { return spun_us_; }

 private:
  LocalTime start_;
  uint64_t now_us_ = 0;
  uint64_t slept_us_ = 0;
  uint64_t spun_us_ = 0;
};

// Standard output and input of the run.
class Console {
 public:
  virtual ~Console() = default;
  // Writes and flushes at once: a controlling process reads every line live.
  virtual void Write(std::string_view text) = 0;
  // One character from standard input; -1 at end of input.
  virtual int ReadChar() = 0;
};

class StdConsole final : public Console {
 public:
  void Write(std::string_view text) override;
  int ReadChar() override;
};

// Process-level services of the host system.
class Host {
 public:
  virtual ~Host() = default;
  // The program's own file name, as the OS reports it.
  virtual std::string ExePath() = 0;
  virtual bool PathExists(const std::string& path) = 0;
  virtual bool IsDirectory(const std::string& path) = 0;
  // Posts without waiting; false when there is no window system or no window.
  virtual bool PostWindowMessage(uint64_t hwnd, uint32_t msg, uint64_t wparam, int64_t lparam) = 0;
  // Starts a command without a visible window in `dir` and waits for it.
  // False when it could not be started.
  virtual bool RunHidden(const std::string& command, const std::string& dir,
                         uint32_t& exit_code) = 0;
  virtual std::string GetEnv(const char* name) = 0;
};

class RealHost final : public Host {
 public:
  std::string ExePath() override;
  bool PathExists(const std::string& path) override;
  bool IsDirectory(const std::string& path) override;
  bool PostWindowMessage(uint64_t hwnd, uint32_t msg, uint64_t wparam, int64_t lparam) override;
  bool RunHidden(const std::string& command, const std::string& dir, uint32_t& exit_code) override;
  std::string GetEnv(const char* name) override;
};

// ---------------------------------------------------------------- USB

struct SetupPacket {
  uint8_t bmRequestType = 0;
  uint8_t bRequest = 0;
  uint16_t wValue = 0;
  uint16_t wIndex = 0;
  uint16_t wLength = 0;
};

// One present USB device as the bus enumerates it.
struct UsbDeviceInfo {
  std::string path;                      // stable within one enumeration
  std::array<uint8_t, 18> descriptor{};  // standard device descriptor
  uint8_t address = 0;                   // bus address; 0 = unknown (Windows)
  std::string location;                  // "Port_#0001.Hub_#0002" form; empty = unknown
};

enum class UsbStatus : uint32_t {
  Ok = 0,
  AccessDenied = 0x80070005,
  NotFound = 0x80070002,
  Failed = 0x8007001F,
  PathTooLong = 0x8007007A,  // the device path did not fit and was cut
};

enum class LocationStatus { Ok, KeyMissing, ValueMissing };

class UsbDevice {
 public:
  virtual ~UsbDevice() = default;  // closing the device
  // One control transfer with a data stage of setup.wLength bytes at `data`.
  virtual bool ControlTransfer(const SetupPacket& setup, uint8_t* data) = 0;
  virtual bool ReadDeviceDescriptor(std::array<uint8_t, 18>& out) = 0;
};

class UsbBus {
 public:
  virtual ~UsbBus() = default;
  // Present devices in a stable order.
  virtual std::vector<UsbDeviceInfo> Enumerate() = 0;
  virtual std::unique_ptr<UsbDevice> Open(const UsbDeviceInfo& info, UsbStatus& status) = 0;
  // Where the device is plugged in, as text of the form Port_#0001.Hub_#0002.
  virtual LocationStatus Location(const UsbDeviceInfo& info, std::string& text) = 0;
  // Explains an open failure to a person (how to get access): whole lines,
  // indented and newline-terminated, ready to print; empty when there is
  // nothing to say.
  virtual std::string OpenFailureHint(UsbStatus status) {
    (void)status;
    return {};
  }
};

// A bus with nothing on it.
class EmptyUsbBus final : public UsbBus {
 public:
  std::vector<UsbDeviceInfo> Enumerate() override { return {}; }
  std::unique_ptr<UsbDevice> Open(const UsbDeviceInfo&, UsbStatus& status) override {
    status = UsbStatus::NotFound;
    return nullptr;
  }
  LocationStatus Location(const UsbDeviceInfo&, std::string&) override {
    return LocationStatus::KeyMissing;
  }
};

// The platform's own USB backend (libusb, WinUSB) or an empty bus.
std::unique_ptr<UsbBus> MakeNativeUsbBus();

// The set of platform services one run uses.
struct Platform {
  Console& console;
  Clock& clock;
  Host& host;
  UsbBus& bus;
};

}  // namespace pdflash
