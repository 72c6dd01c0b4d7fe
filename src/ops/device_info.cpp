#include "ops/device_info.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/files.h"
#include "flash/parts.h"
#include "flash/spi.h"
#include "flash/verified.h"
#include "image/device_info.h"

namespace pdflash {

namespace {

// n bytes of the zone, 32 per request.
bool ReadZone(Tool& t, Device& dev, uint8_t row, uint8_t* buf, uint32_t n) {
  if (SpiReadPieces(dev, FlashRow(row).Read, kDeviceInfoSector, 0, n, buf)) return true;
  LogPrint(t.out, "Read Fail.\n");
  return false;
}

void DumpZone(Tool& t, const uint8_t* z) {
  LogPrint(t.out, "  ----- SPI[%06X] -----\n", kDeviceInfoSector);
  for (uint32_t o = 0; o < kDeviceInfoFieldBytes; o += 8)
    LogPrint(t.out, "  RdData[%02X]:%02X,%02X,%02X,%02X - %02X,%02X,%02X,%02X\n", o, z[o], z[o + 1],
             z[o + 2], z[o + 3], z[o + 4], z[o + 5], z[o + 6], z[o + 7]);
  LogPrint(t.out, "  -----  -----\n");
}

enum class Kept { None, Same, Restorable, Blank, Other };

// The kept file: the sector as read, then as the write meant it.
constexpr uint32_t kKeptBytes = 2 * kDeviceInfoSectorSize;

// What the kept file says about the sector as read.
Kept JudgeKeptFile(Tool& t, const std::vector<uint8_t>& sector, std::vector<uint8_t>& kept) {
  if (!t.host.PathExists(t.Resolve(kKeptInfoSector))) return Kept::None;
  FilePtr f(t.Open(kKeptInfoSector, "rb"));
  if (!f || FileLength(f.get()) != kKeptBytes) return Kept::Other;
  kept.assign(kKeptBytes, 0);
  if (ReadFileAt(f.get(), 0, kept.data(), kept.size()) != kept.size()) return Kept::Other;
  if (std::equal(sector.begin(), sector.end(), kept.begin())) return Kept::Same;
  // Erased fields fit a cut right after the erase, but just as well a unit
  // never written: putting the file back could give it another unit's
  // identity.
  auto erased = [](auto from, auto to) {
    return std::all_of(from, to, [](uint8_t b) { return b == 0xFF; });
  };
  if (erased(sector.begin(), sector.begin() + kDeviceInfoFieldBytes) &&
      !erased(kept.begin(), kept.begin() + kDeviceInfoSectorSize))
    return Kept::Blank;
  return LooksLikeCutRewrite(sector.data(), kept.data(), kept.data() + kDeviceInfoSectorSize)
             ? Kept::Restorable
             : Kept::Other;
}

bool WriteAt(Tool& t, const char* mode, long at, const uint8_t* data, size_t n) {
  FILE* f = t.Open(kKeptInfoSector, mode);
  if (!f) return false;
  const bool written = std::fseek(f, at, SEEK_SET) == 0 && WriteWholeFile(f, data, n);
  return std::fclose(f) == 0 && written;
}

void Modify(std::vector<uint8_t>& sector, uint8_t code, uint32_t offset, uint32_t length,
            const uint8_t* value) {
  if (code == kClearInfoCode)
    std::fill_n(sector.begin() + offset, length, 0xFF);
  else
    std::memcpy(sector.data() + offset, value, length);
}

// Before the erase: the sector (put back from the kept file when a cut write
// left it) and what this write makes of it are in the kept file. False
// (with its line) when the erase must not happen.
bool SecureSector(Tool& t, std::vector<uint8_t>& sector, std::vector<uint8_t>& meant, uint8_t code,
                  uint32_t offset, uint32_t length, const uint8_t* value) {
  std::vector<uint8_t> kept;
  const Kept judged = JudgeKeptFile(t, sector, kept);
  if (judged == Kept::Other) {
    // Another unit's fields, or the user's own file: never overwritten.
    LogPrint(t.out, "Protection : Info_Keep_File_In_Use: %s\n", kKeptInfoSector);
    return false;
  }
  if (judged == Kept::Blank) {
    LogPrint(t.out, "Protection : Info_Sector_Blank_Keep_File: %s\n", kKeptInfoSector);
    return false;
  }
  if (judged == Kept::Restorable) {
    LogPrint(t.out, "    Info_Sector_Restored_From: %s\n", kKeptInfoSector);
    sector.assign(kept.begin(), kept.begin() + kDeviceInfoSectorSize);
  }
  meant = sector;
  Modify(meant, code, offset, length, value);
  // A file being restored from keeps its first half untouched.
  std::vector<uint8_t> both = sector;
  both.insert(both.end(), meant.begin(), meant.end());
  const bool done = judged == Kept::Restorable
                        ? WriteAt(t, "r+b", kDeviceInfoSectorSize, meant.data(), meant.size())
                        : WriteAt(t, "wb", 0, both.data(), both.size());
  if (!done) LogPrint(t.out, "Protection : Info_Keep_File_Fail: %s\n", kKeptInfoSector);
  return done;
}

void PrintField(Tool& t, const uint8_t* zone, const DeviceInfoField& f) {
  if (f.text)
    LogPrint(t.out, "%s", InfoFieldText(zone, f, f.length / 2, 0x7E).c_str());
  else
    LogPrint(t.out, "%02X%02X", zone[f.offset], zone[f.offset + 1]);
}

void WriteBbInfo(Tool& t, const uint8_t* zone) {
  // A file that cannot be created is skipped; one that cannot be written
  // whole is named, and the previous one stays.
  StagedFile f(t.cwd, "BBInfo.Txt");
  if (!f.Open("w")) return;
  const std::string text = BbInfoText(zone);
  f.Write(text.data(), text.size());
  if (!f.Commit()) PrintWriteFailure(t.out, f.name());
}

}  // namespace

uint32_t WriteDeviceInfo(Tool& t, Device& dev, uint8_t d, uint8_t row, uint8_t code,
                         const uint8_t* value) {
  const RunSettings& s = t.set;
  LogPrint(t.out, "    Write_PD[%d]_Info_Exe (%X)\n", d, code);
  if (CheckFlashSize(dev, s, 0x40000, 0x20000, s.DbgMsg) != 1) {
    LogPrint(t.out, "    Size_Not_256KB.\n");
    return 0;
  }
  if (WriteFlashStatus(dev, s, kDefaultFlashRow, 0x00, s.DbgMsg) != 1) {
    LogPrint(t.out, "    Write_SPI_Status_Fail.\n");
    return 0;
  }
  uint32_t offset = kClearOffset, length = kClearLength;
  if (code != kClearInfoCode) {
    const DeviceInfoField* f = InfoFieldForWrite(code);
    if (!f) return 0;
    offset = f->offset;
    length = f->length;
  }
  std::vector<uint8_t> sector(kDeviceInfoSectorSize, 0);
  if (!ReadZone(t, dev, row, sector.data(), kDeviceInfoSectorSize)) return 0;
  if (s.DbgMsg) DumpZone(t, sector.data());
  std::vector<uint8_t> meant;
  if (!SecureSector(t, sector, meant, code, offset, length, value)) return 0;
  sector = meant;

  // An erase that does not verify is left to the write's read-back to judge.
  VerifiedSectorErase(dev, row, kDeviceInfoSector, s.DbgMsg);
  if (s.DbgMsg) {
    LogPrint(t.out, "WriteInfo_Data[0x%X]:\n", offset);
    for (uint32_t i = 0; i < length; ++i) LogPrint(t.out, "%02X \n", sector[offset + i]);
    LogPrint(t.out, "\n");
  }
  const uint32_t result =
      VerifiedWrite(dev, row, kDeviceInfoSector, 0, kDeviceInfoSectorSize, sector.data(), s.DbgMsg);
  if (result == 1)
    std::remove(t.Resolve(kKeptInfoSector).c_str());
  else
    LogPrint(t.out, "    Info_Sector_Kept_In: %s\n", kKeptInfoSector);
  return result;
}

uint32_t CheckDeviceInfo(Tool& t, Device& dev, uint8_t d, uint8_t row, uint8_t code,
                         const uint8_t* expected) {
  LogPrint(t.out, "    Check_PD[%d]_Info_Exe (%X)\n", d, code);
  const DeviceInfoField* f = InfoFieldForCheck(code);
  if (!f) return 0;
  uint8_t zone[kDeviceInfoFieldBytes] = {};
  if (!ReadZone(t, dev, row, zone, sizeof zone)) return 0;
  if (expected[0] == 0) {
    LogPrint(t.out, "%s", kBoxLine);
    LogPrint(t.out, "=   Information_in_flash:");
    PrintField(t, zone, *f);
    LogPrint(t.out, "\n%s", kBoxLine);
    return 1;
  }
  if (t.set.DbgMsg) DumpZone(t, zone);
  LogPrint(t.out, "%s", kBoxLine);
  LogPrint(t.out, "=   Information_in_Flash:");
  PrintField(t, zone, *f);
  LogPrint(t.out, "\n%s", kBoxLine);
  WriteBbInfo(t, zone);
  if (std::memcmp(zone + f->offset, expected, f->length) != 0) {
    LogPrint(t.out, "Compare Error.\n");
    return 0;
  }
  LogPrint(t.out, "    Compare Match.\n");
  return 1;
}

}  // namespace pdflash
