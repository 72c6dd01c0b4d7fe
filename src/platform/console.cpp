#include <cstdio>

#include "platform/platform.h"

namespace pdflash {

void StdConsole::Write(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

int StdConsole::ReadChar() {
  const int c = std::fgetc(stdin);
  return c == EOF ? -1 : c;
}

}  // namespace pdflash
