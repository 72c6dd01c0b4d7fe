#include "ops/dp.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <vector>

#include "core/bytes.h"
#include "core/files.h"
#include "flash/parts.h"
#include "flash/spi.h"
#include "image/checksum.h"
#include "image/dp_image.h"
#include "image/flash_map.h"
#include "image/pd_image.h"
#include "ops/file_image.h"
#include "ops/pd_file.h"
#include "ops/pd_update.h"
#include "ops/pd_version.h"

namespace pdflash {

namespace {

// The 64 header bytes of a copy as the search reads them.
void ReadHeaderWindow(Tool& t, Device& dev, uint32_t a, bool direct, uint8_t* window) {
  if (direct) {
    SpiReadData(dev, 0x03, a, 0, 32, window);
    SpiReadData(dev, 0x03, a + 0x20, 32, 32, window);
  } else {
    const bool echo = t.set.DbgMsg >= 8;
    PdRegisterReadSpi(dev, 0x03, a, 0, 32, window, echo);
    PdRegisterReadSpi(dev, 0x03, a + 0x20, 32, 32, window, echo);
  }
}

// Copy candidates of the flash version reader: address and region.
struct DpSlot {
  uint32_t at, region;
};
constexpr DpSlot kDpSlots[] = {
    {0x40000, 0x20000}, {0x60000, 0x20000}, {0x50000, 0x10000}, {0x70000, 0x10000}};

bool SlotSelected(uint8_t selector, size_t entry) {
  if (selector == 1) return entry <= 1;
  if (selector == 2) return entry >= 1;
  return true;
}

}  // namespace

void GetDpFwVersion(Tool& t, Device& dev, uint8_t direct) {
  if (t.set.DbgMsg) LogPrint(t.out, "Get_DP_FW.\n");
  DeviceRecord& r = t.Dp[1];
  r.FwVersion = 0;
  uint32_t at[2] = {kDpCopyA1 + kDpHeaderOffset, kDpCopyA1 + kDpKmdpbCopy2Offset + kDpHeaderOffset};
  if (t.set.DP1PID == 0x0605) {
    at[1] = kDpCopyA2 + kDpHeaderOffset;
  } else if (t.set.DPStrapping) {
    at[0] = kDpStrappedBase + kDpHeaderOffset;
    at[1] = kDpStrappedBase + kDpKmdpbCopy2Offset + kDpHeaderOffset;
  }
  uint8_t w[64] = {};
  bool found = false;
  for (const uint32_t a : at) {
    std::fill(std::begin(w), std::end(w), 0);
    ReadHeaderWindow(t, dev, a, direct != 0, w);
    const uint16_t vid = Le16(w + 4), vid2 = Le16(w + 10);
    if (t.set.DbgMsg) LogPrint(t.out, "    DP_SPI_VID = %04X/%04X\n", vid, vid2);
    if (IdentityAccepts(vid, vid2, t.set.DP1VID)) {
      found = true;
      break;
    }
  }
  if (!found) {
    LogPrint(t.out, "DP firmware not found.\n");
    return;
  }
  r.FwVersion = Be32(w);
  LogPrint(t.out, "%s", kBoxLine);
  LogPrint(t.out, "=     DP FW Version is %02X.%02X.%02X.%02X      =\n", w[0], w[1], w[2], w[3]);
  LogPrint(t.out, "%s", kBoxLine);
  if (!t.set.DisplayFormalVer) return;
  const int k = FindFormalVersion(w);
  if (k < 0) return;
  r.DevFormalVersion = Be32(w + k);
  LogPrint(t.out, "=     Formal Version is %02X.%02X.%02X.%02X     =\n", w[k], w[k + 1], w[k + 2],
           w[k + 3]);
  LogPrint(t.out, "%s", kBoxLine);
}

void GetDpSpiVersion(Tool& t, Device& dev, uint8_t d, uint8_t selector, uint8_t verbose) {
  LogPrint(t.out, "\n    DP%d_Get_SPI%d_Version...\n", d, selector);
  if (d == 0 || d >= t.Dp.size()) {
    LogPrint(t.out, "Illegal Parameter %X\n", d);
    return;
  }
  DeviceRecord& r = t.Dp[d];
  std::vector<uint8_t> buf(kDpMaxImage, 0);
  r.FwVersion = 0;
  for (size_t e = 0; e < std::size(kDpSlots); ++e) {
    if (!SlotSelected(selector, e)) continue;
    const DpSlot& slot = kDpSlots[e];
    if (verbose) LogPrint(t.out, "    Read_Start_Adr = %X\n", slot.at);
    SpiReadData(dev, 0x03, slot.at, 0, 32, buf.data());
    if (buf[0] != kPdImageMarker) {
      LogPrint(t.out, "SPI[%X] = %02X\n", slot.at, buf[0]);
      continue;
    }
    if (!SpiReadPieces(dev, 0x03, slot.at, 0, slot.region, buf.data())) {
      LogPrint(t.out, "Protection: SPI_Check_Read_Fail.\n");
      return;
    }
    const uint32_t size = DpImageSize(buf.data(), slot.region);
    if (size == 0) continue;
    LogPrint(t.out, "    Size_Match_at: %dKB\n", size >> 10);
    if (TakeStoredHeader(t, "DP", d, e, verbose, r, t.Dp[1], buf.data() + kDpHeaderOffset)) return;
  }
}

namespace {

uint32_t DpUpdateFail(Tool& t, const char* line) {
  if (line) LogPrint(t.out, "%s", line);
  PrintResultBox(t.out, "=    DP_FW_Update_FAIL.   =\n");
  return 0;
}

constexpr char kDpUpdateStart[] = "\nDP_FW_Update_Start...\n";

}  // namespace

bool LoadDpImage(Tool& t, FirmwareImage& image) {
  auto refuse = [&](const char* line) {
    LogPrint(t.out, "%s", kDpUpdateStart);
    if (!line) ImageCrcMatches(t, image.bytes, image.size);  // its line names the CRC
    DpUpdateFail(t, line);
    return false;
  };
  const FileRead read = ReadFirmwareFile(t, t.Dp[1].BinPath, kDpMaxImage, image.bytes, image.size);
  if (read == FileRead::OpenFailed) return refuse("Protection : FW_Open_Fail.\n");
  if (read == FileRead::TooLarge) return refuse("Protection : DPFW_Size_Over.\n");
  // Only the families' image sizes have a place on the flash and a copy the
  // converter boots from.
  const uint32_t size = image.size;
  if (size != kDpKmdpbSize && size != kDpKmdpa96Size && size != kDpKmdpa128Size)
    return refuse("Protection : DPFW_Size_Error.\n");
  if (image.bytes[0] != kPdImageMarker) return refuse("Protection : DPFW_Data[0]_Error.\n");
  if (!Crc16Trailer(image.bytes.data(), size)) return refuse(nullptr);
  return true;
}

bool DpAreaFits(Tool& t, Device& dev, uint8_t row) {
  // Copy 1 of the PD firmware and the same place one half of 512 KiB on: a
  // 256 KiB part shows the same bytes at both.
  constexpr uint32_t kProbe = kPdCopy1 + 0x1000, kHalf = 0x40000;
  const uint8_t opcode = FlashRow(row).Read;
  uint8_t low[32] = {}, high[32] = {};
  if (SpiReadData(dev, opcode, kProbe, 0, 32, low) != 1 ||
      SpiReadData(dev, opcode, kProbe + kHalf, 0, 32, high) != 1) {
    LogPrint(t.out, "    ChkSize_Read_Fail.\n");
    return false;
  }
  const bool uniform =
      std::all_of(std::begin(low), std::end(low), [&](uint8_t b) { return b == low[0]; });
  if (!uniform && std::equal(std::begin(low), std::end(low), high)) {
    LogPrint(t.out, "Protection : Flash_Size_Incefficient_512KB.\n");
    return false;
  }
  return true;
}

uint32_t DpFwUpdate(Tool& t, Device& dev, uint8_t row, const FirmwareImage& file) {
  LogPrint(t.out, "%s", kDpUpdateStart);
  const FlashPart& cmd = FlashRow(row);
  if (cmd.SectorErase == 0) {
    LogPrint(t.out, "Protection : SPI_No_SectorErase_CMD.\n");
    return 0;
  }
  if (!DpAreaFits(t, dev, row)) return DpUpdateFail(t, nullptr);
  const std::vector<uint8_t>& image = file.bytes;
  const uint32_t size = file.size;
  std::vector<uint8_t> check(kDpMaxImage, 0);

  const bool kmdpb = IsKmdpbSize(size);
  const uint32_t base = kmdpb && t.set.DPStrapping ? kDpStrappedBase : kDpCopyA1;
  LogPrint(t.out, "    Checking_0x%X_Data\n", base);
  SpiReadData(dev, cmd.Read, base, 0, 32, check.data());
  if (check[0] == 0x05) return DpUpdateFail(t, "Protection : SPI_Size_Error.\n");
  LogPrint(t.out, "    Check device firmware ...\n");
  if (!SpiReadPieces(dev, cmd.Read, base, 0, size, check.data()))
    return DpUpdateFail(t, "Protection : SPI_Check_Read_Fail.\n");
  bool valid = Crc16Trailer(check.data(), size);
  if (valid) LogPrint(t.out, "    Firmware_1_OK ...\n");
  // A copy valid at the family's other size is just as bootable: it stays
  // until the other copy holds the new image.
  if (!valid && check[0] == kPdImageMarker) {
    const uint32_t largest = std::max(DpFamilySizes(size).back(), size);
    const uint32_t from = size & ~31u;
    if (!SpiReadPieces(dev, cmd.Read, base + from, from, largest - from, check.data()))
      return DpUpdateFail(t, "Protection : SPI_Check_Read_Fail.\n");
    valid = DpCopyValidInFamily(check.data(), largest, size);
  }

  const uint32_t other = kmdpb ? base + kDpKmdpbCopy2Offset : kDpCopyA2;
  const uint32_t first = valid ? other : base, second = valid ? base : other;
  if (!WriteFirmwareCopy(t, dev, row, first, true, image, size)) return DpUpdateFail(t, nullptr);
  if (!WriteFirmwareCopy(t, dev, row, second, false, image, size)) return DpUpdateFail(t, nullptr);
  PrintResultBox(t.out, "=    DP_FW_Update_PASS.   =\n");
  return 1;
}

uint32_t DpFwBackup(Tool& t, Device& dev, uint8_t row) {
  LogPrint(t.out, "\nDP_FW_Backup_Start...\n");
  const uint8_t opcode = FlashRow(row).Read;
  std::vector<uint8_t> buf(kDpAreaA, 0);
  StagedFile one(t.cwd, "DPFWBackup.bin"), all(t.cwd, "DPFWBackupAll.bin");
  auto fail = [&](const char* line) {
    LogPrint(t.out, "%s", line);
    PrintResultBox(t.out, "=    DP_FW_Backup_FAIL.   =\n");
    return 0u;
  };
  if (!one.Open()) return fail("Protection : DPBk1_Open_Fail.\n");
  if (!all.Open()) return fail("Protection : DPBk2_Open_Fail.\n");
  uint8_t end96[4] = {}, end128[4] = {};
  // Without both image ends the layout is a guess: nothing is placed.
  if (SpiReadData(dev, opcode, kDpEnd96, 0, 4, end96) != 1 ||
      SpiReadData(dev, opcode, kDpEnd128, 0, 4, end128) != 1)
    return fail("Protection : SPI_Backup_Read_Fail.\n");
  const DpBackupLayout l = DpLayoutFromFlash(end96, end128, t.set.DPStrapping);
  if (l.kind == 1)
    LogPrint(t.out, "    Should_Be_KMDPA_1.\n");
  else if (l.kind == 2)
    LogPrint(t.out, "    Should_Be_KMDPA_2.\n");
  else
    LogPrint(t.out, "    Should_Be_KMDPB.\n");

  uint32_t result = 0, read = 0;
  for (uint32_t o = 0; o < l.region; o += 32) {
    result = SpiReadData(dev, opcode, l.base + o, o, 32, buf.data());
    if (o % 0x400 == 0)
      LogPrint(t.out, "\r    reading...%02d%%", static_cast<int>(uint64_t{o} * 100 / l.region));
    if (result != 1) {
      LogPrint(t.out, "Protection : SPI_Backup_Read_Fail.\n");
      break;
    }
    read += 32;
  }
  LogPrint(t.out, "%s", kWipeLine);
  // Unread bytes are zeros, and zeros can pass a CRC: a copy counts only when
  // every byte of it came from the flash.
  const bool all_read = read == l.region;
  if (l.image_size <= read && Crc16Trailer(buf.data(), l.image_size))
    LogPrint(t.out, "    Firmware_1_OK ...\n");
  if (l.copy2_offset + l.image_size <= read &&
      Crc16Trailer(buf.data() + l.copy2_offset, l.image_size))
    LogPrint(t.out, "    Firmware_2_OK ...\n");
  // What was read is kept, under a partial name when a read failed.
  one.Write(buf.data(), l.image_size);
  all.Write(buf.data(), l.region);
  const bool first_written = PlaceOutput(t.out, one, all_read);
  if (!PlaceOutput(t.out, all, all_read) || !first_written) result = 0;
  PrintResultBox(t.out,
                 result == 1 ? "=    DP_FW_Backup_PASS.   =\n" : "=    DP_FW_Backup_FAIL.   =\n");
  return result;
}

// A DP converter file has the PD file's header layout.
uint32_t GetDpBinVersion(Tool& t, uint8_t d, bool* accepted) {
  if (accepted) *accepted = false;
  if (d >= t.Dp.size()) return 0;
  DeviceRecord& r = t.Dp[d];
  uint8_t h[16];
  uint8_t marker = 0;
  {
    FilePtr f(t.Open(r.BinPath, "rb"));
    ReadFileAt(f.get(), kPdHeader, h, sizeof h);
    ReadFileAt(f.get(), 0, &marker, 1);
  }
  r.BinVersion = 0;
  const PdHeader header = ParsePdHeader(h);
  const uint16_t vid = header.vid, vid2 = header.vid2;
  if (t.set.DbgMsg) LogPrint(t.out, "    DP_Bin_VID = %04X/%04X\n", vid, vid2);
  if (!IdentityAccepts(vid, vid2, t.set.DP1VID)) {
    LogPrint(t.out, "    DP_Bin_VID = %04X/%04X\n", vid, vid2);
  } else {
    // A missing or empty file passes the identity rule with zeros.
    if (accepted) *accepted = marker == kPdImageMarker;
    r.CurVid = vid;
    r.CurPid = header.pid;
    r.BinVersion = header.version;
    LogPrint(t.out, "%s", kBoxLine);
    LogPrint(t.out, "=    DP[%d] Bin Version is %02X.%02X.%02X.%02X   =\n", d, h[0], h[1], h[2],
             h[3]);
    LogPrint(t.out, "%s", kBoxLine);
  }
  if (r.BinVersion != 0) GetFormalVersion(t, kFormalDpFile, d);
  return r.BinVersion;
}

}  // namespace pdflash
