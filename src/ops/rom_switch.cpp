#include "ops/rom_switch.h"

#include "device/discovery.h"
#include "device/mode.h"
#include "device/registers.h"
#include "image/pd_image.h"
#include "ops/pd_file.h"

namespace pdflash {

bool ChallengeFileGate(Tool& t, Device& dev, uint16_t vid, const char* skip_line,
                       const char* refuse_format, bool read_file_flag) {
  MathChallenge(dev, t.exe_dir, t.set.NeedMathChallenge, t.set.DbgMsg);
  if (read_file_flag)
    GetPdBinFlag(t, 1);
  else
    t.Pd[1].BinFlag = kChallengeBinFlag;
  if (t.set.NeedMathChallenge & 0x80) {
    LogPrint(t.out, "%s", skip_line);
    return true;
  }
  if ((t.Pd[1].BinFlag & kChallengeBinFlag) && vid == kChallengeVid) return true;
  LogPrint(t.out, refuse_format, t.Pd[1].BinFlag, t.Pd[1].CurVid);
  LockChallenge(dev, t.set.DbgMsg);
  return false;
}

uint32_t ResetToRom(Tool& t, Device& dev, bool echo) {
  const RunSettings& s = t.set;
  // Outputs off and the controller quiet before the jump.
  uint8_t gpio = 0;
  dev.ReadRegister(reg::kGpio5to8, gpio, echo);
  dev.WriteRegister(reg::kGpio5to8, gpio & 0xDD, echo);
  dev.WriteRegister(reg::kPreJump1, 0x7F, echo);
  dev.WriteRegister(reg::kPreJump2, 0x00, echo);
  if (!dev.WriteRegister(reg::kPreJump3, 0x02, echo)) {
    LogPrint(t.out, "    Can't_Access_Device\n");
    return 0;
  }
  if (ReadRunMode(dev, echo) == RunMode::Rom) {
    if (echo) LogPrint(t.out, "    Already_Rom_Code.\n");
    return 1;
  }
  if (s.PDVMM6ShareSPI) {
    if (s.SkipGPIO8Ctl)
      LogPrint(t.out, "    Skip_GPIO8_Low_1\n");
    else
      DriveGpio8Low(dev);
  }
  if (s.ForceGPIO8Low) DriveGpio8Low(dev);

  if (s.NeedMathChallenge != 0 &&
      !ChallengeFileGate(t, dev, t.Pd[1].CurVid, "\t Skip_Check_Math-Challenge-Bin_rst\n",
                         "    Not_Math-Challenge-Bin_Or_VID_rst_%X_%X\n"))
    return 0;

  LogPrint(t.out, "    Reset_To_Default_Mode...\n");
  JumpToRomCode(dev, echo);
  return 1;
}

}  // namespace pdflash
