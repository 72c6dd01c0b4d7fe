#include "core/output.h"

#include <cstdio>
#include <cstring>

#include "core/files.h"

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

void LogPrint(Output& out, const char* fmt, ...) {
  char buf[500] = {};
  va_list ap;
  va_start(ap, fmt);
  const int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  if (n < 0) return;
  const size_t len = std::strlen(buf);
  out.console.Write(std::string_view(buf, len));
  if (out.set.LogFile != 0) {
    // Opened per message so the log is complete even if the run is killed.
    if (FILE* f = OpenIn(out.folder, LogFileName(out.set.LogFile), "a")) {
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

int ConsoleReadChar(Output& out) {
  return out.console.ReadChar();
}

void ReportProgress(Output& out, uint32_t points) {
  if (out.ProgressTotal == 0) return;
  const uint32_t p = (points * 100u) / out.ProgressTotal;
  const uint8_t mode = out.set.OutputProgress;
  if (mode & 0x02) LogPrint(out, "Progress = %03d\n", p);
  if ((mode & 0x04) && out.hwnd != 0) out.host.PostWindowMessage(out.hwnd, out.set.WinMsg, 0, p);
  if (mode & 0x01) {
    char name[32];
    if (FormatText(name, sizeof name, "%03d.txt", p) > 0) {
      // A controlling application waits for these: a lost one is said.
      FILE* f = OpenIn(out.folder, name, "a");
      const size_t len = std::strlen(name);
      const bool written = f && std::fwrite(name, 1, len, f) == len;
      const bool closed = f && std::fclose(f) == 0;
      if (!written || !closed) PrintWriteFailure(out, name);
    }
  }
}

void PrintWriteFailure(Output& out, const std::string& name) {
  LogPrint(out, "Protection : File_Write_Fail: %s\n", name.c_str());
}

void AddProgress(Output& out, uint32_t points) {
  out.ProgressCounter += points;
  ReportProgress(out, out.ProgressCounter);
}

void HexDump(Output& out, const uint8_t* b, size_t length) {
  if (length != 8 && length != 16 && length != 24 && length != 32) {
    LogPrint(out, "  Output_Length_Error\n");
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
  LogPrint(out, "%s", line.c_str());
}

uint32_t TimeOfDaySeconds(Output& out) {
  const LocalTime lt = out.clock.Local();
  return static_cast<uint32_t>(lt.hour * 3600 + lt.minute * 60 + lt.second);
}

void PrintUseTime(Output& out, uint32_t start) {
  const uint32_t now = TimeOfDaySeconds(out);
  // Across midnight the time of day wraps; count the day that passed.
  const uint32_t elapsed = now >= start ? now - start : now + 86400 - start;
  LogPrint(out, "    Use_Time = %dm %ds\n", static_cast<int>(elapsed / 60),
           static_cast<int>(elapsed % 60));
}

uint32_t EndOperation(Output& out, uint32_t start, uint32_t result, const char* pass,
                      const char* fail) {
  PrintUseTime(out, start);
  PrintResultBox(out, result == 1 ? pass : fail);
  return result;
}

void PrintResultBox(Output& out, const char* middle) {
  LogPrint(out, "\n===========================\n");
  LogPrint(out, "%s", middle);
  LogPrint(out, "===========================\n");
}

bool PlaceOutput(Output& out, StagedFile& file, bool complete) {
  if (complete ? file.Commit() : file.KeepPartial()) {
    if (!complete) LogPrint(out, "    Partial_Data_Kept: %s\n", file.PartialName().c_str());
    return true;
  }
  PrintWriteFailure(out, file.name());
  return false;
}

}  // namespace pdflash
