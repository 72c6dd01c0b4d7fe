#include "ops/pd_update.h"

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

namespace pdflash {

namespace {

constexpr uint32_t kFileLimit = 0x20000;
// Copy 2 starts 0x10000 after copy 1 for every image above 32 KiB, so a
// larger image would overwrite the other copy while it is being written.
constexpr uint32_t kCopyArea = 0x10000;
constexpr uint16_t kLedRegister = 0x2A16;

bool IsExpertMode(const RunSettings& s) {
  return s.HubPDShareSPI == 2 || s.PDDPShareSPI == 2 || s.PDVMM6ShareSPI == 2;
}

// Reads and checks the file; nothing on the device changes here.
bool LoadImage(Tool& t, uint8_t d, std::vector<uint8_t>& image, uint32_t& size) {
  const FileRead read = ReadFirmwareFile(t, t.Pd[d].BinPath, kFileLimit, image, size);
  if (read == FileRead::OpenFailed) return LogPrint(t, "Protection : FW_Open_Fail.\n"), false;
  if (read == FileRead::TooLarge || size > kCopyArea)
    return LogPrint(t, "Protection : PDFW_Size_%dK_Over.\n", size >> 10), false;
  if (image[0] != 0x02) return LogPrint(t, "Protection : PDFW_Data[0]_Error.\n"), false;
  if (CheckPdBin(t, d, image[0x1003], size) != 1) {
    LogPrint(t, "Protection: Bin_Not_Match:PJID=%08X, FID=%X, Size=%04X\n", t.Pd[d].ProjectId,
             image[0x1003] & 0x0F, size);
    return false;
  }
  if (t.set.NoDowngrade) {
    GetPdBinVersion(t, d);
    const DeviceRecord& r = t.Pd[d];
    if ((r.BinVersion & 0xFF00) < (r.FwVersion & 0xFF00)) {
      LogPrint(t, "No_Downgrade, Bin=%08X, Dev=%08X\n", r.BinVersion, r.FwVersion);
      return false;
    }
  }
  return ImageCrcMatches(t, image, size);
}

// Erases the copy's sectors and writes the image there with read-back.
bool WriteCopy(Tool& t, UsbLink& h, uint8_t row, uint32_t target, bool first,
               const std::vector<uint8_t>& image, uint32_t size) {
  if (first) AddProgress(t, 10);
  LogPrint(t, "    Write_FW_to_%X ...\n", target);
  for (uint32_t o = 0; o < size; o += 0x1000) {
    if (VerifiedSectorErase(t, h, row, target + o, t.set.DbgMsg) != 1) {
      LogPrint(t, first ? "W1_SectorErase_%06X_Fail\n" : "W2_SectorErase_%06X_Fail\n", o);
      return false;
    }
    LogPrint(t, "\r    erasing...%02d%%", o * 100 / size);
  }
  LogPrint(t, "%s", kWipeLine);
  AddProgress(t, 15);
  if (VerifiedWrite(t, h, row, target, 0, size, image.data(), t.set.DbgMsg) != 1) {
    LogPrint(t, first ? "Write_FW1_Fail\n" : "Write_FW2_Fail\n");
    return false;
  }
  AddProgress(t, 30);
  return true;
}

// Writes the copy that is not valid first and the valid one last, so the
// flash always holds a bootable copy.
uint32_t WriteBothCopies(Tool& t, UsbLink& h, uint8_t row, const std::vector<uint8_t>& image,
                         uint32_t size) {
  const FlashCommands& cmd = FlashRow(row);
  if (WriteFlashStatus(t, h, row, 0x00, t.set.DbgMsg) != 1) {
    LogPrint(t, "    Write_SPI_Status_Fail.\n");
    return 0;
  }
  std::vector<uint8_t> device(kFileLimit, 0);
  LogPrint(t, "    Checking_Current_2wh_Data\n");
  SpiReadData(t, h, cmd.Read, kPdCopy1, 0, 32, device.data());
  if (device[0] == 0x05) {
    LogPrint(t, "Protection : SPI_Size_Error.\n");
    return 0;
  }
  LogPrint(t, "    Check device firmware ...\n");
  for (uint32_t off = 0; off < size; off += 32) {
    if (SpiReadData(t, h, cmd.Read, kPdCopy1 + off, off, 32, device.data()) != 1) {
      LogPrint(t, "Protection : SPI_Check_Read_Fail.\n");
      return 0;
    }
  }
  uint32_t first = kPdCopy1, second = PdCopy2(size);
  if (Crc16Trailer(device.data(), size)) {
    LogPrint(t, "    Firmware_1_OK ...\n");
    first = PdCopy2(size);
    second = kPdCopy1;
  }
  if (!WriteCopy(t, h, row, first, true, image, size)) return 0;
  if (!WriteCopy(t, h, row, second, false, image, size)) return 0;
  return 1;
}

}  // namespace

uint32_t PdFwUpdate(Tool& t, UsbLink& h, uint8_t d, uint8_t row) {
  const RunSettings& s = t.set;
  const uint32_t start = TimeOfDaySeconds(t);
  uint32_t result = 0;
  auto final_step = [&]() {
    if (s.LEDFlicker) WriteRegister(t, h, kLedRegister, 0, false);
    return EndOperation(t, start, result, "=    PD_FW_Update_PASS.   =\n",
                        "=    PD_FW_Update_FAIL.   =\n");
  };

  if (t.build.CustomerCode == 3 && s.PDVMM6ShareSPI) {
    LogPrint(t, "    Plove_Mode\n");
    if (s.LEDFlicker) WriteRegister(t, h, kLedRegister, 1, false);
    const uint32_t vmm6 = Vmm6Update(t, h, 1, row);
    if (vmm6 != 1) {
      result = vmm6;
      return final_step();
    }
  }
  LogPrint(t, "\nPD[%d]_FW_Update_Start...\n", d);
  if (FlashRow(row).SectorErase == 0) {
    LogPrint(t, "Protection : SPI_No_SectorErase_CMD.\n");
    return 0;
  }
  if (s.LEDFlicker) WriteRegister(t, h, kLedRegister, 1, false);
  if (!CompanionUpdatesAvailable(t)) return final_step();

  if (IsExpertMode(s)) {
    LogPrint(t, "Expert_Mode: Only_Update_Share_Device.\n");
    result = 1;
  } else {
    std::vector<uint8_t> image;
    uint32_t size = 0;
    if (!LoadImage(t, d, image, size)) return final_step();
    result = WriteBothCopies(t, h, row, image, size);
    if (result != 1) return final_step();
  }

  if (t.build.CustomerCode != 3 && s.PDVMM6ShareSPI) {
    result = Vmm6Update(t, h, 1, row);
    if (result != 1) return final_step();
  }
  if (s.PDDPShareSPI) {
    result = DpFwUpdate(t, h, row);
    if (result != 1) return final_step();
  }
  if (s.ResetAfterUpdate) VdrWrite(t, h, 0xB0, s.DbgMsg != 0);
  return final_step();
}

}  // namespace pdflash
