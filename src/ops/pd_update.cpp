#include "ops/pd_update.h"

#include <vector>

#include "device/registers.h"
#include "flash/parts.h"
#include "flash/spi.h"
#include "flash/verified.h"
#include "image/checksum.h"
#include "image/flash_map.h"
#include "image/pd_image.h"
#include "ops/dp.h"
#include "ops/file_image.h"
#include "ops/vmm6.h"

namespace pdflash {

namespace {

bool IsExpertMode(const RunSettings& s) {
  return s.HubPDShareSPI == 2 || s.PDDPShareSPI == 2 || s.PDVMM6ShareSPI == 2;
}

// Writes the copy that is not valid first and the valid one last, so the
// flash always holds a bootable copy.
uint32_t WriteBothCopies(Tool& t, Device& dev, uint8_t row, const std::vector<uint8_t>& image,
                         uint32_t size) {
  const FlashPart& cmd = FlashRow(row);
  if (WriteFlashStatus(dev, t.set, row, 0x00, t.set.DbgMsg) != 1) {
    LogPrint(t.out, "    Write_SPI_Status_Fail.\n");
    return 0;
  }
  std::vector<uint8_t> device(kPdBackupArea, 0);
  LogPrint(t.out, "    Checking_Current_2wh_Data\n");
  SpiReadData(dev, cmd.Read, kPdCopy1, 0, 32, device.data());
  if (device[0] == 0x05) {
    LogPrint(t.out, "Protection : SPI_Size_Error.\n");
    return 0;
  }
  LogPrint(t.out, "    Check device firmware ...\n");
  for (uint32_t off = 0; off < size; off += 32) {
    if (SpiReadData(dev, cmd.Read, kPdCopy1 + off, off, 32, device.data()) != 1) {
      LogPrint(t.out, "Protection : SPI_Check_Read_Fail.\n");
      return 0;
    }
  }
  bool valid = Crc16Trailer(device.data(), size);
  if (valid) LogPrint(t.out, "    Firmware_1_OK ...\n");
  // A copy of another size the controller boots from is still the one to
  // keep until the end.
  if (!valid && device[0] == 0x02) {
    for (uint32_t off = size & ~31u; off < kPdCopyArea; off += 32) {
      if (SpiReadData(dev, cmd.Read, kPdCopy1 + off, off, 32, device.data()) != 1) {
        LogPrint(t.out, "Protection : SPI_Check_Read_Fail.\n");
        return 0;
      }
    }
    valid = PdImageSize(device.data(), kPdCopyArea) != 0;
  }
  uint32_t first = kPdCopy1, second = PdCopy2(size);
  if (valid) {
    first = PdCopy2(size);
    second = kPdCopy1;
  }
  if (!WriteFirmwareCopy(t, dev, row, first, true, image, size)) return 0;
  if (!WriteFirmwareCopy(t, dev, row, second, false, image, size)) return 0;
  return 1;
}

}  // namespace

// Erases the copy's sectors and writes the image there with read-back.
bool WriteFirmwareCopy(Tool& t, Device& dev, uint8_t row, uint32_t target, bool first,
                       const std::vector<uint8_t>& image, uint32_t size) {
  if (first) AddProgress(t.out, 10);
  LogPrint(t.out, "    Write_FW_to_%X ...\n", target);
  for (uint32_t o = 0; o < size; o += 0x1000) {
    if (VerifiedSectorErase(dev, row, target + o, t.set.DbgMsg) != 1) {
      LogPrint(t.out, first ? "W1_SectorErase_%06X_Fail\n" : "W2_SectorErase_%06X_Fail\n", o);
      return false;
    }
    LogPrint(t.out, "\r    erasing...%02d%%", o * 100 / size);
  }
  LogPrint(t.out, "%s", kWipeLine);
  AddProgress(t.out, 15);
  if (VerifiedWrite(dev, row, target, 0, size, image.data(), t.set.DbgMsg) != 1) {
    LogPrint(t.out, first ? "Write_FW1_Fail\n" : "Write_FW2_Fail\n");
    return false;
  }
  AddProgress(t.out, 30);
  return true;
}

uint32_t PdFwUpdate(Tool& t, Device& dev, uint8_t d, uint8_t row) {
  const RunSettings& s = t.set;
  const uint32_t start = TimeOfDaySeconds(t.out);
  uint32_t result = 0;
  auto final_step = [&]() {
    if (s.LEDFlicker) dev.WriteRegister(reg::kLed, 0, false);
    return EndOperation(t.out, start, result, "=    PD_FW_Update_PASS.   =\n",
                        "=    PD_FW_Update_FAIL.   =\n");
  };

  const bool vmm6_first = t.build.CustomerCode == 3 && s.PDVMM6ShareSPI;
  if (vmm6_first) LogPrint(t.out, "    Plove_Mode\n");
  LogPrint(t.out, "\nPD[%d]_FW_Update_Start...\n", d);
  if (FlashRow(row).SectorErase == 0) {
    LogPrint(t.out, "Protection : SPI_No_SectorErase_CMD.\n");
    return 0;
  }
  if (s.LEDFlicker) dev.WriteRegister(reg::kLed, 1, false);

  // Every file is read and checked before the first write of any of them.
  const bool expert = IsExpertMode(s);
  FirmwareImage pd, vmm6, dp;
  if (!expert && !LoadPdImage(t, d, PdImageUse::Update, pd.bytes, pd.size)) return final_step();
  if (s.PDVMM6ShareSPI && !LoadVmm6Image(t, vmm6)) return final_step();
  if (s.PDDPShareSPI && !LoadDpImage(t, dp)) return final_step();

  if (vmm6_first) {
    result = Vmm6Update(t, dev, row, vmm6);
    if (result != 1) return final_step();
  }
  if (expert) {
    LogPrint(t.out, "Expert_Mode: Only_Update_Share_Device.\n");
    result = 1;
  } else {
    // The companion areas must fit beside the copies about to be written.
    if (s.PDVMM6ShareSPI && !vmm6_first && !Vmm6FlashUsable(t, dev, row)) return final_step();
    if (s.PDDPShareSPI && !DpAreaFits(t, dev, row)) return final_step();
    result = WriteBothCopies(t, dev, row, pd.bytes, pd.size);
    if (result != 1) return final_step();
  }

  if (!vmm6_first && s.PDVMM6ShareSPI) {
    result = Vmm6Update(t, dev, row, vmm6);
    if (result != 1) return final_step();
  }
  if (s.PDDPShareSPI) {
    result = DpFwUpdate(t, dev, row, dp);
    if (result != 1) return final_step();
  }
  if (s.ResetAfterUpdate) dev.VdrWrite(req::kRestart, s.DbgMsg != 0);
  return final_step();
}

}  // namespace pdflash
