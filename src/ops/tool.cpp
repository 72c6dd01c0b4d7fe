#include "ops/tool.h"

#include "core/files.h"

namespace pdflash {

std::string Tool::Resolve(const std::string& name) const {
  return ResolveIn(cwd, name);
}

FILE* Tool::Open(const std::string& name, const char* mode) const {
  return OpenIn(cwd, name, mode);
}

}  // namespace pdflash
