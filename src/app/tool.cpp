#include "app/tool.h"

#include <filesystem>

namespace pdflash {

BuildProfile CompiledProfile() {
  return BuildProfile{static_cast<uint8_t>(PDFLASH_PERMISSION_LEVEL),
                      static_cast<uint32_t>(PDFLASH_CUSTOMER_CODE)};
}

std::string Tool::Resolve(const std::string& name) const {
  if (name.empty() || std::filesystem::path(name).has_root_path()) return name;
  return cwd + name;
}

FILE* Tool::Open(const std::string& name, const char* mode) const {
  return std::fopen(Resolve(name).c_str(), mode);
}

}  // namespace pdflash
