// Console, log file and progress output of the run.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/tool.h"
#include "platform/platform.h"

namespace pdflash {

// Formats like printf (at most 499 characters), writes to the console and,
// with the LogFile setting, appends the same text to the log file.
void LogPrint(Tool& t, const char* fmt, ...) PDFLASH_PRINTF_FORMAT(2, 3);

// Formats into dst; -1 (and an empty dst) when it does not fit.
int FormatText(char* dst, size_t size, const char* fmt, ...) PDFLASH_PRINTF_FORMAT(3, 4);

// One character typed on the console; -1 when there is no input at all.
int ConsoleReadChar(Tool& t);

// Reports the run's progress points against ProgressTotal.
void ReportProgress(Tool& t, uint32_t points);
// Adds to the run's progress counter and reports the new value.
void AddProgress(Tool& t, uint32_t points);

// Busy-waits at least `us` microseconds.
void StepTimer(Tool& t, int32_t us);

// " = 0001..-....\n" for 8, 16, 24 or 32 bytes.
void HexDump(Tool& t, const uint8_t* bytes, size_t length);

// Seconds of the local time of day, the unit of the "Use_Time" lines.
uint32_t TimeOfDaySeconds(Tool& t);
// Prints "    Use_Time = %dm %ds\n" for the time since `start` (TimeOfDaySeconds).
void PrintUseTime(Tool& t, uint32_t start);

// Wipes an in-place progress line.
inline constexpr const char* kWipeLine = "\r                    \r";

}  // namespace pdflash

namespace pdflash {

// "\n===========================\n", the middle line, "===========================\n":
// the frame that ends a whole operation.
void PrintResultBox(Tool& t, const char* middle);
// The end of a whole operation: its time line, then the box with the PASS
// line for a result of 1 or the FAIL line otherwise. Returns the result.
uint32_t EndOperation(Tool& t, uint32_t start, uint32_t result, const char* pass, const char* fail);

}  // namespace pdflash
