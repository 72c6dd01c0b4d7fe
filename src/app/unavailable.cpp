#include "app/unavailable.h"

#include "app/log.h"

namespace pdflash {

uint32_t NotAvailable(Tool& t, const char* name) {
  LogPrint(t, "    Not_Available_In_This_Build: %s\n", name);
  return 0;
}

}  // namespace pdflash
