#include "app/legacy.h"

namespace pdflash {

void CheckLegacyDriver(Tool& t) {
  char installer[32];
  char drive = 0;
  for (char c = 'C'; c <= 'L' && drive == 0; ++c) {
    FormatText(installer, sizeof installer, "%c:\\SDRV\\dpinst.exe", c);
    if (t.host.PathExists(installer)) drive = c;
  }
  if (drive == 0) return;
  LogPrint(t.out, "****************************************\n");
  LogPrint(t.out, "*         Legacy driver exists         *\n");
  LogPrint(t.out, "*     Please remove legacy KMX tools   *\n");
  LogPrint(t.out, "****************************************\n");
  if (t.set.Checklibusb != 2) return;
  LogPrint(t.out, "Do you want to run quick uninstall driver only now? \n");
  LogPrint(t.out, "'Y' to continue, others to quit. ");
  const int answer = ConsoleReadChar(t.out);
  if (answer != 'Y' && answer != 'y') return;
  char dir[16];
  FormatText(dir, sizeof dir, "%c:\\SDRV", drive);
  uint32_t exit_code = 0;
  const bool started = t.host.RunHidden("dpinst.exe /u Usb_2.0_Billboard.inf /s", dir, exit_code);
  // Back to the program's own folder, whatever "/PATH" had chosen.
  t.cwd = t.exe_dir;
  if (!started || exit_code != 0) {
    LogPrint(t.out, "Remove driver failed, please reference User Guide v0.4\n");
    LogPrint(t.out, "to uninstall driver from Windows Device Manager.\n\n");
  }
}

}  // namespace pdflash
