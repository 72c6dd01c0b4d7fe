#include "app/profile.h"

namespace pdflash {

BuildProfile CompiledProfile() {
  return BuildProfile{static_cast<uint8_t>(PDFLASH_PERMISSION_LEVEL),
                      static_cast<uint32_t>(PDFLASH_CUSTOMER_CODE)};
}

}  // namespace pdflash
