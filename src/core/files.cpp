#include "core/files.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

namespace pdflash {

std::string ResolveIn(const std::string& folder, const std::string& name) {
  if (name.empty() || std::filesystem::path(name).has_root_path()) return name;
  return folder + name;
}

namespace fs = std::filesystem;

namespace {

bool Seek(FILE* f, int64_t offset, int whence) {
#ifdef _WIN32
  return _fseeki64(f, offset, whence) == 0;
#else
  return fseeko(f, static_cast<off_t>(offset), whence) == 0;
#endif
}

int64_t Tell(FILE* f) {
#ifdef _WIN32
  return _ftelli64(f);
#else
  return static_cast<int64_t>(ftello(f));
#endif
}

// Renames over an existing file; where the runtime will not replace one,
// the old file goes only once the new one is complete beside it.
bool Replace(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::rename(from, to, ec);
  if (!ec) return true;
  if (!fs::is_regular_file(to, ec)) return false;
  fs::remove(to, ec);
  fs::rename(from, to, ec);
  return !ec;
}

}  // namespace

bool NotRegularFile(const std::string& path) {
  std::error_code ec;
  const fs::file_status st = fs::status(path, ec);
  return !ec && fs::exists(st) && !fs::is_regular_file(st);
}

FILE* OpenIn(const std::string& folder, const std::string& name, const char* mode) {
  const std::string path = ResolveIn(folder, name);
  if (mode[0] == 'r' && NotRegularFile(path)) return nullptr;
  return std::fopen(path.c_str(), mode);
}

std::string UnreadableReason(const std::string& path) {
  std::error_code ec;
  if (!fs::exists(path, ec)) return {};
  if (NotRegularFile(path)) return "not a regular file";
  errno = 0;
  FILE* f = std::fopen(path.c_str(), "r");
  if (f) {
    std::fclose(f);
    return {};
  }
  return errno != 0 ? std::strerror(errno) : "cannot be opened";
}

std::unique_ptr<uint8_t[]> NewBuffer(size_t n, uint8_t fill) {
  std::unique_ptr<uint8_t[]> p(new (std::nothrow) uint8_t[n]);
  if (p) std::memset(p.get(), fill, n);
  return p;
}

int64_t FileLength(FILE* f) {
  // 64-bit offsets everywhere: a 4 GiB file must not look like a small one.
  if (!f || !Seek(f, 0, SEEK_END)) return -1;
  const int64_t end = Tell(f);
  if (!Seek(f, 0, SEEK_SET)) return -1;
  return end < 0 ? -1 : end;
}

size_t ReadFileAt(FILE* f, uint64_t offset, uint8_t* dst, size_t n) {
  if (n == 0) return 0;
  std::memset(dst, 0, n);
  // Offsets come from file contents; anything beyond what a file offset can
  // hold is past the end of any file this tool reads.
  if (!f || offset > static_cast<uint64_t>(INT64_MAX)) return 0;
  if (!Seek(f, static_cast<int64_t>(offset), SEEK_SET)) return 0;
  return std::fread(dst, 1, n, f);
}

bool WriteWholeFile(FILE* f, const uint8_t* data, size_t n) {
  // fwrite of nothing from a null buffer is not defined: an empty file is done.
  return f && (n == 0 || std::fwrite(data, 1, n, f) == n);
}

StagedFile::StagedFile(std::string folder, std::string name)
    : folder_(std::move(folder)), name_(std::move(name)) {}

StagedFile::~StagedFile() {
  if (!f_) return;
  std::fclose(f_);
  std::error_code ec;
  fs::remove(ResolveIn(folder_, name_ + ".tmp"), ec);
}

bool StagedFile::Open(const char* mode) {
  f_ = OpenIn(folder_, name_ + ".tmp", mode);
  failed_ = f_ == nullptr;
  return f_ != nullptr;
}

void StagedFile::Write(const void* data, size_t n) {
  if (!f_ || n == 0) return;
  if (std::fwrite(data, 1, n, f_) != n) failed_ = true;
}

bool StagedFile::Close() {
  if (!f_) return false;
  if (std::fflush(f_) != 0 || std::ferror(f_)) failed_ = true;
  if (std::fclose(f_) != 0) failed_ = true;
  f_ = nullptr;
  return !failed_;
}

bool StagedFile::Commit() {
  const std::string tmp = ResolveIn(folder_, name_ + ".tmp");
  const bool ok = Close() && Replace(tmp, ResolveIn(folder_, name_));
  std::error_code ec;
  if (!ok) fs::remove(tmp, ec);
  return ok;
}

bool StagedFile::KeepPartial() {
  const std::string tmp = ResolveIn(folder_, name_ + ".tmp");
  const bool ok = Close() && Replace(tmp, ResolveIn(folder_, PartialName()));
  std::error_code ec;
  if (!ok) fs::remove(tmp, ec);
  return ok;
}

std::string StagedFile::PartialName() const {
  const size_t base = name_.find_last_of("/\\");
  const size_t dot = name_.rfind('.');
  if (dot == std::string::npos || (base != std::string::npos && dot < base) || dot == 0)
    return name_ + ".partial";
  return name_.substr(0, dot) + ".partial" + name_.substr(dot);
}

}  // namespace pdflash
