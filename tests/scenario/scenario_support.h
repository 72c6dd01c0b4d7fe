// Helpers for whole-program runs against the virtual device: reading the
// transfer log, the progress output and the flash afterwards.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/tool.h"
#include "device/discovery.h"
#include "device/usb_link.h"
#include "sim/sim_bus.h"
#include "support/sim_board.h"

namespace pdflash::test {

// Request codes of the wire.
inline constexpr uint8_t kRegisterRequest = 0xE0;
inline constexpr uint8_t kReadData = 0xC4;
inline constexpr uint8_t kReadStatus = 0xC2;
inline constexpr uint8_t kChipErase = 0xD1;
inline constexpr uint8_t kSectorErase = 0xD2;
inline constexpr uint8_t kFlashCommand = 0xD4;
inline constexpr uint8_t kWriteStatus = 0xD8;
inline constexpr uint8_t kProgram = 0xDC;

inline uint32_t FlashAddress(const SetupPacket& s) {
  return uint32_t{s.wIndex} << 8 | s.wValue >> 8;
}

// Flash addresses of the accepted requests of one kind, in wire order.
inline std::vector<uint32_t> RequestAddresses(const std::vector<sim::TransferRecord>& log,
                                              uint8_t request, int device = 0) {
  std::vector<uint32_t> out;
  for (const auto& r : log)
    if (r.ok && r.device == device && r.setup.bRequest == request)
      out.push_back(FlashAddress(r.setup));
  return out;
}

inline size_t CountRequests(const std::vector<sim::TransferRecord>& log, uint8_t request,
                            int device = 0) {
  return RequestAddresses(log, request, device).size();
}

// True when any request that changes flash contents reached the device.
inline bool ChangesFlash(const std::vector<sim::TransferRecord>& log) {
  for (const auto& r : log) {
    const uint8_t q = r.setup.bRequest;
    if (r.ok && (q == kChipErase || q == kSectorErase || q == kProgram)) return true;
  }
  return false;
}

// Values written to one register (single-byte register writes), in order;
// `ok_only` drops the writes the device refused.
inline std::vector<uint8_t> RegisterWrites(const std::vector<sim::TransferRecord>& log,
                                           uint16_t address, bool ok_only = true) {
  std::vector<uint8_t> out;
  for (const auto& r : log) {
    const SetupPacket& s = r.setup;
    if (s.bmRequestType != 0x40 || s.bRequest != kRegisterRequest || (s.wValue & 0xFF) != 0x02)
      continue;
    if ((s.wValue >> 8 | s.wIndex << 8) != address || r.data.empty()) continue;
    if (r.ok || !ok_only) out.push_back(r.data[0]);
  }
  return out;
}

// The percentages of the "Progress = NNN" lines.
inline std::vector<int> ProgressLines(const std::string& out) {
  std::vector<int> p;
  const std::string key = "Progress = ";
  for (size_t at = out.find(key); at != std::string::npos; at = out.find(key, at + 1))
    p.push_back(std::stoi(out.substr(at + key.size(), 3)));
  return p;
}

// "NNN.txt" marker files in a folder, sorted by name.
inline std::vector<std::string> MarkerFiles(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const std::string n = e.path().filename().string();
    if (n.size() == 7 && n.substr(3) == ".txt" && std::isdigit(static_cast<unsigned char>(n[0])) &&
        std::isdigit(static_cast<unsigned char>(n[1])) &&
        std::isdigit(static_cast<unsigned char>(n[2])))
      names.push_back(n);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Bytes from 0x10 to 0xFE: an erase shows wherever it happened, and no
// byte reads as a firmware marker.
inline std::vector<uint8_t> Background(uint32_t size, uint32_t seed = 0x1234) {
  std::vector<uint8_t> b(size);
  for (auto& v : b) {
    seed = seed * 1103515245u + 12345u;
    v = static_cast<uint8_t>(0x10 + (seed >> 16) % 0xEF);
  }
  return b;
}

inline std::string Hex(uint32_t v, int digits = 0) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, v);
  return buf;
}

inline bool Same(const std::vector<uint8_t>& flash, uint32_t address,
                 const std::vector<uint8_t>& bytes) {
  return flash.size() >= address + bytes.size() &&
         std::equal(bytes.begin(), bytes.end(), flash.begin() + address);
}

inline bool AllFF(const std::vector<uint8_t>& flash, uint32_t from, uint32_t to) {
  return std::all_of(flash.begin() + from, flash.begin() + to, [](uint8_t b) { return b == 0xFF; });
}

// A controller family with the firmware files it takes.
struct ChipKind {
  uint32_t size;                  // image size the chip takes
  std::vector<std::string> keys;  // device.ini keys of its identity
  uint32_t version;               // a version whose first byte is its FID
};

inline ChipKind Chip32K() {
  return {0x8000, {"Identity=B0"}, 0x0D010100};
}
inline ChipKind Chip50K() {
  return {0xC800, {"Identity=C0"}, 0x0E010100};
}
inline ChipKind Chip64K() {
  return {0x10000, {"Identity=FF", "ExtIdHigh=35", "ExtIdLow=96"}, 0xA1010100};
}

inline std::vector<uint8_t> Firmware(uint32_t size, uint32_t version, uint32_t seed = 1) {
  fwgen::PdFirmwareSpec spec;
  spec.size = size;
  spec.version = version;
  spec.seed = seed;
  return fwgen::MakePdFirmware(spec);
}

inline uint32_t Copy2(uint32_t size) {
  return size == 0x8000 ? 0x28000 : 0x30000;
}

// An operation called on its own against the board, for the paths a whole
// run cannot reach. The board's state is saved when it goes.
class BoardOp {
 public:
  BoardOp(Program& p, SimBoard& board)
      : bus_(board.dir(), p.clock, p.File("Challenge.ini")),
        platform_{p.console, p.clock, p.host, bus_},
        t(platform_, BuildProfile{}) {
    std::string error;
    loaded_ = bus_.Load(error);
    t.cwd = t.exe_dir = p.dir.path();
    DeviceRecord& r = t.Pd[1];
    r.Vid = 0x2109, r.Pid = 0x0107, r.RomVid = 0x2109, r.RomPid = 0x1107;
  }
  ~BoardOp() {
    CloseDevice(link);
    bus_.Save();
  }
  // Finds device 1 as the run would; true when it is open.
  bool Open() {
    uint8_t in_rom = 0;
    return loaded_ && SearchDevice(t, link, 1, 0, in_rom, 0) == 1;
  }
  const std::vector<sim::TransferRecord>& log() const { return bus_.Log(); }

 private:
  sim::SimBus bus_;
  Platform platform_;
  bool loaded_ = false;

 public:
  Tool t;
  UsbLink link;
};

}  // namespace pdflash::test
