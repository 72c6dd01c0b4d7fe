// Files of the run: names resolve against the run's working folder (never the
// process's current directory), and the readers' zero-filled reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace pdflash {

// `name` resolved against `folder` (which ends with a separator); absolute
// names stay as they are.
std::string ResolveIn(const std::string& folder, const std::string& name);
FILE* OpenIn(const std::string& folder, const std::string& name, const char* mode);

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// A buffer of n bytes set to fill; null when memory is short.
std::unique_ptr<uint8_t[]> NewBuffer(size_t n, uint8_t fill);

// Length of an open file (the position is put back to the start); -1 when it
// cannot be told.
int64_t FileLength(FILE* f);

// Fills dst with the n bytes at offset. What lies outside the file, and
// everything when f is null, reads as 0. Returns the bytes actually read.
size_t ReadFileAt(FILE* f, uint64_t offset, uint8_t* dst, size_t n);

// Writes all n bytes to a new file; false when it cannot be created or written.
bool WriteWholeFile(FILE* f, const uint8_t* data, size_t n);

}  // namespace pdflash
