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
// Opening for reading ("r...") refuses anything but a regular file: a FIFO
// would block the run and a directory reads as nothing.
FILE* OpenIn(const std::string& folder, const std::string& name, const char* mode);

// Something is there, and it is not a regular file (links followed).
bool NotRegularFile(const std::string& path);
// Why a file that is there cannot be read; empty when it can, or when there
// is no such file at all.
std::string UnreadableReason(const std::string& path);

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

// An output file the user may already hold a good copy of (a backup, a dump,
// Result.txt). The bytes go to "<name>.tmp" beside it; only Commit puts them
// in place, so a failed run never replaces the previous file.
class StagedFile {
 public:
  StagedFile(std::string folder, std::string name);
  ~StagedFile();  // neither committed nor kept: the temporary goes
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  // Creates the temporary ("w" for a text file); false when it cannot be
  // created.
  bool Open(const char* mode = "wb");
  // Appends n bytes; a failed write is remembered for Commit and Keep.
  void Write(const void* data, size_t n);
  // Closes and renames over the real name; false (and nothing replaced)
  // when any write, the close or the rename failed.
  bool Commit();
  // For data that is not what was asked for: closes and renames the
  // temporary to PartialName(). False when it could not be kept.
  bool KeepPartial();

  const std::string& name() const { return name_; }
  // "PDFWBackup.bin" -> "PDFWBackup.partial.bin".
  std::string PartialName() const;

 private:
  bool Close();
  std::string folder_, name_;
  FILE* f_ = nullptr;
  bool failed_ = false;
};

}  // namespace pdflash
