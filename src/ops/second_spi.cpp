#include "ops/second_spi.h"

#include "device/controller.h"
#include "flash/port.h"
#include "ops/hub.h"
#include "ops/pd_backup.h"
#include "ops/pd_update.h"
#include "ops/pd_version.h"

namespace pdflash {

namespace {

// The backup judges this image size when slot 2 has no PID of its own.
constexpr uint16_t kSecondFlashBackupPid = 0x0103;

// Runs `body` with the second flash selected and selects the first flash
// again after it, whatever it returned. Only a failed select of the second
// flash ends without that (nothing was switched).
template <typename Body>
uint32_t OnSecondFlash(Tool& t, Device& dev, const char* title, Body body) {
  LogPrint(t.out, "%s", title);
  const Controller* chip = ControllerByChip(t.Pd[1].ChipCode());
  if (!chip || !chip->second_spi) {
    LogPrint(t.out, "    Not_KMPDB_Chip!\n");
    return 0;
  }
  SecondFlash second(dev, t.set.DbgMsg != 0, "    Select_KMPDB_2nd_SPI\n", false);
  if (!second.Selected()) return 0;
  return body();
}

uint32_t UnsupportedTarget(Tool& t) {
  LogPrint(t.out, "Error: UnSupported_2nd_SPI_Target.\n");
  return 0;
}

uint8_t PdOr(const Tool& t, uint8_t target) {
  return t.set.SecondSPIForPD ? kSecondFlashPd : target;
}

}  // namespace

uint32_t SecondSpiGetVersion(Tool& t, Device& dev, uint8_t target) {
  if (!t.set.SecondSPIForPD && t.set.SecondSPIForHub) target = 1;
  target = PdOr(t, target);
  return OnSecondFlash(t, dev, "2nd_SPI_GetVer_Exe\n", [&]() -> uint32_t {
    if (target == kSecondFlashPd) {
      // The second flash's version takes the place of the running one.
      GetPdSpiVersion(t, dev, 1, 0, t.set.DbgMsg);
      return t.Pd[1].FwVersion;
    }
    if (target == 1 || target == 2) {
      GetHubSpiVersion(t, dev, target, 0, t.set.DbgMsg);
      return t.Hub[target].FwVersion;
    }
    return UnsupportedTarget(t);
  });
}

uint32_t SecondSpiBackup(Tool& t, Device& dev, uint8_t target, uint8_t row) {
  target = PdOr(t, target);
  return OnSecondFlash(t, dev, "2nd_SPI_BackUp_Exe\n", [&]() -> uint32_t {
    if (target != kSecondFlashPd) return UnsupportedTarget(t);
    DeviceRecord& slot = t.Pd[2];
    const uint16_t pid = slot.CurPid;
    slot.CurPid = slot.Pid ? slot.Pid : kSecondFlashBackupPid;
    const uint32_t result = PdFwBackup(t, dev, 2, row);
    slot.CurPid = pid;
    return result;
  });
}

uint32_t SecondSpiUpdate(Tool& t, Device& dev, uint8_t target, uint8_t row) {
  target = PdOr(t, target);
  return OnSecondFlash(t, dev, "2nd_SPI_Update_Exe\n", [&]() -> uint32_t {
    return target == kSecondFlashPd ? PdFwUpdate(t, dev, 2, row) : UnsupportedTarget(t);
  });
}

uint32_t SecondSpiDump(Tool& t, Device& dev, uint8_t megabits, uint8_t row) {
  return OnSecondFlash(t, dev, "2nd_SPI_Update_Exe\n",
                       [&]() { return PdFlashDump(t, dev, 2, megabits, row); });
}

}  // namespace pdflash
