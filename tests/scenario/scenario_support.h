// Helpers for whole-program runs against the virtual device: a prepared
// board, the transfer log, the progress output and the flash afterwards.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <set>

#include "ops/search.h"
#include "sim/sim_device.h"
#include "support/sim_board.h"

namespace pdflash::test {

using ::testing::HasSubstr;
using Log = std::vector<sim::TransferRecord>;

// Request codes of the wire; kToRom and then kReset switch the controller to ROM code.
inline constexpr uint8_t kRegisterRequest = 0xE0, kReadData = 0xC4, kReadStatus = 0xC2,
                         kChipErase = 0xD1, kSectorErase = 0xD2, kFlashCommand = 0xD4,
                         kWriteStatus = 0xD8, kProgram = 0xDC, kToRom = 0xA0, kReset = 0xB0;

inline uint32_t FlashAddress(const SetupPacket& s) {
  return uint32_t{s.wIndex} << 8 | s.wValue >> 8;
}

// Log positions of the requests of these kinds to one device.
inline std::vector<size_t> Where(const Log& log, std::initializer_list<uint8_t> kinds,
                                 int device = 0) {
  std::vector<size_t> at;
  for (size_t i = 0; i < log.size(); ++i)
    if (log[i].device == device &&
        std::find(kinds.begin(), kinds.end(), log[i].setup.bRequest) != kinds.end())
      at.push_back(i);
  return at;
}

inline size_t CountRequests(const Log& log, uint8_t request, int device = 0) {
  return Where(log, {request}, device).size();
}
inline bool Sent(const Log& log, std::initializer_list<uint8_t> requests) {
  return !Where(log, requests).empty();
}
inline bool ChangesFlash(const Log& log) { return Sent(log, {kChipErase, kSectorErase, kProgram}); }

// Transfer numbers (from 1) where the flash traffic changes phase: reads of
// one length, erases, programs, and the last transfer of each phase. With
// `every_erase` each sector erase counts as a phase of its own.
inline std::set<uint32_t> Landmarks(const Log& log, bool every_erase) {
  std::set<uint32_t> marks = {1, static_cast<uint32_t>(log.size())};
  int phase = -1;
  uint32_t previous_at = 1;
  for (uint32_t i = 0; i < log.size(); ++i) {
    const uint8_t q = log[i].setup.bRequest;
    int now = 0;
    if (q == kSectorErase)
      now = 1;
    else if (q == kProgram)
      now = 2;
    else if (q == kReadData && (every_erase || phase != 1))
      now = 10 + log[i].setup.wLength;
    if (now == 0) continue;
    if (now != phase || (every_erase && now == 1)) marks.insert({i + 1, previous_at});
    phase = now, previous_at = i + 1;
  }
  return marks;
}

inline uint16_t RegAddress(const SetupPacket& s) {
  return static_cast<uint16_t>((s.wValue >> 8) | (s.wIndex << 8));
}
inline bool IsRegRead(const sim::TransferRecord& r, uint16_t a) {
  return r.setup.bRequest == 0xE0 && (r.setup.wValue & 0xFF) == 0x01 && RegAddress(r.setup) == a;
}
inline bool IsRegWrite(const sim::TransferRecord& r, uint16_t a) {
  return r.setup.bRequest == 0xE0 && (r.setup.wValue & 0xFF) == 0x02 && RegAddress(r.setup) == a;
}
// Log positions of the single-byte writes to one register.
inline std::vector<size_t> RegisterWrites(const Log& log, uint16_t address) {
  std::vector<size_t> at;
  for (size_t i = 0; i < log.size(); ++i)
    if (log[i].setup.bmRequestType == 0x40 && IsRegWrite(log[i], address) && !log[i].data.empty())
      at.push_back(i);
  return at;
}
// The values of those writes that the device took.
inline std::vector<uint8_t> Taken(const Log& log, const std::vector<size_t>& writes) {
  std::vector<uint8_t> v;
  for (size_t i : writes)
    if (log[i].ok) v.push_back(log[i].data[0]);
  return v;
}
// Transfers with one of the request codes, in order.
inline Log Requests(const Log& log, std::initializer_list<uint8_t> codes) {
  Log out;
  for (size_t i : Where(log, codes)) out.push_back(log[i]);
  return out;
}
// Position of the first transfer that `pick` accepts, from `from` on; log.size() if none.
template <typename F>
size_t Find(const Log& log, F pick, size_t from = 0) {
  for (size_t i = from; i < log.size(); ++i)
    if (pick(log[i])) return i;
  return log.size();
}
inline size_t First(const Log& log, uint8_t request, size_t from = 0) {
  return Find(log, [&](const auto& r) { return r.setup.bRequest == request; }, from);
}
// (bRequest, wValue) of each transfer from `from` on: enough to read a request sequence.
inline std::vector<std::pair<int, int>> Codes(const Log& log, size_t from = 0) {
  std::vector<std::pair<int, int>> out;
  for (size_t i = from; i < log.size(); ++i)
    out.emplace_back(log[i].setup.bRequest, log[i].setup.wValue);
  return out;
}
inline void ExpectSetup(const sim::TransferRecord& r, int type, int request, int value, int index,
                        int length) {
  const SetupPacket& s = r.setup;
  EXPECT_EQ(std::vector<int>({s.bmRequestType, s.bRequest, s.wValue, s.wIndex, s.wLength}),
            std::vector<int>({type, request, value, index, length}));
}
// device.ini key failing (or unplugging at) log position `index`: counted from 1, hex.
inline std::string FailAt(size_t index, const char* key = "FailTransfer") {
  char text[48];
  std::snprintf(text, sizeof text, "%s=%zX", key, index + 1);
  return text;
}
inline size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

// The accepted values of the unlock challenge's register requests: 0x0D the
// challenge, 0x0E the answers (and the counter sent back to lock), 0x0F the counter.
inline std::vector<uint16_t> ChallengeValues(const Log& log, uint16_t request) {
  std::vector<uint16_t> out;
  for (const auto& r : log)
    if (r.setup.bRequest == kRegisterRequest && r.setup.wValue == request && r.ok)
      out.push_back(static_cast<uint16_t>(r.data.at(0) << 8 | r.data.at(1)));
  return out;
}

// "Progress = NNN" lines on the console and, with `files`, the "NNN.txt"
// markers in the tool's folder, each holding its own name.
inline void ExpectProgress(const Program& p, const std::vector<int>& percents, bool files = true) {
  std::vector<int> lines;
  const std::string key = "Progress = ";
  for (size_t at = p.out.find(key); at != std::string::npos; at = p.out.find(key, at + 1))
    lines.push_back(std::stoi(p.out.substr(at + key.size(), 3)));
  EXPECT_EQ(lines, percents);
  if (!files) return;
  std::set<std::string> expected, found;
  for (int v : percents) expected.insert(std::to_string(1000 + v).substr(1) + ".txt");
  for (const auto& e : std::filesystem::directory_iterator(p.dir.path())) {
    const std::string n = e.path().filename().string();
    if (n.size() == 7 && n.substr(3) == ".txt" && n.find_first_not_of("0123456789") == 3) {
      found.insert(n);
      EXPECT_EQ(ReadFile(p.File(n)), n);
    }
  }
  EXPECT_EQ(found, expected);
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

inline std::vector<uint8_t> Slice(const std::vector<uint8_t>& b, uint32_t from, uint32_t n) {
  return std::vector<uint8_t>(b.begin() + from, b.begin() + from + n);
}

inline uint32_t Copy2(uint32_t size) {
  return size == 0x8000 ? 0x28000 : 0x30000;
}

inline bool BothCopies(const std::vector<uint8_t>& flash, const std::vector<uint8_t>& image) {
  return Same(flash, 0x20000, image) && Same(flash, Copy2(uint32_t(image.size())), image);
}

// A controller family: the image size it takes, the device.ini keys of its
// identity, and a version whose first byte is its FID.
struct ChipKind {
  uint32_t size;
  std::vector<std::string> keys;
  uint32_t version;
};
inline const ChipKind kChip32K = {0x8000, {"Identity=B0"}, 0x0D010100};
inline const ChipKind kChip50K = {0xC800, {"Identity=C0"}, 0x0E010100};
inline const ChipKind kChip64K = {
    0x10000, {"Identity=FF", "ExtIdHigh=35", "ExtIdLow=96"}, 0xA1010100};

inline std::vector<uint8_t> Firmware(uint32_t size, uint32_t version, uint32_t seed = 1) {
  return fwgen::MakePdFirmware({.size = size, .version = version, .seed = seed});
}
inline std::vector<uint8_t> Dp(uint32_t size, uint32_t version = 0x06020304, uint32_t seed = 2) {
  return fwgen::MakeDpFirmware({.size = size, .version = version, .seed = seed});
}

// Register 0x2BFD: which flash the SPI requests reach.
inline constexpr uint16_t kPortSelect = 0x2BFD;

// A board whose flash is patterned, with `old` in the chosen copies.
struct Rig {
  explicit Rig(const std::vector<std::string>& keys = {},
               const std::vector<uint8_t>& old = Firmware(0xC800, 0x0E010100, 5), bool copy1 = true,
               bool copy2 = true) {
    board.Init(keys);
    board.Load(0, Background(static_cast<uint32_t>(board.Flash().size())));
    board.LoadFirmware(old, copy1, copy2);
    before = board.Flash();
  }
  // One run with `settings` ahead of the board's IDs (the first entry of a
  // key wins); `file` becomes new.bin, the PD file.
  uint32_t Run(const std::string& settings, std::optional<std::vector<uint8_t>> file = {},
               const std::string& input = "") {
    if (file) WriteBytes(p.File("new.bin"), *file);
    p.Settings(settings + kBoardIds + (file ? "PD1Bin=new.bin\n" : ""));
    p.console.input = input;
    before = board.Flash();
    return board.Run();
  }
  // The board as `ini` (which holds `key`=0) describes it, with the cut
  // `key`=n (0: none) and this flash, powered off; the console cleared.
  void ResetForCut(const std::string& ini, const std::string& key, uint32_t n,
                   const std::vector<uint8_t>& flash) {
    std::string text = ini;
    const std::string entry = "\n" + key + "=";
    const size_t at = text.find(entry + "0\n");
    ASSERT_NE(at, std::string::npos);
    WriteFile(board.dir() + "/device.ini", text.replace(at, entry.size() + 1, entry + Hex(n)));
    WriteBytes(board.dir() + "/flash.bin", flash);
    std::filesystem::remove(board.dir() + "/state.ini");
    p.console.out.clear();
  }
  // No erase or program request went out and the flash kept every byte.
  bool Untouched() const { return !ChangesFlash(board.log) && board.Flash() == before; }

  Program p;
  SimBoard board{p};
  std::vector<uint8_t> before;  // the flash as the last run found it
};

// An operation called on its own against the board, for the paths a whole
// run cannot reach, with device 1 found as a run finds it. The board's state
// is saved when it goes.
struct BoardOp {
  explicit BoardOp(Rig& r)
      : bus(r.board.dir(), r.p.clock, r.p.File("Challenge.ini")),
        platform{r.p.console, r.p.clock, r.p.host, bus},
        t(platform, BuildProfile{}),
        link(t.out, t.clock) {
    std::string error;
    uint8_t in_rom = 0;
    t.cwd = t.exe_dir = r.p.dir.path();
    DeviceRecord& d = t.Pd[1];
    d.Vid = 0x2109, d.Pid = 0x0107, d.RomVid = 0x2109, d.RomPid = 0x1107;
    open = bus.Load(error) && SearchDevice(t, link, 1, 0, in_rom, 0) == 1;
  }
  ~BoardOp() {
    link.Close();
    bus.Save();
  }

  sim::SimBus bus;
  Platform platform;
  Tool t;
  Device link;
  bool open = false;
};

inline uint16_t ChallengeCounter(SimBoard& board) {
  uint16_t counter = 0;
  board.Inspect([&](sim::SimBus& bus) { counter = bus.Device(0).ChallengeCounter(); });
  return counter;
}

// A blank board with the example IDs in Setting.ini and, if given, a
// firmware copy of this version.
struct Bench {
  explicit Bench(const std::vector<std::string>& keys = {}, const std::string& settings = "",
                 uint32_t firmware = 0) {
    board.Init(keys);
    if (firmware) board.LoadFirmware(Firmware(0xC800, firmware));
    Settings(settings);
  }
  void Settings(const std::string& extra) { p.Settings(std::string(kBoardIds) + extra); }
  uint32_t Run(const std::vector<std::string>& args = {}) { return board.Run(args); }
  testing::AssertionResult Has(const std::string& what) const {
    if (p.out.find(what) != std::string::npos) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "no\n" << what << "\nin\n" << p.out;
  }
  Program p;
  SimBoard board{p};
};

}  // namespace pdflash::test
