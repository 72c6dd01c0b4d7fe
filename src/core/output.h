// The run's output: console lines (and the log file), progress reports, and
// the frames every operation prints. Every layer prints through an Output.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/records.h"
#include "platform/platform.h"

namespace pdflash {

class Output {
 public:
  // `set` and `folder` are the run's own and live as long as it: the log
  // and progress settings, and where the log and marker files go.
  Output(Console& console, Host& host, Clock& clock, const RunSettings& set,
         const std::string& folder)
      : console(console), host(host), clock(clock), set(set), folder(folder) {}

  Console& console;
  Host& host;
  Clock& clock;
  const RunSettings& set;
  const std::string& folder;

  // Window that receives the progress messages ("/msgwnd:"); 0 = none.
  uint64_t hwnd = 0;
  uint32_t ProgressCounter = 0;
  uint32_t ProgressTotal = 100;
};

// Formats like printf (at most 499 characters), writes to the console and,
// with the LogFile setting, appends the same text to the log file.
void LogPrint(Output& out, const char* fmt, ...) PDFLASH_PRINTF_FORMAT(2, 3);

// Formats into dst; -1 (and an empty dst) when it does not fit.
int FormatText(char* dst, size_t size, const char* fmt, ...) PDFLASH_PRINTF_FORMAT(3, 4);

// One character typed on the console; -1 when there is no input at all.
int ConsoleReadChar(Output& out);

// Reports the run's progress points against ProgressTotal.
void ReportProgress(Output& out, uint32_t points);
// Adds to the run's progress counter and reports the new value.
void AddProgress(Output& out, uint32_t points);

// The one line for an output file that could not be written completely.
// The rule above and below a version box.
inline constexpr const char* kBoxLine = "=========================================\n";

void PrintWriteFailure(Output& out, const std::string& name);

class StagedFile;
// Puts a finished output in place, or keeps what there is under a name that
// says it is partial; the previous file of that name stays either way.
// False (with the write-failure line) when the file could not be written.
bool PlaceOutput(Output& out, StagedFile& file, bool complete);

// " = 0001..-....\n" for 8, 16, 24 or 32 bytes.
void HexDump(Output& out, const uint8_t* bytes, size_t length);

// Seconds of the local time of day, the unit of the "Use_Time" lines.
uint32_t TimeOfDaySeconds(Output& out);
// Prints "    Use_Time = %dm %ds\n" for the time since `start` (TimeOfDaySeconds).
void PrintUseTime(Output& out, uint32_t start);

// "\n===========================\n", the middle line, "===========================\n":
// the frame that ends a whole operation.
void PrintResultBox(Output& out, const char* middle);
// The end of a whole operation: its time line, then the box with the PASS
// line for a result of 1 or the FAIL line otherwise. Returns the result.
uint32_t EndOperation(Output& out, uint32_t start, uint32_t result, const char* pass,
                      const char* fail);

// Wipes an in-place progress line.
inline constexpr const char* kWipeLine = "\r                    \r";

}  // namespace pdflash
