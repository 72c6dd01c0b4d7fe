#include "core/files.h"

#include <climits>
#include <cstring>
#include <filesystem>
#include <new>

namespace pdflash {

std::string ResolveIn(const std::string& folder, const std::string& name) {
  if (name.empty() || std::filesystem::path(name).has_root_path()) return name;
  return folder + name;
}

FILE* OpenIn(const std::string& folder, const std::string& name, const char* mode) {
  return std::fopen(ResolveIn(folder, name).c_str(), mode);
}

std::unique_ptr<uint8_t[]> NewBuffer(size_t n, uint8_t fill) {
  std::unique_ptr<uint8_t[]> p(new (std::nothrow) uint8_t[n]);
  if (p) std::memset(p.get(), fill, n);
  return p;
}

int64_t FileLength(FILE* f) {
  if (!f || std::fseek(f, 0, SEEK_END) != 0) return -1;
  const long end = std::ftell(f);
  if (std::fseek(f, 0, SEEK_SET) != 0) return -1;
  return end < 0 ? -1 : static_cast<int64_t>(end);
}

size_t ReadFileAt(FILE* f, uint64_t offset, uint8_t* dst, size_t n) {
  std::memset(dst, 0, n);
  // Offsets come from file contents; anything a long cannot seek to is past
  // the end of any file this tool reads.
  if (!f || offset > static_cast<uint64_t>(LONG_MAX)) return 0;
  if (std::fseek(f, static_cast<long>(offset), SEEK_SET) != 0) return 0;
  return std::fread(dst, 1, n, f);
}

bool WriteWholeFile(FILE* f, const uint8_t* data, size_t n) {
  return f && std::fwrite(data, 1, n, f) == n;
}

}  // namespace pdflash
