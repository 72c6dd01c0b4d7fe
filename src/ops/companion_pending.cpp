// The companion-chip operations are not part of this build yet; they refuse
// with one clear line instead of pretending.
#include "ops/companion.h"
#include "ops/dp.h"
#include "ops/unavailable.h"
#include "ops/vmm6.h"

namespace pdflash {

uint32_t Vmm6Update(Tool& t, Device&, uint8_t, uint8_t) {
  return NotAvailable(t, "Vmm6Update");
}
uint32_t DpFwUpdate(Tool& t, Device&, uint8_t) {
  return NotAvailable(t, "DpFwUpdate");
}
uint32_t DpFwBackup(Tool& t, Device&, uint8_t) {
  return NotAvailable(t, "DpFwBackup");
}

bool CompanionUpdatesAvailable(Tool& t) {
  if (t.set.PDDPShareSPI) return NotAvailable(t, "DpFwUpdate"), false;
  if (t.set.PDVMM6ShareSPI) return NotAvailable(t, "Vmm6Update"), false;
  return true;
}

}  // namespace pdflash
