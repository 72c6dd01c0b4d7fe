#include "ops/unavailable.h"

namespace pdflash {

uint32_t NotAvailable(Tool& t, const char* name) {
  LogPrint(t.out, "    Not_Available_In_This_Build: %s\n", name);
  return 0;
}

}  // namespace pdflash
