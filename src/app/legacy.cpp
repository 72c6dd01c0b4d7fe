#include "app/legacy.h"

#include "app/log.h"

namespace pdflash {

void CheckLegacyDriver(Tool& t) {
  char installer[32];
  char drive = 0;
  for (char c = 'C'; c <= 'L' && drive == 0; ++c) {
    FormatText(installer, sizeof installer, "%c:\\SDRV\\dpinst.exe", c);
    if (t.host.PathExists(installer)) drive = c;
  }
  if (drive == 0) return;
  LogPrint(t, "****************************************\n");
  LogPrint(t, "*         Legacy driver exists         *\n");
  LogPrint(t, "*     Please remove legacy KMX tools   *\n");
  LogPrint(t, "****************************************\n");
  if (t.set.Checklibusb != 2) return;
  LogPrint(t, "Do you want to run quick uninstall driver only now? \n");
  LogPrint(t, "'Y' to continue, others to quit. ");
  const int answer = ConsoleReadChar(t);
  if (answer != 'Y' && answer != 'y') return;
  char dir[16];
  FormatText(dir, sizeof dir, "%c:\\SDRV", drive);
  uint32_t exit_code = 0;
  const bool started = t.host.RunHidden("dpinst.exe /u Usb_2.0_Billboard.inf /s", dir, exit_code);
  // Back to the program's own folder, whatever "/PATH" had chosen.
  t.cwd = t.exe_dir;
  if (!started || exit_code != 0) {
    LogPrint(t, "Remove driver failed, please reference User Guide v0.4\n");
    LogPrint(t, "to uninstall driver from Windows Device Manager.\n\n");
  }
}

}  // namespace pdflash
