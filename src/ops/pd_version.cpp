#include "ops/pd_version.h"

#include <iterator>
#include <memory>
#include <new>

#include "core/bytes.h"
#include "device/controller.h"
#include "device/registers.h"
#include "flash/spi.h"
#include "image/flash_map.h"
#include "image/pd_image.h"

namespace pdflash {

namespace {


struct CopySlot {
  uint32_t start;
  uint32_t region;
};

}  // namespace

void GetPdFwVersion(Tool& t, Device& dev, uint8_t d, bool print) {
  if (print) LogPrint(t.out, "Get_PD[%d]_FW_Version\n", d);
  DeviceRecord& rec = t.Pd[d];
  uint8_t v[4] = {};
  if (!dev.Transfer(kVendorIn, req::kFwVersion, 0x0001, 0x0000, sizeof v, v)) {
    LogPrint(t.out, "Get_PD_FW_Version_FAIL.\n");
    rec.FwVersion = 0;
    return;
  }
  rec.FwVersion = Be32(v);
  LogPrint(t.out, "%s", kBoxLine);
  LogPrint(t.out, "=  KMPDx:%04X/%04X, Version:%02X.%02X.%02X.%02X =\n", rec.Vid, rec.Pid, v[0],
           v[1], v[2], v[3]);
  LogPrint(t.out, "%s", kBoxLine);
}

void GetPdFormalVer(Tool& t, Device& dev, uint8_t in_rom) {
  if (t.set.DisplayFormalVer == 0) return;
  if (t.set.DbgMsg) LogPrint(t.out, "Get_PD_Formal_Ver.\n");
  DeviceRecord& rec = t.Pd[1];
  rec.DevFormalVersion = 0;
  // Offsets 0x1000 and 0x4000 of both firmware copies; the second copy sits
  // lower on the parts with 32 KiB images.
  const Controller* marked = ControllerByChip(t.set.PD1RomPID);
  const uint32_t copy2 = marked && marked->low_second_copy ? kPdCopy2Small : kPdCopy2;
  const uint32_t addresses[4] = {kPdCopy1 + 0x1000, kPdCopy1 + 0x4000, copy2 + 0x1000,
                                 copy2 + 0x4000};
  // Where application firmware does not serve flash requests, the flash is
  // read through the register-level SPI master.
  const Controller* chip = ControllerByChip(rec.ChipCode());
  const bool by_register = in_rom == 0 && !(chip && chip->app_serves_flash);
  uint8_t window[64] = {};
  for (const uint32_t a : addresses) {
    if (by_register) {
      const bool echo = t.set.DbgMsg >= 8;
      PdRegisterReadSpi(dev, 0x03, a, 0, 32, window, echo);
      PdRegisterReadSpi(dev, 0x03, a + 0x20, 32, 32, window, echo);
    } else {
      SpiReadData(dev, 0x03, a, 0, 32, window);
      SpiReadData(dev, 0x03, a + 0x20, 32, 32, window);
    }
    const int k = FindFormalVersion(window);
    if (k < 0) continue;
    const uint8_t* f = window + k;
    rec.DevFormalVersion = Be32(f);
    LogPrint(t.out, "=     Formal Version is %02X.%02X.%02X.%02X     =\n", f[0], f[1], f[2], f[3]);
    LogPrint(t.out, "%s", kBoxLine);
    return;
  }
  LogPrint(t.out, "PD Formal version not found.\n");
}

void GetPdSpiVersion(Tool& t, Device& dev, uint8_t d, uint8_t selector, uint8_t verbose) {
  LogPrint(t.out, "\n    PD%d_Get_SPI%d_Version...\n", d, selector);
  constexpr uint32_t kBufferSize = 0x20000;
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kBufferSize]());
  if (!buffer) return;
  uint8_t* image = buffer.get();
  DeviceRecord& rec = t.Pd[d];
  rec.FwVersion = 0;

  static constexpr CopySlot kCopy1[] = {{kPdCopy1, kPdCopyArea}};
  static constexpr CopySlot kCopy2[] = {{kPdCopy2, kPdCopyArea}, {kPdCopy2Small, kSmallPdImage}};
  static constexpr CopySlot kAll[] = {{kPdCopy1, kPdCopyArea},
                                      {kPdCopy2, kPdCopyArea},
                                      {kPdCopy2Small, kSmallPdImage},
                                      {kPdCopy2Small, kSmallPdImage}};
  const CopySlot* slots = kAll;
  size_t slot_count = std::size(kAll);
  if (selector == 1) {
    slots = kCopy1;
    slot_count = std::size(kCopy1);
  } else if (selector == 2) {
    slots = kCopy2;
    slot_count = std::size(kCopy2);
  }

  for (size_t i = 0; i < slot_count; ++i) {
    const CopySlot& slot = slots[i];
    if (verbose) LogPrint(t.out, "    Read_Start_Adr = %X\n", slot.start);
    SpiReadData(dev, 0x03, slot.start, 0, 32, image);
    if (image[0] != kPdImageMarker) {
      LogPrint(t.out, "SPI[%X] = %02X\n", slot.start, image[0]);
      continue;
    }
    if (!SpiReadPieces(dev, 0x03, slot.start, 0, slot.region, image)) {
      LogPrint(t.out, "Protection: SPI_Check_Read_Fail.\n");
      return;
    }
    const uint32_t size = PdImageSize(image, slot.region);
    if (size == 0) continue;
    LogPrint(t.out, "    Size_Match_at: %dKB\n", size >> 10);

    if (TakeStoredHeader(t, "PD", d, i, verbose, rec, t.Pd[1], image + kPdHeader)) return;
  }
}

bool TakeStoredHeader(Tool& t, const char* chip, uint8_t d, size_t loop, bool verbose,
                      DeviceRecord& rec, DeviceRecord& current, const uint8_t* h) {
  const PdHeader header = ParsePdHeader(h);
  if (verbose)
    LogPrint(t.out, "    Loop%d_VID = %04X/%04X\n", static_cast<int>(loop), header.vid, header.vid2);
  if (!IdentityAccepts(header.vid, header.vid2, rec.Vid)) return false;
  current.CurVid = header.vid;
  current.CurPid = header.pid;
  rec.FwVersion = header.version;
  LogPrint(t.out, "%s", kBoxLine);
  LogPrint(t.out, "=    %s[%d] FW Version is %02X.%02X.%02X.%02X    =\n", chip, d, h[0], h[1],
           h[2], h[3]);
  LogPrint(t.out, "%s", kBoxLine);
  if (t.set.DisplayFormalVer) {
    const int k = FindFormalVersion(h);
    if (k >= 0) {
      const uint8_t* f = h + k;
      rec.DevFormalVersion = Be32(f);
      LogPrint(t.out, "= \tFormal Version is %02X.%02X.%02X.%02X\t  =\n", f[0], f[1], f[2], f[3]);
      LogPrint(t.out, "%s", kBoxLine);
    }
  }
  return true;
}

}  // namespace pdflash
