#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <thread>

#include "platform/platform.h"

#ifdef _WIN32
#include <windows.h>
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif
#elif defined(__linux__)
#include <sys/prctl.h>
#endif

namespace pdflash {

namespace {
LocalTime FromTm(const std::tm& tm) {
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

constexpr int64_t kNsPerSec = 1000000000;
// The spin margin's start and bounds. It grows fast when the timer wakes too
// late and shrinks slowly, so it settles where about 3 % of wakes are late.
constexpr int64_t kStartMarginNs = 200000;
constexpr int64_t kMinMarginNs = 20000;
constexpr int64_t kMaxMarginNs = 50000000;
// Time the spin itself needs to see the deadline after a wake.
constexpr int64_t kGuardNs = 10000;

int64_t MonotonicNs() {
#ifdef _WIN32
  // Split so that the product cannot overflow however long the machine is up.
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  const int64_t f = frequency.QuadPart;
  return now.QuadPart / f * kNsPerSec + now.QuadPart % f * kNsPerSec / f;
#else
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t{t.tv_sec} * kNsPerSec + t.tv_nsec;
#endif
}

void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}
}  // namespace

RealClock::RealClock() : margin_ns_(kStartMarginNs) {
#ifdef _WIN32
  timer_ = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                  TIMER_ALL_ACCESS);
  // Older systems have only the scheduler-tick timer; the margin adapts to it.
  if (!timer_) timer_ = CreateWaitableTimerW(nullptr, TRUE, nullptr);
#elif defined(__linux__)
  // The default 50 us slack would let the kernel wake us that much late.
  prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL);
#endif
}

RealClock::~RealClock() {
#ifdef _WIN32
  if (timer_) CloseHandle(timer_);
#endif
}

void RealClock::WaitUntil(int64_t deadline_ns) {
  const int64_t now = MonotonicNs();
  const int64_t wake = deadline_ns - margin_ns_;
  if (wake > now) {
#ifdef _WIN32
    bool slept = false;
    if (timer_) {
      LARGE_INTEGER due;
      due.QuadPart = -((wake - now) / 100);  // relative, 100 ns units
      slept = due.QuadPart < 0 && SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE) &&
              WaitForSingleObject(timer_, INFINITE) == WAIT_OBJECT_0;
    }
    if (!slept) Sleep(static_cast<DWORD>((wake - now) / 1000000));
#elif defined(__linux__)
    // An absolute deadline: a signal's interruption just sleeps again.
    timespec at{};
    at.tv_sec = static_cast<time_t>(wake / kNsPerSec);
    at.tv_nsec = static_cast<long>(wake % kNsPerSec);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
#else
    std::this_thread::sleep_for(std::chrono::nanoseconds(wake - now));
#endif
    const int64_t late = MonotonicNs() - wake;
    if (late + kGuardNs > margin_ns_)
      margin_ns_ = std::min(kMaxMarginNs, margin_ns_ + margin_ns_ / 4);
    else
      margin_ns_ = std::max(kMinMarginNs, margin_ns_ - margin_ns_ / 128);
  }
  while (MonotonicNs() < deadline_ns) CpuRelax();
}

void RealClock::SleepMs(uint32_t ms) { WaitUntil(MonotonicNs() + int64_t{ms} * 1000000); }

void RealClock::BusyWaitUs(int32_t us) {
  const int64_t now = MonotonicNs();
  if (us > 0) WaitUntil(now + int64_t{us} * 1000);
}

uint64_t RealClock::NowUs() { return static_cast<uint64_t>(MonotonicNs() / 1000); }

LocalTime RealClock::Local() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &now);
#else
  localtime_r(&now, &tm);
#endif
  return FromTm(tm);
}

LocalTime VirtualClock::Local() {
  // Start time plus the elapsed virtual seconds, with day, month and year carry.
  const uint64_t total = uint64_t(start_.hour) * 3600 + uint64_t(start_.minute) * 60 +
                         uint64_t(start_.second) + now_us_ / 1000000;
  uint64_t days = total / 86400;
  const int rest = static_cast<int>(total % 86400);
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int y = start_.year, m = start_.month, d = start_.day;
  while (days-- > 0) {
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    const int len = kDays[m - 1] + (m == 2 && leap ? 1 : 0);
    if (++d > len) {
      d = 1;
      if (++m > 12) {
        m = 1;
        ++y;
      }
    }
  }
  return {y, m, d, rest / 3600, (rest / 60) % 60, rest % 60};
}

}  // namespace pdflash
