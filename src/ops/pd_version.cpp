#include "ops/pd_version.h"

#include <iterator>
#include <memory>
#include <new>

#include "app/log.h"
#include "device/vendor.h"
#include "flash/spi.h"
#include "core/bytes.h"
#include "image/checksum.h"
#include "ops/pd_file.h"

namespace pdflash {

namespace {

constexpr uint8_t kFormalSignature[4] = {0x66, 0x6D, 0xAB, 0x56};
constexpr const char* kBoxLine = "=========================================\n";

// Start of a formal version in a 64-byte window (signature right after the
// four version bytes); -1 when there is none.
int FindFormalVersion(const uint8_t* window) {
  for (int k = 0; k < 56; ++k) {
    if (window[k + 4] == kFormalSignature[0] && window[k + 5] == kFormalSignature[1] &&
        window[k + 6] == kFormalSignature[2] && window[k + 7] == kFormalSignature[3])
      return k;
  }
  return -1;
}

struct CopySlot {
  uint32_t start;
  uint32_t region;
};

}  // namespace

void GetPdFwVersion(Tool& t, UsbLink& h, uint8_t d, bool print) {
  if (print) LogPrint(t, "Get_PD[%d]_FW_Version\n", d);
  DeviceRecord& rec = t.Pd[d];
  uint8_t v[4] = {};
  if (!VendorTransfer(t, h, kVendorIn, 0xE2, 0x0001, 0x0000, sizeof v, v)) {
    LogPrint(t, "Get_PD_FW_Version_FAIL.\n");
    rec.FwVersion = 0;
    return;
  }
  rec.FwVersion = Be32(v);
  LogPrint(t, "%s", kBoxLine);
  LogPrint(t, "=  KMPDx:%04X/%04X, Version:%02X.%02X.%02X.%02X =\n", rec.Vid, rec.Pid, v[0], v[1],
           v[2], v[3]);
  LogPrint(t, "%s", kBoxLine);
}

void GetPdFormalVer(Tool& t, UsbLink& h, uint8_t in_rom) {
  if (t.set.DisplayFormalVer == 0) return;
  if (t.set.DbgMsg) LogPrint(t, "Get_PD_Formal_Ver.\n");
  DeviceRecord& rec = t.Pd[1];
  rec.DevFormalVersion = 0;
  // Offsets 0x1000 and 0x4000 of both firmware copies; the second copy sits
  // lower on the parts with 32 KiB images.
  const bool small_copies = t.set.PD1RomPID == 0x0103;
  const uint32_t addresses[4] = {0x21000, 0x24000, small_copies ? 0x29000u : 0x31000u,
                                 small_copies ? 0x2C000u : 0x34000u};
  // Application firmware serves flash requests only on chip 0x0107; the others
  // are read through the register-level SPI master.
  const bool by_register = in_rom == 0 && (rec.ProjectId >> 16) != 0x0107;
  uint8_t window[64] = {};
  for (const uint32_t a : addresses) {
    if (by_register) {
      PdRegisterReadSpi(t, h, 0x03, a, 0, 32, window);
      PdRegisterReadSpi(t, h, 0x03, a + 0x20, 32, 32, window);
    } else {
      SpiReadData(t, h, 0x03, a, 0, 32, window);
      SpiReadData(t, h, 0x03, a + 0x20, 32, 32, window);
    }
    const int k = FindFormalVersion(window);
    if (k < 0) continue;
    const uint8_t* f = window + k;
    rec.DevFormalVersion = Be32(f);
    LogPrint(t, "=     Formal Version is %02X.%02X.%02X.%02X     =\n", f[0], f[1], f[2], f[3]);
    LogPrint(t, "%s", kBoxLine);
    return;
  }
  LogPrint(t, "PD Formal version not found.\n");
}

void GetPdSpiVersion(Tool& t, UsbLink& h, uint8_t d, uint8_t selector, uint8_t verbose) {
  LogPrint(t, "\n    PD%d_Get_SPI%d_Version...\n", d, selector);
  constexpr uint32_t kBufferSize = 0x20000;
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kBufferSize]());
  if (!buffer) return;
  uint8_t* image = buffer.get();
  DeviceRecord& rec = t.Pd[d];
  rec.FwVersion = 0;

  static constexpr CopySlot kCopy1[] = {{0x20000, 0x10000}};
  static constexpr CopySlot kCopy2[] = {{0x30000, 0x10000}, {0x28000, 0x8000}};
  static constexpr CopySlot kAll[] = {
      {0x20000, 0x10000}, {0x30000, 0x10000}, {0x28000, 0x8000}, {0x28000, 0x8000}};
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
    if (verbose) LogPrint(t, "    Read_Start_Adr = %X\n", slot.start);
    SpiReadData(t, h, 0x03, slot.start, 0, 32, image);
    if (image[0] != 0x02) {
      LogPrint(t, "SPI[%X] = %02X\n", slot.start, image[0]);
      continue;
    }
    for (uint32_t done = 0; done < slot.region; done += 32) {
      if (!SpiReadData(t, h, 0x03, slot.start + done, done, 32, image)) {
        LogPrint(t, "Protection: SPI_Check_Read_Fail.\n");
        return;
      }
    }
    uint32_t size = 0;
    for (const uint32_t n : {0x8000u, 0xC000u, 0xC800u, 0x10000u}) {
      if (n <= slot.region && Crc16Trailer(image, n)) {
        size = n;
        break;
      }
    }
    if (size == 0) continue;
    LogPrint(t, "    Size_Match_at: %dKB\n", size >> 10);

    const uint16_t vid = Le16(image + 0x1007);
    const uint16_t vid2 = Le16(image + 0x100D);
    if (verbose) LogPrint(t, "    Loop%d_VID = %04X/%04X\n", static_cast<int>(i), vid, vid2);
    if (!IdentityAccepts(vid, vid2, rec.Vid)) continue;

    t.Pd[1].CurVid = vid;
    t.Pd[1].CurPid = Le16(image + 0x1009);
    const uint8_t* v = image + 0x1003;
    rec.FwVersion = Be32(v);
    LogPrint(t, "%s", kBoxLine);
    LogPrint(t, "=    PD[%d] FW Version is %02X.%02X.%02X.%02X    =\n", d, v[0], v[1], v[2], v[3]);
    LogPrint(t, "%s", kBoxLine);
    if (t.set.DisplayFormalVer) {
      const int k = FindFormalVersion(v);
      if (k >= 0) {
        const uint8_t* f = v + k;
        rec.DevFormalVersion = Be32(f);
        LogPrint(t, "= \tFormal Version is %02X.%02X.%02X.%02X\t  =\n", f[0], f[1], f[2], f[3]);
        LogPrint(t, "%s", kBoxLine);
      }
    }
    return;
  }
}

}  // namespace pdflash
