#include "app/log.h"

#include <cstdio>
#include <cstring>

namespace pdflash {

namespace {

const char* LogFileName(uint8_t setting) {
  switch (setting) {
    case 2:
      return "pddebug2.log";
    case 3:
      return "pddebug3.log";
    default:
      return "pddebug.log";
  }
}

}  // namespace

void LogPrint(Tool& t, const char* fmt, ...) {
  char buf[500] = {};
  va_list ap;
  va_start(ap, fmt);
  const int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  if (n < 0) return;
  const size_t len = std::strlen(buf);
  t.console.Write(std::string_view(buf, len));
  if (t.set.LogFile != 0) {
    // Opened per message so the log is complete even if the run is killed.
    if (FILE* f = t.Open(LogFileName(t.set.LogFile), "a")) {
      std::fwrite(buf, 1, len, f);
      std::fclose(f);
    }
  }
}

int FormatText(char* dst, size_t size, const char* fmt, ...) {
  if (dst == nullptr || size == 0) return -1;
  va_list ap;
  va_start(ap, fmt);
  const int n = std::vsnprintf(dst, size, fmt, ap);
  va_end(ap);
  if (n < 0 || static_cast<size_t>(n) >= size) {
    dst[0] = '\0';
    return -1;
  }
  return n;
}

int ConsoleReadChar(Tool& t) {
  return t.console.ReadChar();
}

void ReportProgress(Tool& t, uint32_t points) {
  if (t.ProgressTotal == 0) return;
  const uint32_t p = (points * 100u) / t.ProgressTotal;
  const uint8_t mode = t.set.OutputProgress;
  if (mode & 0x02) LogPrint(t, "Progress = %03d\n", p);
  if ((mode & 0x04) && t.ghWnd != 0) t.host.PostWindowMessage(t.ghWnd, t.set.WinMsg, 0, p);
  if (mode & 0x01) {
    char name[32];
    if (FormatText(name, sizeof name, "%03d.txt", p) > 0) {
      if (FILE* f = t.Open(name, "a")) {
        std::fwrite(name, 1, std::strlen(name), f);
        std::fclose(f);
      }
    }
  }
}

void AddProgress(Tool& t, uint32_t points) {
  t.ProgressCounter += points;
  ReportProgress(t, t.ProgressCounter);
}

void StepTimer(Tool& t, int32_t us) {
  t.clock.BusyWaitUs(us);
}

void HexDump(Tool& t, const uint8_t* b, size_t length) {
  if (length != 8 && length != 16 && length != 24 && length != 32) {
    LogPrint(t, "  Output_Length_Error\n");
    return;
  }
  std::string line = " = ";
  char hex[4];
  for (size_t i = 0; i < length; ++i) {
    if (i != 0 && i % 8 == 0) line += '-';
    std::snprintf(hex, sizeof hex, "%02x", b[i]);
    line += hex;
  }
  line += '\n';
  LogPrint(t, "%s", line.c_str());
}

uint32_t TimeOfDaySeconds(Tool& t) {
  const LocalTime lt = t.clock.Local();
  return static_cast<uint32_t>(lt.hour * 3600 + lt.minute * 60 + lt.second);
}

void PrintUseTime(Tool& t, uint32_t start) {
  const uint32_t now = TimeOfDaySeconds(t);
  // Across midnight the time of day wraps; count the day that passed.
  const uint32_t elapsed = now >= start ? now - start : now + 86400 - start;
  LogPrint(t, "    Use_Time = %dm %ds\n", static_cast<int>(elapsed / 60),
           static_cast<int>(elapsed % 60));
}

}  // namespace pdflash

namespace pdflash {

uint32_t EndOperation(Tool& t, uint32_t start, uint32_t result, const char* pass,
                      const char* fail) {
  PrintUseTime(t, start);
  PrintResultBox(t, result == 1 ? pass : fail);
  return result;
}

void PrintResultBox(Tool& t, const char* middle) {
  LogPrint(t, "\n===========================\n");
  LogPrint(t, "%s", middle);
  LogPrint(t, "===========================\n");
}

}  // namespace pdflash
