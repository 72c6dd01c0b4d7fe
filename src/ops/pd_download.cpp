#include "ops/pd_download.h"

#include <algorithm>
#include <vector>

#include "device/registers.h"
#include "flash/parts.h"
#include "flash/spi.h"
#include "flash/verified.h"
#include "image/flash_map.h"
#include "ops/dp.h"
#include "ops/file_image.h"

namespace pdflash {

namespace {

// Write enable, status 0, write enable, chip erase, then the fixed pause the
// erase needs before it is polled. Each failing request prints its own line.
bool StartChipErase(Device& dev, uint8_t row) {
  const FlashPart& cmd = FlashRow(row);
  if (SpiCommand(dev, cmd.WriteEnable) != 1) return false;
  if (SpiWriteStatus(dev, cmd.WriteStatus, 0x00) != 1) return false;
  if (SpiCommand(dev, cmd.WriteEnable) != 1) return false;
  if (SpiChipErase(dev, cmd.ChipErase) != 1) return false;
  dev.clock.SleepMs(8000);
  return true;
}

bool WaitChipErase(Device& dev, uint8_t row) {
  return SpiWaitReady(dev, FlashRow(row).ReadStatus, true) == 1;
}

bool AllBlank(const uint8_t* b, size_t n) {
  return std::all_of(b, b + n, [](uint8_t v) { return v == 0xFF; });
}

// First 32 bytes of every 4 KiB sector from base over length.
bool BlankCheck(Device& dev, uint8_t row, uint32_t base, uint32_t length, const char* read_error) {
  uint8_t piece[32];
  for (uint32_t o = 0; o < length; o += 0x1000) {
    if (SpiReadData(dev, FlashRow(row).Read, base + o, 0, 32, piece) != 1) {
      LogPrint(dev.out, "%s", read_error);
      return false;
    }
    if (!AllBlank(piece, sizeof piece)) {
      LogPrint(dev.out, "CeRdCmp_Cmp_Error\n");
      return false;
    }
  }
  return true;
}

}  // namespace

uint32_t PdFwDownload(Tool& t, Device& dev, uint8_t d, uint8_t row) {
  const RunSettings& s = t.set;
  const uint32_t start = TimeOfDaySeconds(t.out);
  uint32_t result = 0;
  auto finish = [&] {
    return EndOperation(t.out, start, result, "=   PD_FW_Download_PASS.  =\n",
                        "=   PD_FW_Download_FAIL.  =\n");
  };
  LogPrint(t.out, "\nPD[%d]_FW_Download_Start...\n", d);
  if (s.PDVMM6ShareSPI) {
    LogPrint(t.out, "\nVMM_Not_Support_Download_Mode.\n");
    return finish();
  }

  std::vector<uint8_t> image;
  uint32_t size = 0;
  if (!LoadPdImage(t, d, PdImageUse::Download, image, size)) return finish();
  // The DP file is checked before the chip erase takes every copy away.
  FirmwareImage dp;
  if (s.PDDPShareSPI && !LoadDpImage(t, dp)) return finish();

  AddProgress(t.out, 10);
  if (WriteFlashStatus(dev, t.set, row, 0x00, s.DbgMsg) != 1) {
    LogPrint(t.out, "    Write_SPI_Status_Fail.\n");
    return finish();
  }
  LogPrint(t.out, "  Chip Erase ...\n");
  if (!StartChipErase(dev, row)) return finish();
  AddProgress(t.out, 20);
  if (!WaitChipErase(dev, row)) return LogPrint(t.out, "CeRdCmp_Wait_Fail\n"), finish();
  LogPrint(t.out, "  Check Empty ...\n");
  if (!BlankCheck(dev, row, kPdCopy1, size, "CeRdCmp_Rd_Error\n")) return finish();
  AddProgress(t.out, 20);
  LogPrint(t.out, "  Write_FW_to_%X ...\n", kPdCopy1);
  result = VerifiedWrite(dev, row, kPdCopy1, 0, size, image.data(), s.DbgMsg);
  if (result != 1) {
    LogPrint(t.out, "Write_FW1_Fail\n");
    return finish();
  }
  AddProgress(t.out, 50);
  if (s.PDDPShareSPI) result = DpFwUpdate(t, dev, row, dp);
  if (result == 1 && s.ResetAfterUpdate) dev.VdrWrite(req::kRestart, s.DbgMsg != 0);
  return finish();
}

uint32_t PdCleanFlash(Tool& t, Device& dev, uint8_t d, uint8_t mode, uint8_t row) {
  const uint32_t start = TimeOfDaySeconds(t.out);
  uint32_t result = 0;
  auto finish = [&] {
    return EndOperation(t.out, start, result, "=   PD_Clean_Flash_Done.  =\n",
                        "=  PD_Clean_Flash_Failed. =\n");
  };
  LogPrint(t.out, "\nPD[%d]_Clean_Flash_Mode_%X_Start...\n", d, mode);
  LogPrint(t.out, "    Are you sure to clean all? 'Y' to continue, others to quit.");
  LogPrint(t.out, "    Enter 'Y' to continue, others to quit... ");
  // No input at all (a closed or empty standard input) counts as no.
  const int answer = ConsoleReadChar(t.out);
  if (answer != 'Y' && answer != 'y') return finish();
  LogPrint(t.out, "\n");
  if (WriteFlashStatus(dev, t.set, row, 0x00, 0) != 1) {
    LogPrint(t.out, "    Write_SPI_Status_Fail.\n");
    return finish();
  }
  AddProgress(t.out, 10);
  LogPrint(t.out, "  Chip Erase ...\n");
  if (!StartChipErase(dev, row)) return finish();
  if (!WaitChipErase(dev, row)) return LogPrint(t.out, "Clean_Erase_Wait_Fail\n"), finish();
  AddProgress(t.out, 80);
  LogPrint(t.out, "  Check Empty ...\n");
  // Every byte of the range it calls clean, whatever the mode: data left in
  // a protected sector past its first bytes is still data.
  uint8_t piece[32];
  for (uint32_t s = 0; s < 0x40000; s += 0x1000) {
    for (uint32_t o = 0; o < 0x1000; o += 32) {
      if (SpiReadData(dev, FlashRow(row).Read, s + o, 0, 32, piece) != 1) {
        LogPrint(t.out, "CeRdCmp_Rd_Error.\n");
        return finish();
      }
      if (!AllBlank(piece, sizeof piece)) {
        LogPrint(t.out, "Clean_Flash_%06X_Not_0xFF\n", s + o);
        return finish();
      }
    }
  }
  AddProgress(t.out, 10);
  result = 1;
  return finish();
}

uint32_t ImageDownload(Tool& t, Device& dev, uint8_t d, uint8_t mode, uint8_t row) {
  const uint32_t start = TimeOfDaySeconds(t.out);
  uint32_t result = 0;
  auto finish = [&] {
    return EndOperation(t.out, start, result, "=   Image_Download_PASS.  =\n",
                        "=   Image_Download_FAIL.  =\n");
  };
  LogPrint(t.out, "\nDev[%d]_Download_Image_Mode_%d_Start...\n", d, mode);
  std::vector<uint8_t> image;
  uint32_t size = 0;
  uint64_t length = 0;
  const FileRead read = ReadFirmwareFile(t, t.Pd[d].BinPath, 0x400000, image, size, &length);
  if (read == FileRead::OpenFailed)
    return LogPrint(t.out, "Protection : FW_Open_Fail.\n"), finish();
  if (read == FileRead::TooLarge)
    return LogPrint(t.out, "Protection : Image_Size_%dK_Over.\n", SizeKib(length)), finish();
  // An empty image would only erase the chip: refuse it before that.
  if (size == 0) return LogPrint(t.out, "Protection : FW_Size_%dK_Error.\n", 0), finish();

  AddProgress(t.out, 5);
  if (WriteFlashStatus(dev, t.set, row, 0x00, t.set.DbgMsg) != 1) {
    LogPrint(t.out, "    Write_SPI_Status_Fail.\n");
    return finish();
  }
  LogPrint(t.out, "  Chip Erase ...\n");
  if (!StartChipErase(dev, row)) return finish();
  AddProgress(t.out, 10);
  if (!WaitChipErase(dev, row)) return LogPrint(t.out, "CeRdCmp_Wait_Fail\n"), finish();
  LogPrint(t.out, "  Check Empty ...\n");
  if (!BlankCheck(dev, row, 0, size, "CeRdCmp_Rd_Error.\n")) return finish();
  AddProgress(t.out, 5);
  LogPrint(t.out, "  Download_Image_From_0x00 ...\n");
  // One verified write covers at most 1 MiB; a larger image goes in pieces.
  result = 1;
  for (uint32_t done = 0; result == 1 && done < size; done += kMaxVerifiedWrite) {
    const uint32_t piece = std::min(size - done, kMaxVerifiedWrite);
    result = VerifiedWrite(dev, row, done, done, piece, image.data(), t.set.DbgMsg);
  }
  if (result != 1) {
    LogPrint(t.out, "Download_Image_Fail\n");
    return finish();
  }
  AddProgress(t.out, 80);
  return finish();
}

}  // namespace pdflash
