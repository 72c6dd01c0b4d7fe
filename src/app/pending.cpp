// Temporary: operations whose implementations are being merged in.
#include "app/unavailable.h"
#include "ops/pd_backup.h"
#include "ops/pd_download.h"
#include "ops/pd_update.h"

namespace pdflash {
uint32_t PdFwUpdate(Tool& t, UsbLink&, uint8_t, uint8_t) { return NotAvailable(t, "PdFwUpdate"); }
uint32_t PdFwDownload(Tool& t, UsbLink&, uint8_t, uint8_t) { return NotAvailable(t, "PdFwDownload"); }
uint32_t PdCleanFlash(Tool& t, UsbLink&, uint8_t, uint8_t, uint8_t) { return NotAvailable(t, "PdCleanFlash"); }
uint32_t ImageDownload(Tool& t, UsbLink&, uint8_t, uint8_t, uint8_t) { return NotAvailable(t, "ImageDownload"); }
uint32_t PdFwBackup(Tool& t, UsbLink&, uint8_t, uint8_t) { return NotAvailable(t, "PdFwBackup"); }
uint32_t PdFlashDump(Tool& t, UsbLink&, uint8_t, uint8_t, uint8_t) { return NotAvailable(t, "PdFlashDump"); }
uint32_t PdFlashDump2(Tool& t, UsbLink&, uint8_t, uint8_t, uint8_t) { return NotAvailable(t, "PdFlashDump2"); }
}  // namespace pdflash
