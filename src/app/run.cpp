#include "app/run.h"

#include "app/log.h"

namespace pdflash {

int ExitStatus(uint32_t result) { return result > 255 ? 255 : static_cast<int>(result); }

uint32_t RunPdflash(Platform& platform, BuildProfile build, int argc, char** argv) {
  (void)argc, (void)argv;
  Tool t(platform, build);
  LogPrint(t, "Return_Value = 0x%X\n", 0u);
  return 0;
}

}  // namespace pdflash
