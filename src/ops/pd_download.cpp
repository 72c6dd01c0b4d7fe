#include "ops/pd_download.h"

#include <algorithm>
#include <vector>

#include "app/log.h"
#include "device/vendor.h"
#include "flash/spi.h"
#include "flash/verified.h"
#include "core/bytes.h"
#include "image/checksum.h"
#include "ops/companion.h"
#include "ops/file_image.h"
#include "ops/pd_file.h"
#include "ops/pd_update.h"

namespace pdflash {

namespace {

// Write enable, status 0, write enable, chip erase, then the fixed pause the
// erase needs before it is polled. Each failing request prints its own line.
bool StartChipErase(Tool& t, UsbLink& h, uint8_t row) {
  const FlashCommands& cmd = FlashRow(row);
  if (SpiCommand(t, h, cmd.WriteEnable) != 1) return false;
  if (SpiWriteStatus(t, h, cmd.WriteStatus, 0x00) != 1) return false;
  if (SpiCommand(t, h, cmd.WriteEnable) != 1) return false;
  if (SpiChipErase(t, h, cmd.ChipErase) != 1) return false;
  t.clock.SleepMs(8000);
  return true;
}

bool WaitChipErase(Tool& t, UsbLink& h, uint8_t row) {
  return SpiWaitReady(t, h, FlashRow(row).ReadStatus, true) == 1;
}

bool AllBlank(const uint8_t* b, size_t n) {
  return std::all_of(b, b + n, [](uint8_t v) { return v == 0xFF; });
}

// First 32 bytes of every 4 KiB sector from base over length.
bool BlankCheck(Tool& t, UsbLink& h, uint8_t row, uint32_t base, uint32_t length,
                const char* read_error) {
  uint8_t piece[32];
  for (uint32_t o = 0; o < length; o += 0x1000) {
    if (SpiReadData(t, h, FlashRow(row).Read, base + o, 0, 32, piece) != 1) {
      LogPrint(t, "%s", read_error);
      return false;
    }
    if (!AllBlank(piece, sizeof piece)) {
      LogPrint(t, "CeRdCmp_Cmp_Error\n");
      return false;
    }
  }
  return true;
}

}  // namespace

uint32_t PdFwDownload(Tool& t, UsbLink& h, uint8_t d, uint8_t row) {
  const RunSettings& s = t.set;
  const uint32_t start = TimeOfDaySeconds(t);
  uint32_t result = 0;
  auto finish = [&] {
    return EndOperation(t, start, result, "=   PD_FW_Download_PASS.  =\n",
                        "=   PD_FW_Download_FAIL.  =\n");
  };
  LogPrint(t, "\nPD[%d]_FW_Download_Start...\n", d);
  if (s.PDVMM6ShareSPI) {
    LogPrint(t, "\nVMM_Not_Support_Download_Mode.\n");
    return finish();
  }
  if (!CompanionUpdatesAvailable(t)) return finish();

  std::vector<uint8_t> image;
  uint32_t size = 0;
  const FileRead read = ReadFirmwareFile(t, t.Pd[d].BinPath, 0x20000, image, size);
  if (read == FileRead::OpenFailed) return LogPrint(t, "Protection : FW_Open_Fail.\n"), finish();
  if (read == FileRead::TooLarge)
    return LogPrint(t, "Protection : FW_Size_%dK_Over.\n", size >> 10), finish();
  if (image[0] != 0x02) return LogPrint(t, "Protection : PDFW_Data[0]_Error.\n"), finish();
  if (CheckPdBin(t, d, image[0x1003], size) != 1) {
    LogPrint(t, "Protection: Bin_Not_Match:PID=%04X, FID=%X, Size=%04X\n", t.Pd[d].CurPid,
             image[0x1003] & 0x0F, size);
    return finish();
  }
  if (!ImageCrcMatches(t, image, size)) return finish();

  AddProgress(t, 10);
  if (WriteFlashStatus(t, h, row, 0x00, s.DbgMsg) != 1) {
    LogPrint(t, "    Write_SPI_Status_Fail.\n");
    return finish();
  }
  LogPrint(t, "  Chip Erase ...\n");
  if (!StartChipErase(t, h, row)) return finish();
  AddProgress(t, 20);
  if (!WaitChipErase(t, h, row)) return LogPrint(t, "CeRdCmp_Wait_Fail\n"), finish();
  LogPrint(t, "  Check Empty ...\n");
  if (!BlankCheck(t, h, row, kPdCopy1, size, "CeRdCmp_Rd_Error\n")) return finish();
  AddProgress(t, 20);
  LogPrint(t, "  Write_FW_to_%X ...\n", kPdCopy1);
  result = VerifiedWrite(t, h, row, kPdCopy1, 0, size, image.data(), s.DbgMsg);
  if (result != 1) {
    LogPrint(t, "Write_FW1_Fail\n");
    return finish();
  }
  AddProgress(t, 50);
  if (s.PDDPShareSPI) result = DpFwUpdate(t, h, row);
  if (result == 1 && s.ResetAfterUpdate) VdrWrite(t, h, 0xB0, s.DbgMsg != 0);
  return finish();
}

uint32_t PdCleanFlash(Tool& t, UsbLink& h, uint8_t d, uint8_t mode, uint8_t row) {
  const uint32_t start = TimeOfDaySeconds(t);
  uint32_t result = 0;
  auto finish = [&] {
    return EndOperation(t, start, result, "=   PD_Clean_Flash_Done.  =\n",
                        "=  PD_Clean_Flash_Failed. =\n");
  };
  LogPrint(t, "\nPD[%d]_Clean_Flash_Mode_%X_Start...\n", d, mode);
  LogPrint(t, "    Are you sure to clean all? 'Y' to continue, others to quit.");
  LogPrint(t, "    Enter 'Y' to continue, others to quit... ");
  // No input at all (a closed or empty standard input) counts as no.
  const int answer = ConsoleReadChar(t);
  if (answer != 'Y' && answer != 'y') return finish();
  LogPrint(t, "\n");
  if (WriteFlashStatus(t, h, row, 0x00, 0) != 1) {
    LogPrint(t, "    Write_SPI_Status_Fail.\n");
    return finish();
  }
  AddProgress(t, 10);
  LogPrint(t, "  Chip Erase ...\n");
  if (!StartChipErase(t, h, row)) return finish();
  if (!WaitChipErase(t, h, row)) return LogPrint(t, "Clean_Erase_Wait_Fail\n"), finish();
  AddProgress(t, 80);
  LogPrint(t, "  Check Empty ...\n");
  const uint32_t per_sector = mode == 0x0A ? 0x1000 : 32;
  uint8_t piece[32];
  for (uint32_t s = 0; s < 0x40000; s += 0x1000) {
    for (uint32_t o = 0; o < per_sector; o += 32) {
      if (SpiReadData(t, h, FlashRow(row).Read, s + o, 0, 32, piece) != 1) {
        LogPrint(t, "CeRdCmp_Rd_Error.\n");
        return finish();
      }
      if (!AllBlank(piece, sizeof piece)) {
        LogPrint(t, "Clean_Flash_%06X_Not_0xFF\n", s + o);
        return finish();
      }
    }
  }
  AddProgress(t, 10);
  result = 1;
  return finish();
}

uint32_t ImageDownload(Tool& t, UsbLink& h, uint8_t d, uint8_t mode, uint8_t row) {
  const uint32_t start = TimeOfDaySeconds(t);
  uint32_t result = 0;
  auto finish = [&] {
    return EndOperation(t, start, result, "=   Image_Download_PASS.  =\n",
                        "=   Image_Download_FAIL.  =\n");
  };
  LogPrint(t, "\nDev[%d]_Download_Image_Mode_%d_Start...\n", d, mode);
  std::vector<uint8_t> image;
  uint32_t size = 0;
  const FileRead read = ReadFirmwareFile(t, t.Pd[d].BinPath, 0x400000, image, size);
  if (read == FileRead::OpenFailed) return LogPrint(t, "Protection : FW_Open_Fail.\n"), finish();
  if (read == FileRead::TooLarge)
    return LogPrint(t, "Protection : Image_Size_%dK_Over.\n", size >> 10), finish();
  // An empty image would only erase the chip: refuse it before that.
  if (size == 0) return LogPrint(t, "Protection : FW_Size_%dK_Error.\n", 0), finish();

  AddProgress(t, 5);
  if (WriteFlashStatus(t, h, row, 0x00, t.set.DbgMsg) != 1) {
    LogPrint(t, "    Write_SPI_Status_Fail.\n");
    return finish();
  }
  LogPrint(t, "  Chip Erase ...\n");
  if (!StartChipErase(t, h, row)) return finish();
  AddProgress(t, 10);
  if (!WaitChipErase(t, h, row)) return LogPrint(t, "CeRdCmp_Wait_Fail\n"), finish();
  LogPrint(t, "  Check Empty ...\n");
  if (!BlankCheck(t, h, row, 0, size, "CeRdCmp_Rd_Error.\n")) return finish();
  AddProgress(t, 5);
  LogPrint(t, "  Download_Image_From_0x00 ...\n");
  // One verified write covers at most 1 MiB; a larger image goes in pieces.
  result = 1;
  for (uint32_t done = 0; result == 1 && done < size; done += kMaxVerifiedWrite) {
    const uint32_t piece = std::min(size - done, kMaxVerifiedWrite);
    result = VerifiedWrite(t, h, row, done, done, piece, image.data(), t.set.DbgMsg);
  }
  if (result != 1) {
    LogPrint(t, "Download_Image_Fail\n");
    return finish();
  }
  AddProgress(t, 80);
  return finish();
}

}  // namespace pdflash
