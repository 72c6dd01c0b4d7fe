#include "ops/pd_backup.h"

#include <cstdio>
#include <optional>
#include <vector>

#include "core/files.h"
#include "device/controller.h"
#include "device/registers.h"
#include "flash/parts.h"
#include "flash/port.h"
#include "flash/spi.h"
#include "image/checksum.h"
#include "image/flash_map.h"
#include "ops/dp.h"
#include "ops/vmm6.h"

namespace pdflash {

namespace {

constexpr uint32_t kMegabit = 0x20000;

// The image size a backup judges: the chip whose code the current PID is.
uint32_t BackupImageSize(uint16_t pid) {
  const Controller* chip = ControllerByChip(pid);
  return chip ? chip->backup_size : kPdCopyArea;
}

// Reads size bytes from flash address 0 in 32-byte pieces with the reading
// line; stops at the first failed piece unless told to go on. Returns the
// last piece's result (0 for an empty range); `all_read` whether every piece
// came.
uint32_t ReadRange(Tool& t, Device& dev, uint8_t row, uint32_t size, std::vector<uint8_t>& buf,
                   bool stop_at_failure, bool& all_read) {
  uint32_t result = 0;
  all_read = true;
  for (uint32_t o = 0; o < size; o += 32) {
    result = SpiReadData(dev, FlashRow(row).Read, o, o, 32, buf.data());
    if (o % 0x400 == 0)
      LogPrint(t.out, "\r    reading...%02d%%", static_cast<int>(uint64_t{o} * 100 / size));
    if (result != 1) {
      LogPrint(t.out, "Protection : SPI_Backup_Read_Fail.\n");
      all_read = false;
      if (stop_at_failure) break;
    }
  }
  LogPrint(t.out, "%s", kWipeLine);
  return result;
}

// Reads `size` bytes from flash address 0 into the named file; the result is
// the last read's (0 when the file cannot be written or a piece is missing).
// False when the file cannot be created.
bool DumpToFile(Tool& t, Device& dev, uint8_t row, const char* name, uint32_t size,
                bool stop_at_failure, uint32_t& result) {
  StagedFile file(t.cwd, name);
  if (!file.Open()) return false;
  std::vector<uint8_t> buf(size, 0xFF);
  bool all_read = false;
  result = ReadRange(t, dev, row, size, buf, stop_at_failure, all_read);
  // A dump with holes in it is not a dump of the flash.
  if (!all_read) result = 0;
  LogPrint(t.out, "    Write_to_File: %s\n", name);
  file.Write(buf.data(), size);
  if (!PlaceOutput(t.out, file, result == 1)) result = 0;
  return true;
}

}  // namespace

uint32_t PdFwBackup(Tool& t, Device& dev, uint8_t d, uint8_t row) {
  const uint32_t start = TimeOfDaySeconds(t.out);
  uint32_t result = 0;
  LogPrint(t.out, "\nPD[%d]_FW_Backup_Start...\n", d);
  std::vector<uint8_t> buf(kPdBackupArea, 0);
  StagedFile one(t.cwd, "PDFWBackup.bin"), all(t.cwd, "PDFWBackupAll.bin");
  if (!one.Open()) {
    LogPrint(t.out, "Protection : Bk1_Open_Fail.\n");
  } else if (!all.Open()) {
    LogPrint(t.out, "Protection : Bk2_Open_Fail.\n");
  } else {
    const uint32_t n = BackupImageSize(t.Pd[d].CurPid);
    uint32_t read = 0;  // bytes read from the start of the area
    for (uint32_t i = 0; i < kPdBackupArea / 32; ++i) {
      const uint32_t r =
          SpiReadData(dev, FlashRow(row).Read, kPdCopy1 + 32 * i, 32 * i, 32, buf.data());
      if ((32 * i) % 0x400 == 0) LogPrint(t.out, "\r    reading...%02d%%", (i * 3200) >> 17);
      result = r;
      if (r != 1) {
        LogPrint(t.out, "Protection : SPI_Backup_Read_Fail.\n");
        break;
      }
      read += 32;
    }
    LogPrint(t.out, "%s", kWipeLine);
    const bool all_read = read == kPdBackupArea;
    // Unread bytes are zeros, and zeros can pass a CRC: a copy counts only
    // when every byte of it came from the flash.
    const uint32_t copy2 = PdCopy2(n) - kPdCopy1;
    if (n <= read && Crc16Trailer(buf.data(), n)) LogPrint(t.out, "    Firmware_1_OK ...\n");
    if (copy2 + n <= read && Crc16Trailer(buf.data() + copy2, n))
      LogPrint(t.out, "    Firmware_2_OK ...\n");
    // What was read is kept even after a failed read, beside the last good backup.
    one.Write(buf.data(), n);
    all.Write(buf.data(), kPdBackupArea);
    const bool first_written = PlaceOutput(t.out, one, all_read);
    const bool written = PlaceOutput(t.out, all, all_read) && first_written;
    if (!written) result = 0;
    if (all_read && written) {
      if (t.set.PDVMM6ShareSPI) result = Vmm6Backup(t, dev, row);
      if ((!t.set.PDVMM6ShareSPI || result == 1) && t.set.PDDPShareSPI)
        result = DpFwBackup(t, dev, row);
    }
  }
  return EndOperation(t.out, start, result, "=    PD_FW_Backup_PASS.   =\n",
                      "=    PD_FW_Backup_FAIL.   =\n");
}

uint32_t PdFlashDump(Tool& t, Device& dev, uint8_t flash, uint8_t megabits, uint8_t row) {
  const uint32_t start = TimeOfDaySeconds(t.out);
  LogPrint(t.out, "\nPD[%d]_Flash_Dump_%dM_Bits_Start...\n", flash, megabits);
  const uint32_t size = megabits * kMegabit;
  if (size > 0x1000000) {
    LogPrint(t.out, "Protection : FlashDump_Size_%dK_Over.\n", size >> 10);
    return 0;
  }
  uint32_t result = 0;
  char name[64];
  FormatText(name, sizeof name, "PDFlash%dDump.bin", flash);
  if (!DumpToFile(t, dev, row, name, size, true, result))
    LogPrint(t.out, "Protection : FlashDump_Open_Fail.\n");
  PrintUseTime(t.out, start);
  char line[40];
  FormatText(line, sizeof line,
             result == 1 ? "=    PD_Flash%d_Dump_OK.   =\n" : "=   PD_Flash%d_Dump_FAIL.  =\n",
             flash);
  PrintResultBox(t.out, line);
  return result;
}

uint32_t PdFlashDump2(Tool& t, Device& dev, uint8_t d, uint8_t megabits, uint8_t row) {
  const uint32_t start = TimeOfDaySeconds(t.out);
  LogPrint(t.out, "\nPD[%d]_Flash_Dump2_%dM_Bits_Start...\n", d, megabits);
  const uint32_t size = megabits * kMegabit;
  if (size > 0x800000) {
    LogPrint(t.out, "Protection : FlashDump_Size_%dK_Over.\n", size >> 10);
    return 0;
  }
  uint32_t result = 0;
  const bool echo = t.set.DbgMsg != 0;
  uint8_t identity = 0;
  dev.ReadRegister(reg::kIdentity, identity, echo);
  bool known = false;
  const Controller* chip = ControllerByChip(ProjectIdFromIdentity(identity, known) >> 16);
  std::optional<SecondFlash> second;
  if (!known || !chip->second_spi) {
    LogPrint(t.out, "Protection : Not_ZIRUR_Chip.\n");
  } else {
    second.emplace(dev, echo);
    if (!second->Selected())
      LogPrint(t.out, "Protection : Select_2nd_SPI_Fail.\n");
    else if (!DumpToFile(t, dev, row, "PDFlash2Dump.bin", size, false, result))
      LogPrint(t.out, "Protection : Flash2Dump_Open_Fail.\n");
  }
  PrintUseTime(t.out, start);
  // The first flash is selected again on every path.
  if (second)
    second->Restore();
  else
    SelectFirstFlash(dev, echo);
  PrintResultBox(t.out,
                 result == 1 ? "=    PD_Flash2_Dump_OK.   =\n" : "=   PD_Flash2_Dump_FAIL.  =\n");
  return result;
}

}  // namespace pdflash
