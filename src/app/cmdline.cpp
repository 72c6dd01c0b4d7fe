#include "app/cmdline.h"

#include <cctype>
#include <cstring>
#include <string>

namespace pdflash {

namespace {

constexpr uint32_t kDeviceInfoClass = 0x100000;
constexpr uint32_t kWriting = 0x100;

// Hex digits one by one, stopping at the first other character (no prefix).
uint64_t HexArg(const char* s, size_t max_digits = SIZE_MAX) {
  uint64_t v = 0;
  for (size_t i = 0; i < max_digits && std::isxdigit(static_cast<unsigned char>(s[i])); ++i) {
    const char c = s[i];
    v = (v << 4) | static_cast<uint64_t>(c <= '9' ? c - '0' : (std::toupper(c) - 'A' + 10));
  }
  return v;
}

// A register address or value: a typo must not reach another register.
bool AllHex(const char* s) {
  if (*s == '\0') return false;
  for (; *s; ++s)
    if (!std::isxdigit(static_cast<unsigned char>(*s))) return false;
  return true;
}

bool ParseIni(Tool& t, int argc, char** argv) {
  if (argc >= 3) {
    const std::string name = argv[2];
    if (name.find(".ini") != std::string::npos && name.size() < kIniNameSize) {
      if (FILE* f = t.Open(name, "r")) {
        std::fclose(f);
        t.IniFile = name;
        LogPrint(t.out, "    New_INI: %s\n", name.c_str());
        return true;
      }
    }
  }
  LogPrint(t.out, "    Illegal_INI_FilePath.\n");
  return false;
}

bool ParsePath(Tool& t, int argc, char** argv) {
  if (argc >= 3) {
    const std::string path = t.Resolve(argv[2]);
    if (t.host.PathExists(path)) {
      // A file is accepted but, as a failed change of directory, changes nothing.
      if (t.host.IsDirectory(path)) {
        t.cwd = path;
        if (t.cwd.back() != '/' && t.cwd.back() != '\\') t.cwd += '/';
      }
      LogPrint(t.out, "    New_Path: %s\n", argv[2]);
      return true;
    }
  }
  LogPrint(t.out, "    Illegal_Working_Path.\n");
  return false;
}

bool ParseDeviceInfo(Tool& t, int argc, char** argv) {
  auto& arg = t.DeviceInfoArg;
  arg.fill(0);
  const uint32_t function = (t.ControlMode >> 8) & 0xFF;
  if (function == 0x0F) {  // "/CLEAR"
    arg.fill(0xFF);
    return true;
  }
  if (argc < 3) {
    if (t.ControlMode & kWriting) {
      LogPrint(t.out, "    Illegal_RwInfo_Parameter.\n");
      return false;
    }
    return true;
  }
  const char* value = argv[2];
  if (function == 0x0B || function == 0x0C) {  // bcdDevice
    const auto bcd = static_cast<uint16_t>(HexArg(value, 4));
    arg[0] = static_cast<uint8_t>(bcd >> 8);
    arg[1] = static_cast<uint8_t>(bcd);
    return true;
  }
  for (size_t i = 0; i < 64 && value[i] >= 0x20 && value[i] <= 0x7E; ++i)
    arg[2 * i] = static_cast<uint8_t>(value[i]);
  return true;
}

}  // namespace

const Switch kSwitches[] = {
    {"/U", 0x10000},       {"/CKFW", 0x10100},    {"/F0", 0x40010},      {"/F1", 0x40001},
    {"/F2", 0x40002},      {"/F3", 0x40003},      {"/FD", 0x40040},      {"/FV", 0x40080},
    {"/FS0", 0x40210},     {"/FS1", 0x40201},     {"/FSD", 0x40240},     {"/FSV", 0x40280},
    {"/B0", 0x80010},      {"/B1", 0x80001},      {"/B2", 0x80002},      {"/B3", 0x80003},
    {"/BD", 0x80040},      {"/BV", 0x80080},      {"/BCDDEV", 0x41000},  {"/GPIO0H", 0x200101},
    {"/GPIO0L", 0x200001}, {"/GPIO1H", 0x201101}, {"/GPIO1L", 0x201001}, {"/GPIO2H", 0x202101},
    {"/GPIO2L", 0x202001}, {"/GPIO3H", 0x203101}, {"/GPIO3L", 0x203001}, {"/GPIO4H", 0x204101},
    {"/GPIO4L", 0x204001}, {"/GPIO5H", 0x205101}, {"/GPIO5L", 0x205001}, {"/GPIO6H", 0x206101},
    {"/GPIO6L", 0x206001}, {"/GPIO7H", 0x207101}, {"/GPIO7L", 0x207001}, {"/GPIO8H", 0x208101},
    {"/GPIO8L", 0x208001}, {"/GPIO9H", 0x209101}, {"/GPIO9L", 0x209001}, {"/GPIOAH", 0x20A101},
    {"/GPIOAL", 0x20A001}, {"/GPIOBH", 0x20B101}, {"/GPIOBL", 0x20B001}, {"/WRSN", 0x100300},
    {"/CKSN", 0x100400},   {"/WRIPR", 0x100500},  {"/CKIPR", 0x100600},  {"/WRISN", 0x100700},
    {"/CKISN", 0x100800},  {"/WRIVR", 0x100900},  {"/CKIVR", 0x100a00},  {"/WRBCD", 0x100b00},
    {"/CKBCD", 0x100c00},  {"/CLEAR", 0x100f00},  {"/RESET0", 0x400110}, {"/RDREG", 0x400410},
    {"/WRREG", 0x400810},
};
const size_t kSwitchCount = sizeof kSwitches / sizeof kSwitches[0];

bool ParseCommandLine(Tool& t, int argc, char** argv) {
  if (argc < 2) {
    LogPrint(t.out, "    ControlMode=%X\r\n", 0u);
    return true;
  }
  for (char* c = argv[1]; *c; ++c)
    *c = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
  const std::string sw = argv[1];
  if (sw == "/INI") return ParseIni(t, argc, argv);
  if (sw == "/PATH") return ParsePath(t, argc, argv);

  const Switch* match = nullptr;
  for (size_t i = 0; i < kSwitchCount && !match; ++i)
    if (sw == kSwitches[i].name) match = &kSwitches[i];
  if (!match) {
    LogPrint(t.out, "    Illegal_Parameter. ( Use_Capital )\n");
    return false;
  }
  t.ControlMode = match->control_mode;

  if ((t.ControlMode & kDeviceInfoClass) && !ParseDeviceInfo(t, argc, argv)) return false;
  if (sw == "/RDREG") {
    if (argc != 3 || std::strlen(argv[2]) != 4 || !AllHex(argv[2])) {
      LogPrint(t.out, "    Illegal_Read_Register_Parameter.\n");
      return false;
    }
    t.RegAccessAddress = static_cast<uint16_t>(HexArg(argv[2]));
    LogPrint(t.out, "    Cmd: Read_Register_%04X\n", t.RegAccessAddress);
  }
  if (sw == "/WRREG") {
    if (argc != 4 || std::strlen(argv[2]) != 4 || !AllHex(argv[2]) || !AllHex(argv[3])) {
      LogPrint(t.out, "    Illegal_Write_Register_Parameter.\n");
      return false;
    }
    t.RegAccessAddress = static_cast<uint16_t>(HexArg(argv[2]));
    t.RegAccessValue = static_cast<uint8_t>(HexArg(argv[3], 2));
    LogPrint(t.out, "    Cmd: Write_Register_%04X_%02X\n", t.RegAccessAddress, t.RegAccessValue);
  }
  if (argc >= 3 && std::strstr(argv[2], "/msgwnd:")) {
    t.out.hwnd = HexArg(argv[2] + 8);
    LogPrint(t.out, "    hWnd = %X \n", static_cast<unsigned>(t.out.hwnd));
  }
  LogPrint(t.out, "    ControlMode=%X\r\n", t.ControlMode);
  return true;
}

}  // namespace pdflash
