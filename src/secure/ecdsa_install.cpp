#include <cstring>

#include "core/files.h"
#include "device/controller.h"
#include "device/engine.h"
#include "device/registers.h"
#include "flash/spi.h"
#include "flash/verified.h"
#include "image/ecdsa_image.h"
#include "secure/ecdsa.h"

namespace pdflash {

namespace {

constexpr uint32_t kImageBuffer = 0x200000;
constexpr uint32_t kZoneEnd = 0x80000;
constexpr uint32_t kMinFlash = 0x80000;
constexpr uint32_t kSizeCheckBase = 0x20000;
constexpr int kInstallWaits = 200;

// Opens, sizes and reads the image; false after its protection line.
bool ReadImage(Tool& t, uint8_t* buffer, uint32_t& size) {
  FilePtr f(t.Open(t.set.ScyImgFilePath, "rb"));
  if (!f) {
    LogPrint(t.out, "Protection : Img_Open_Fail.\n");
    return false;
  }
  const int64_t n = FileLength(f.get());
  if (n < static_cast<int64_t>(kEcdsaHeaderSize) || n > static_cast<int64_t>(kImageBuffer)) {
    LogPrint(t.out, "Protection : ZIRUR_ECDSA_Size_%dK_Over.\n", static_cast<int>(n < 0 ? 0 : n / 1024));
    return false;
  }
  size = static_cast<uint32_t>(n);
  ReadFileAt(f.get(), 0, buffer, size);
  return true;
}

// Erases the sectors the image covers and writes it from the header's place.
bool WriteZone(Tool& t, Device& dev, uint8_t row, const uint8_t* image, uint32_t size,
               bool progress) {
  Output& out = t.out;
  const bool dbg = t.set.DbgMsg != 0;
  if (dbg)
    LogPrint(out, "    Erase_Flash_From_%X ...\n", kEcdsaHeaderFlash);
  else
    LogPrint(out, "    Erase_Flash...\n");
  for (uint32_t o = 0; o < size; o += 0x1000) {
    if (VerifiedSectorErase(dev, row, kEcdsaHeaderFlash + o, t.set.DbgMsg) != 1) {
      LogPrint(out, "ECDSA_SectorErase_%06X_Fail\n", o);
      return false;
    }
    LogPrint(out, "\r    erasing...%02d%%", static_cast<int>(uint64_t{o} * 100 / size));
  }
  LogPrint(out, "%s", kWipeLine);
  if (progress) AddProgress(out, 20);
  if (dbg)
    LogPrint(out, "    Write_Image_to_%X ...\n", kEcdsaHeaderFlash);
  else
    LogPrint(out, "    Write_Image...\n");
  if (VerifiedWrite(dev, row, kEcdsaHeaderFlash, 0, size, image, t.set.DbgMsg) < 1) {
    LogPrint(out, "Write_Image_Fail\n");
    return false;
  }
  if (progress) AddProgress(out, 40);
  return true;
}

// The zone needs 512 KiB; a larger image needs room for all of it, or its
// writes would wrap round onto the PD copies at the bottom of the flash.
bool FlashBigEnough(Tool& t, Device& dev, uint32_t image_size) {
  uint32_t needed = kMinFlash;
  while (needed < kEcdsaHeaderFlash + image_size) needed *= 2;
  if (CheckFlashSize(dev, t.set, needed, kSizeCheckBase, t.set.DbgMsg) == 1) return true;
  LogPrint(t.out, "Protection : Flash_Size_Incefficient_%dKB.\n", static_cast<int>(needed / 1024));
  return false;
}

bool ZirurIdentity(Tool& t, Device& dev) {
  uint8_t id = 0;
  if (dev.ReadRegister(reg::kIdentity, id, t.set.DbgMsg != 0) == 1 && IdentityHasSecurityIc(id))
    return true;
  LogPrint(t.out, "Protection : Not_ZIRUR_Chip.\n");
  return false;
}

// Asks the firmware to verify and install, and waits for its state machine.
bool Install(Tool& t, Device& dev, uint32_t end) {
  Output& out = t.out;
  LogPrint(out, "    Check-SCY_Update...\n");
  uint8_t v = 0;
  dev.ReadRegister(reg::kScyState, v, t.set.DbgMsg != 0);
  if (v >= 0x01 && v <= 0x7F) {
    LogPrint(out, "    Protection: SCY_UPD_FSM_Busy.\n");
    return false;
  }
  uint8_t payload[32];
  EcdsaRegionDescriptor(kEcdsaDataFlash, end, kEcdsaSignatureFlash, payload);
  // A request that did not arrive must not pass on an earlier run's result.
  if (CallScyUpdate(dev, payload, sizeof payload, t.set.DbgMsg != 0) != 1) return false;
  int waits = 0;
  while (waits < kInstallWaits) {
    t.clock.SleepMs(1000);
    ++waits;
    // An unread state must not leave the earlier result standing in v.
    if (dev.ReadRegister(reg::kScyState, v, t.set.DbgMsg != 0) != 1) {
      v = 0;
      break;
    }
    if (v & 0x80) break;
    LogPrint(out, "\r    waiting...%d/%d", waits, kInstallWaits);
  }
  LogPrint(out, "%s", kWipeLine);
  AddProgress(out, 40);
  if (v & 0x3F) {
    LogPrint(out, "    Error_0x%02X\n", v & 0x3F);
    return false;
  }
  // Unfinished, whether the waits ran out or a read failed: not installed.
  if (!(v & 0x80)) {
    LogPrint(out, "    TimeOut_0x%02X\n", kInstallWaits);
    return false;
  }
  return true;
}

uint32_t UpdateSteps(Tool& t, Device& dev, uint8_t index, uint8_t row, uint8_t* image) {
  Output& out = t.out;
  if (!ChipHasSecurityIc(t.Pd[1].ChipCode())) {
    LogPrint(out, "Protection : Not_ZIRUR_Chip.\n");
    return 0;
  }
  if (t.Pd[index].FwVersion >> 24 == 0x35) {
    LogPrint(out, "Protection : Not_FW_Mode.\n");
    return 0;
  }
  uint32_t size = 0;
  if (!ReadImage(t, image, size)) return 0;
  const EcdsaHeaderCheck h = CheckEcdsaHeader(image);
  if (!h.title) {
    LogPrint(out, "Protection : Title_Mismatch.\n");
    return 0;
  }
  if (!h.start) {
    LogPrint(out, "Protection : SPI-S_Mismatch.\n");
    return 0;
  }
  if (!h.signature) {
    LogPrint(out, "Protection : SIG-S_Mismatch.\n");
    return 0;
  }
  // The size is a check on the file: before the protection comes off.
  if (!FlashBigEnough(t, dev, size)) return 0;
  if (WriteFlashStatus(dev, t.set, row, 0x00, t.set.DbgMsg) != 1) {
    LogPrint(out, "    Write_SPI_Status_Fail.\n");
    return 0;
  }
  if (!WriteZone(t, dev, row, image, size, true)) return 0;
  return Install(t, dev, h.end) ? 1 : 0;
}

uint32_t DownloadSteps(Tool& t, Device& dev, uint8_t row, uint8_t* image) {
  if (!ZirurIdentity(t, dev)) return 0;
  uint32_t size = 0;
  if (!ReadImage(t, image, size)) return 0;
  if (!CheckEcdsaHeader(image).title) {
    LogPrint(t.out, "Protection : Title_Mismatch.\n");
    return 0;
  }
  if (!FlashBigEnough(t, dev, size)) return 0;
  return WriteZone(t, dev, row, image, size, false) ? 1 : 0;
}

uint32_t EraseSteps(Tool& t, Device& dev, uint8_t row) {
  if (!ZirurIdentity(t, dev)) return 0;
  if (!FlashBigEnough(t, dev, 0)) return 0;
  if (t.set.DbgMsg)
    LogPrint(t.out, "    Erase_Flash_From_%X ...\n", kEcdsaHeaderFlash);
  else
    LogPrint(t.out, "    Erase_Flash...\n");
  const uint32_t span = kZoneEnd - kEcdsaHeaderFlash;
  for (uint32_t o = 0; o < span; o += 0x1000) {
    if (VerifiedSectorErase(dev, row, kEcdsaHeaderFlash + o, t.set.DbgMsg) != 1) {
      LogPrint(t.out, "ZIRUR_SectorErase_%06X_Fail\n", o);
      return 0;
    }
    LogPrint(t.out, "\r    erasing...%02d%%", static_cast<int>(uint64_t{o} * 100 / span));
  }
  LogPrint(t.out, "%s", kWipeLine);
  return 1;
}

// The zone operations' own frame is wider than the common one.
uint32_t End(Tool& t, uint32_t start, uint32_t result, const char* pass, const char* fail) {
  PrintUseTime(t.out, start);
  LogPrint(t.out, "\n==============================\n");
  LogPrint(t.out, "%s", result == 1 ? pass : fail);
  LogPrint(t.out, "==============================\n");
  return result;
}

}  // namespace

uint32_t UpdateEcdsaImage(Tool& t, Device& dev, uint8_t index, uint8_t row) {
  const uint32_t start = TimeOfDaySeconds(t.out);
  LogPrint(t.out, "\nZIRUR[%d]_ECDSA_Update_Start_%d...\n", index, row);
  auto image = NewBuffer(kImageBuffer, 0);
  const uint32_t result = image ? UpdateSteps(t, dev, index, row, image.get()) : 0;
  return End(t, start, result, "=  ZIRUR-ECDSA_Update_PASS.  =\n",
                      "=  ZIRUR-ECDSA_Update_FAIL.  =\n");
}

uint32_t DownloadEcdsaImage(Tool& t, Device& dev, uint8_t index, uint8_t row) {
  const uint32_t start = TimeOfDaySeconds(t.out);
  LogPrint(t.out, "\nZIRUR[%d]_Download_ECDSA_Image_Start_%d...\n", index, row);
  auto image = NewBuffer(kImageBuffer, 0);
  const uint32_t result = image ? DownloadSteps(t, dev, row, image.get()) : 0;
  return End(t, start, result, "=    ZIRUR-Image_DL_PASS.    =\n",
                      "=    ZIRUR-Image_DL_Fail.    =\n");
}

uint32_t EraseScyZone(Tool& t, Device& dev, uint8_t index, uint8_t row) {
  const uint32_t start = TimeOfDaySeconds(t.out);
  LogPrint(t.out, "\nZIRUR[%d]_Erase_Zone_%d...\n", index, row);
  const uint32_t result = EraseSteps(t, dev, row);
  return End(t, start, result, "=   ZIRUR-ECDSA_Erase_PASS.  =\n",
                      "=   ZIRUR-ECDSA_Erase_FAIL.  =\n");
}

}  // namespace pdflash
