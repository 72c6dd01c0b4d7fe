// Writes example firmware files for demos and for trying the tool without
// real firmware.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "tools/fwgen.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: mkfirmware DIR\n"
               "         writes the example set into DIR\n"
               "       mkfirmware pd SIZE VERSION OUT [VID PID [VID2]]\n"
               "         writes one PD firmware file (numbers in hex)\n");
  return 2;
}

bool Hex(const char* text, uint32_t& value) {
  char* end = nullptr;
  const unsigned long v = std::strtoul(text, &end, 16);
  if (end == text || *end != '\0' || v > 0xFFFFFFFFul) return false;
  value = static_cast<uint32_t>(v);
  return true;
}

bool Write(const std::string& path, const std::vector<uint8_t>& bytes, const std::string& what) {
  if (bytes.empty() || !pdflash::fwgen::WriteFirmware(path, bytes)) {
    std::fprintf(stderr, "mkfirmware: cannot write %s\n", path.c_str());
    return false;
  }
  std::printf("%s: %zu bytes, %s\n", path.c_str(), bytes.size(), what.c_str());
  return true;
}

int CustomPd(int argc, char** argv) {
  if (argc != 5 && argc != 7 && argc != 8) return Usage();
  pdflash::fwgen::PdFirmwareParams s;
  uint32_t vid = s.vid, pid = s.pid, vid2 = s.vid2;
  if (!Hex(argv[2], s.size) || !Hex(argv[3], s.version)) return Usage();
  if (argc >= 7 && (!Hex(argv[5], vid) || !Hex(argv[6], pid) || vid > 0xFFFF || pid > 0xFFFF))
    return Usage();
  if (argc == 8 && (!Hex(argv[7], vid2) || vid2 > 0xFFFF)) return Usage();
  if (s.size < 0x8000 || s.size > 0x20000) {
    std::fprintf(stderr, "mkfirmware: SIZE must lie in 8000..20000\n");
    return 2;
  }
  s.vid = static_cast<uint16_t>(vid);
  s.pid = static_cast<uint16_t>(pid);
  s.vid2 = static_cast<uint16_t>(vid2);
  s.seed = s.version;
  char what[96];
  std::snprintf(what, sizeof what, "PD firmware %02X.%02X.%02X.%02X, VID %04X PID %04X VID2 %04X",
                s.version >> 24, (s.version >> 16) & 0xFF, (s.version >> 8) & 0xFF,
                s.version & 0xFF, s.vid, s.pid, s.vid2);
  return Write(argv[4], pdflash::fwgen::MakePdFirmware(s), what) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "pd") return CustomPd(argc, argv);
  if (argc != 2) return Usage();
  std::string dir = argv[1];
  std::error_code ec;  // a folder that cannot be made shows in the first write
  std::filesystem::create_directories(dir, ec);
  if (!dir.empty() && dir.back() != '/' && dir.back() != '\\') dir += '/';
  for (const auto& f : pdflash::fwgen::ExampleSet())
    if (!Write(dir + f.name, f.bytes, f.what)) return 1;
  return 0;
}
