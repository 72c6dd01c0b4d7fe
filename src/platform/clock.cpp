#include <chrono>
#include <ctime>
#include <thread>

#include "platform/platform.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace pdflash {

namespace {
LocalTime FromTm(const std::tm& tm) {
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}
}  // namespace

void RealClock::SleepMs(uint32_t ms) {
#ifdef _WIN32
  Sleep(ms);
#else
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
#endif
}

// Scheduler sleeps are coarser than the 1 ms pacing the device needs, so spin.
void RealClock::BusyWaitUs(int32_t us) {
#ifdef _WIN32
  LARGE_INTEGER frequency, start, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  for (;;) {
    QueryPerformanceCounter(&now);
    const double elapsed = static_cast<double>(now.QuadPart - start.QuadPart) * 1000000.0 /
                           static_cast<double>(frequency.QuadPart);
    if (elapsed >= static_cast<double>(us)) return;
  }
#else
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    const double elapsed = std::chrono::duration<double, std::micro>(now - start).count();
    if (elapsed >= static_cast<double>(us)) return;
  }
#endif
}

uint64_t RealClock::NowUs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

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
