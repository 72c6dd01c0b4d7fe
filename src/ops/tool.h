// The one context of a run. Every operation takes it as its first argument;
// nothing mutable lives at namespace scope, so a test can run the whole
// program many times in one process. Layers below the operations take only
// the pieces they use (an Output, the settings, a Device).
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "core/output.h"
#include "core/records.h"
#include "platform/platform.h"

namespace pdflash {

struct Tool {
  Tool(Platform& p, BuildProfile b)
      : console(p.console), clock(p.clock), host(p.host), bus(p.bus), build(b) {}

  Console& console;
  Clock& clock;
  Host& host;
  UsbBus& bus;
  BuildProfile build;

  // The program's own folder (with its trailing separator).
  std::string exe_dir;
  // Working directory (with its trailing separator). Relative file names of
  // the run resolve here; the process's own current directory is not used.
  std::string cwd;

  RunSettings set;
  // Declared after `set` and `cwd`, which it refers to.
  Output out{console, host, clock, set, cwd};

  // Command line.
  uint32_t ControlMode = 0;
  std::array<uint8_t, 128> DeviceInfoArg{};
  uint16_t RegAccessAddress = 0;
  uint8_t RegAccessValue = 0;
  std::string IniFile = "Setting.ini";

  // Device tables, indexed from 1 (slot 0 unused).
  std::array<DeviceRecord, 5> Pd{};
  std::array<DeviceRecord, 5> Hub{};
  std::array<DeviceRecord, 3> Dp{};
  std::array<DeviceRecord, 3> Vmm6{};
  std::array<SignEntry, 5> Sign{};
  std::array<CopyEntry, 10> Copy{};

  // Discovery.
  uint8_t CurrentUsbAddress = 0;
  std::array<uint32_t, 5> UfpStatus{};
  std::array<uint8_t, 5> SameIdAddress{};

  // The name resolved against the working directory.
  std::string Resolve(const std::string& name) const;
  FILE* Open(const std::string& name, const char* mode) const;
};

}  // namespace pdflash
