#include "ops/vmm6.h"

#include <cstdio>
#include <vector>

#include "core/files.h"
#include "device/chip.h"
#include "flash/parts.h"
#include "flash/spi.h"
#include "flash/verified.h"
#include "image/flash_map.h"
#include "ops/file_image.h"

namespace pdflash {

namespace {

bool FlagValid(const uint8_t* f) {
  auto ok = [](uint8_t b) { return b != 0x00 && b != 0xFF; };
  return ok(f[0]) && ok(f[1]);
}

uint32_t Vmm6Box(Tool& t, uint32_t result) {
  PrintResultBox(t.out,
                 result == 1 ? "=   VMM6_FW_Update_PASS.  =\n" : "=   VMM6_FW_Update_FAIL.  =\n");
  return result;
}

uint32_t Vmm6ReadBanks(Tool& t, Device& dev, uint8_t opcode) {
  std::vector<uint8_t> buf(kVmm6Area, 0);
  StagedFile f(t.cwd, "BackUpVMM6.bin");
  if (!f.Open()) {
    LogPrint(t.out, "    BackUpVMM.bin_Open_Error\n");
    return Vmm6Box(t, 0);
  }
  uint32_t result = 1;
  for (uint32_t i = 0; i < kVmm6Area / 32; ++i) {
    const uint32_t r = SpiReadData(dev, opcode, kVmm6Bank0 + 32 * i, 32 * i, 32, buf.data());
    if ((32 * i) % 0x1000 == 0) LogPrint(t.out, "\r    reading...%02d%%", (i * 3200) >> 20);
    if (r != 1) {
      LogPrint(t.out, "Protection : SPI_Backup_Read_Fail.\n");
      result = 0;
      break;
    }
  }
  LogPrint(t.out, "\r                \r");
  // What was read is kept, under a partial name when a read failed.
  f.Write(buf.data(), kVmm6Area);
  if (!PlaceOutput(t.out, f, result == 1)) result = 0;
  return Vmm6Box(t, result);
}

uint32_t Vmm6Write(Tool& t, Device& dev, uint8_t row, const std::vector<uint8_t>& image) {
  const RunSettings& s = t.set;
  const FlashPart& cmd = FlashRow(row);
  if (!s.SkipGPIO8Ctl) {
    SetGpio(dev, 8, 0);
    if (s.DbgMsg) LogPrint(t.out, "\t -Sleep_3S_Start-\n");
    t.clock.SleepMs(3000);
    if (s.DbgMsg) LogPrint(t.out, "\t -Sleep_3S_End-\n");
  } else {
    LogPrint(t.out, "    Skip_GPIO8_Low_2\n");
  }
  // A flag that was not read is not an invalid one: judging zeros would pick
  // the active bank as the target.
  auto read_flag = [&](uint32_t bank_flag, uint8_t* into) {
    if (SpiReadData(dev, cmd.Read, bank_flag, 0, 32, into) == 1) return true;
    LogPrint(t.out, "Protection : VMM6_Bank_Flag_Read_Fail.\n");
    return false;
  };
  uint8_t flags[64] = {};
  if (!read_flag(kVmm6Bank0 + kVmm6FlagOffset, flags) ||
      !read_flag(kVmm6Bank1 + kVmm6FlagOffset, flags + 32))
    return 0;
  if (s.DbgMsg) {
    LogPrint(t.out, "    Bank0_Flag[0,1] = %02X,%02X\n", flags[0], flags[1]);
    LogPrint(t.out, "    Bank1_Flag[0,1] = %02X,%02X\n", flags[32], flags[33]);
  }
  const bool valid0 = FlagValid(flags), valid1 = FlagValid(flags + 32);
  if (valid0 == valid1)
    LogPrint(t.out, "    Error, Bank_Judge_Error_%X_%X\n", valid0 ? 1 : 0, valid1 ? 1 : 0);
  const uint32_t target = valid1 ? kVmm6Bank0 : kVmm6Bank1;
  const uint32_t old_flag = (valid1 ? kVmm6Bank1 : kVmm6Bank0) + kVmm6FlagOffset;
  LogPrint(t.out, "    Update_Bank%d:%X~%X\n", valid1 ? 0 : 1, target, target + kVmm6BankSize);

  if (WriteFlashStatus(dev, s, row, 0x00, s.DbgMsg) != 1)
    return LogPrint(t.out, "    SPI_WrSts_Fail\n"), 0;
  LogPrint(t.out, "    Erase_From_%X ...\n", target);
  constexpr uint32_t kSectors = kVmm6BankSize / 0x1000;
  for (uint32_t n = 0; n < kSectors; ++n) {
    if (VerifiedSectorErase(dev, row, target + n * 0x1000, s.DbgMsg) != 1)
      return LogPrint(t.out, "SectorErase_%06X_Fail\n", n * 0x1000), 0;
    LogPrint(t.out, "\r    erasing...%02d%%", n * 100 / kSectors);
  }
  LogPrint(t.out, "%s", kWipeLine);
  AddProgress(t.out, 25);
  if (VerifiedWrite(dev, row, target, 0, kVmm6BankSize, image.data(), s.DbgMsg) != 1)
    return LogPrint(t.out, "Write_FW_Fail\n"), 0;
  AddProgress(t.out, 75);

  // The old bank goes only when the new one reads back bootable.
  uint8_t now[32] = {};
  if (!read_flag(target + kVmm6FlagOffset, now)) return 0;
  if (!FlagValid(now))
    return LogPrint(t.out, "Protection : VMM6_New_Bank_Flag_%02X_%02X_Invalid.\n", now[0], now[1]),
           0;
  LogPrint(t.out, valid1 ? "    FIN:Set_BANK1_as_Backup (BANK0_Active)\n"
                         : "    FIN:Set_BANK0_as_Backup (BANK1_Active)\n");
  const uint8_t cleared[2] = {0x00, 0x00};
  SpiCommand(dev, cmd.WriteEnable);
  SpiWriteData(dev, cmd.PageProgram, old_flag, 0, 2, cleared);
  // Two valid banks leave the choice to the bank-0 rule: not a clean switch.
  uint8_t left[32] = {};
  if (!read_flag(old_flag, left)) return 0;
  if (FlagValid(left)) return LogPrint(t.out, "    Old_Bank_Flag_Not_Cleared\n"), 0;
  return 1;
}

constexpr char kVmm6UpdateStart[] = "\nVMM6_Update_Start...\n";

}  // namespace

bool Vmm6FlashUsable(Tool& t, Device& dev, uint8_t row) {
  if (FlashRow(row).SectorErase == 0) {
    LogPrint(t.out, "Protection : SPI_No_SectorErase_CMD.\n");
    return false;
  }
  if (CheckFlashSize(dev, t.set, kVmm6FlashNeeded, 0, t.set.DbgMsg) != 1) {
    LogPrint(t.out, "Protection : Flash_Size_Incefficient_2MB.\n");
    return false;
  }
  return true;
}

void GetVmm6FwVersion(Tool& t, Device& dev, uint8_t in_rom) {
  if (t.set.DbgMsg) LogPrint(t.out, "Get_VMM[1]_FW_Version\n");
  DeviceRecord& r = t.Vmm6[1];
  auto read = [&](uint32_t a, uint32_t n, uint8_t* out) -> uint32_t {
    if (in_rom) return SpiReadData(dev, 0x03, a, 0, static_cast<uint16_t>(n), out);
    return PdRegisterReadSpi(dev, 0x03, a, 0, n, out, t.set.DbgMsg >= 8);
  };
  uint8_t f0[2] = {}, f1[2] = {};
  read(kVmm6Bank0 + kVmm6FlagOffset, 2, f0);
  read(kVmm6Bank1 + kVmm6FlagOffset, 2, f1);
  if (t.set.DbgMsg) {
    LogPrint(t.out, "\t Bank0_Flag[0,1] = %02X,%02X\n", f0[0], f0[1]);
    LogPrint(t.out, "\t Bank1_Flag[0,1] = %02X,%02X\n", f1[0], f1[1]);
  }
  const bool valid0 = FlagValid(f0), valid1 = FlagValid(f1);
  if (valid0 == valid1)
    LogPrint(t.out, "\t Error, Bank_Judge_Error_%X_%X\n", valid0 ? 1 : 0, valid1 ? 1 : 0);
  if (!valid0 && !valid1) {
    LogPrint(t.out, "Get_VMM_FW_Version_FAIL.\n");
    r.FwVersion = 0;
    return;
  }
  const uint32_t base = valid0 ? kVmm6Bank0 : kVmm6Bank1;
  uint8_t abc[3] = {}, d = 0;
  read(base + 0x4000, 3, abc);
  if (read(base + 0x0200, 1, &d) != 1) {
    LogPrint(t.out, "Get_VMM_FW_Version_FAIL.\n");
    r.FwVersion = 0;
    return;
  }
  r.FwVersion = uint32_t{abc[0]} << 24 | uint32_t{abc[1]} << 16 | uint32_t{abc[2]} << 8 | d;
  LogPrint(t.out, "%s", kBoxLine);
  LogPrint(t.out, "=      VMM6 FW Version:%d.%02d.%03d v%02d     =\n", abc[0], abc[1], abc[2], d);
  LogPrint(t.out, "%s", kBoxLine);
}

bool LoadVmm6Image(Tool& t, FirmwareImage& image) {
  auto refuse = [&](const char* fmt, auto... values) {
    LogPrint(t.out, "%s", kVmm6UpdateStart);
    LogPrint(t.out, fmt, values...);
    return Vmm6Box(t, 0), false;
  };
  uint32_t& size = image.size;
  const FileRead read = ReadFirmwareFile(t, t.Vmm6[1].BinPath, kVmm6Area, image.bytes, size);
  if (read == FileRead::OpenFailed) return refuse("%s", "Protection : FW_Open_Fail.\n");
  if (read == FileRead::TooLarge) return refuse("Protection : VMM6FW_Size_%dK_Over.\n", size >> 10);
  // The file must carry a valid bank flag where the bank keeps it, or the
  // update would leave no bank to boot from.
  if (size < kVmm6FlagOffset + 2)
    return refuse("Protection : VMM6FW_Size_%X_Without_Bank_Flag.\n", size);
  const uint8_t* flag = &image.bytes[kVmm6FlagOffset];
  if (!FlagValid(flag))
    return refuse("Protection : VMM6FW_Bank_Flag_%02X_%02X_Invalid.\n", flag[0], flag[1]);
  return true;
}

uint32_t Vmm6Update(Tool& t, Device& dev, uint8_t row, const FirmwareImage& image) {
  LogPrint(t.out, "%s", kVmm6UpdateStart);
  if (!Vmm6FlashUsable(t, dev, row)) return 0;
  return Vmm6Box(t, Vmm6Write(t, dev, row, image.bytes));
}

uint32_t Vmm6Backup(Tool& t, Device& dev, uint8_t row) {
  LogPrint(t.out, "\nVMM6_Backup_Start...\n");
  if (!Vmm6FlashUsable(t, dev, row)) return 0;
  return Vmm6ReadBanks(t, dev, FlashRow(row).Read);
}

uint32_t GetVmm6BinVersion(Tool& t, bool* accepted) {
  DeviceRecord& r = t.Vmm6[1];
  uint8_t abc[3], d = 0;
  {
    FilePtr f(t.Open(r.BinPath, "rb"));
    const size_t got = ReadFileAt(f.get(), 0x4000, abc, sizeof abc);
    ReadFileAt(f.get(), 0x0200, &d, 1);
    if (accepted) *accepted = got == sizeof abc;
  }
  r.BinVersion = uint32_t{abc[0]} << 24 | uint32_t{abc[1]} << 16 | uint32_t{abc[2]} << 8 | d;
  LogPrint(t.out, "%s", kBoxLine);
  LogPrint(t.out, "=     VMM6 Bin Version:%d.%02d.%03d v%02d     =\n", abc[0], abc[1], abc[2], d);
  LogPrint(t.out, "%s", kBoxLine);
  return r.BinVersion;
}

}  // namespace pdflash
