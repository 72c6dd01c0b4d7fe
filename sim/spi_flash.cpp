#include "sim/spi_flash.h"

#include <algorithm>

namespace pdflash::sim {

namespace {

// Opcodes the part understands.
enum : uint8_t {
  kWriteStatus = 0x01,
  kPageProgram = 0x02,
  kRead = 0x03,
  kWriteDisable = 0x04,
  kReadStatus = 0x05,
  kWriteEnable = 0x06,
  kFastRead = 0x0B,
  kSectorErase = 0x20,
  kWriteStatus2 = 0x31,
  kReadStatus2 = 0x35,
  kVolatileWriteEnable = 0x50,
  kBlockErase32 = 0x52,
  kChipErase2 = 0x60,
  kJedecId = 0x9F,
  kChipErase = 0xC7,
  kSectorErase2 = 0xD7,
  kBlockErase64 = 0xD8,
};

bool IsRead(uint8_t op) {
  return op == kRead || op == kFastRead || op == kReadStatus || op == kReadStatus2 ||
         op == kJedecId;
}

}  // namespace

SpiNorFlash::SpiNorFlash(Clock& clock, uint32_t size)
    : clock_(clock), mem_(size ? size : 1, 0xFF) {}

void SpiNorFlash::Select() {
  // A new falling edge starts a new command, whatever was half sent.
  rx_.clear();
  selected_ = true;
}

uint8_t SpiNorFlash::Transfer(uint8_t out) {
  if (!selected_) return 0xFF;
  rx_.push_back(out);
  return ReadOut(rx_.size() - 1);
}

void SpiNorFlash::Deselect() {
  if (!selected_) return;
  selected_ = false;
  Execute();
  rx_.clear();
}

std::vector<uint8_t> SpiNorFlash::Command(std::initializer_list<uint8_t> out, size_t in_len) {
  Select();
  for (uint8_t b : out) Transfer(b);
  std::vector<uint8_t> in(in_len);
  for (auto& b : in) b = Transfer(0xFF);
  Deselect();
  return in;
}

void SpiNorFlash::ProgramImage(uint32_t address, const std::vector<uint8_t>& bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) mem_[(address + i) % mem_.size()] = bytes[i];
}

void SpiNorFlash::Tick() {
  if (busy_ && clock_.NowUs() >= busy_until_) {
    busy_ = false;
    wel_ = false;
  }
}

bool SpiNorFlash::Busy() {
  Tick();
  return busy_;
}

uint8_t SpiNorFlash::Status1() {
  Tick();
  return static_cast<uint8_t>(sr1_ | (wel_ ? kWel : 0) | (busy_ ? kBusy : 0));
}

void SpiNorFlash::SetStatus(uint8_t sr1, uint8_t sr2) {
  SetLiveStatus(sr1, sr2);
  nv_sr1_ = sr1_;
  nv_sr2_ = sr2_;
}

void SpiNorFlash::SetLiveStatus(uint8_t sr1, uint8_t sr2) {
  sr1_ = static_cast<uint8_t>(sr1 & ~(kBusy | kWel));
  sr2_ = static_cast<uint8_t>(sr2 & 0x7F);
}

bool SpiNorFlash::Protected() const {
  return (sr1_ & kBlockProtect) != 0 || (sr2_ & kCmp) != 0;
}

uint64_t SpiNorFlash::ChipEraseUs() const {
  return std::max<uint64_t>(1000, uint64_t{Size()} * kChipEraseUsPerMiB / 0x100000);
}

uint32_t SpiNorFlash::AddressFromHeader() const {
  return (uint32_t{rx_[1]} << 16 | uint32_t{rx_[2]} << 8 | rx_[3]) % Size();
}

uint8_t SpiNorFlash::ReadOut(size_t k) {
  if (k == 0) return 0xFF;
  const uint8_t op = rx_[0];
  if (op == kReadStatus) return Status1();
  if (op == kReadStatus2) return sr2_;
  // A busy part answers nothing but its status: the line floats high.
  if (Busy()) return 0xFF;
  switch (op) {
    case kRead:
      return k >= 4 ? mem_[(AddressFromHeader() + (k - 4)) % Size()] : 0xFF;
    case kFastRead:
      return k >= 5 ? mem_[(AddressFromHeader() + (k - 5)) % Size()] : 0xFF;
    case kJedecId: {
      uint8_t capacity = 0;
      while ((uint64_t{1} << capacity) < Size()) ++capacity;
      const uint8_t id[] = {0xEF, 0x40, capacity};
      return k <= 3 ? id[k - 1] : 0xFF;
    }
    default:
      return 0xFF;
  }
}

void SpiNorFlash::StartTimed(uint64_t us) {
  busy_ = true;
  busy_until_ = clock_.NowUs() + us;
}

void SpiNorFlash::WriteStatus(bool with_sr2, uint8_t sr1, uint8_t sr2, bool non_volatile) {
  sr1_ = static_cast<uint8_t>(sr1 & ~(kBusy | kWel));
  if (with_sr2) {
    // The lock bits are one-time programmable: only a non-volatile write sets
    // them, and nothing clears them.
    const uint8_t locks = static_cast<uint8_t>((sr2_ | (non_volatile ? sr2 : 0)) & kLockBits);
    sr2_ = static_cast<uint8_t>((sr2 & 0x47) | locks);
  }
  if (non_volatile) {
    nv_sr1_ = sr1_;
    nv_sr2_ = sr2_;
  }
}

void SpiNorFlash::Erase(uint32_t address, uint32_t unit, uint64_t us) {
  if (Protected()) {
    wel_ = false;
    return;
  }
  const uint32_t start = address / unit * unit;
  const uint32_t end = std::min<uint32_t>(start + unit, Size());
  std::fill(mem_.begin() + start, mem_.begin() + end, 0xFF);
  StartTimed(us);
}

void SpiNorFlash::Execute() {
  if (rx_.empty()) return;
  const uint8_t op = rx_[0];
  if (IsRead(op)) return;
  Tick();
  if (busy_) return;  // ignored while an erase or program runs
  const bool volatile_we = volatile_we_;
  volatile_we_ = false;
  const size_t n = rx_.size();
  switch (op) {
    case kWriteEnable:
      wel_ = true;
      break;
    case kWriteDisable:
      wel_ = false;
      break;
    case kVolatileWriteEnable:
      volatile_we_ = true;
      break;
    case kWriteStatus:
    case kWriteStatus2:
      if (n < 2 || (!wel_ && !volatile_we)) break;
      if (op == kWriteStatus)
        WriteStatus(n >= 3, rx_[1], n >= 3 ? rx_[2] : 0, wel_);
      else
        WriteStatus(true, sr1_, rx_[1], wel_);
      // Volatile writes take effect at once; the non-volatile cells take time.
      if (wel_) StartTimed(kStatusWriteUs);
      break;
    case kPageProgram: {
      if (n < 5 || !wel_) break;
      if (Protected()) {
        wel_ = false;
        break;
      }
      const uint32_t address = AddressFromHeader();
      const uint32_t page = address & ~0xFFu;
      // Beyond 256 bytes the part wraps inside the page: the last bytes sent win.
      std::vector<int> latch(256, -1);
      for (size_t i = 4; i < n; ++i) latch[(address + (i - 4)) & 0xFF] = rx_[i];
      for (uint32_t off = 0; off < 256; ++off)
        if (latch[off] >= 0 && page + off < Size())
          mem_[page + off] &= static_cast<uint8_t>(latch[off]);
      StartTimed(kPageProgramUs);
      break;
    }
    case kSectorErase:
    case kSectorErase2:
      if (n >= 4 && wel_) Erase(AddressFromHeader(), 0x1000, kSectorEraseUs);
      break;
    case kBlockErase32:
      if (n >= 4 && wel_) Erase(AddressFromHeader(), 0x8000, kBlock32EraseUs);
      break;
    case kBlockErase64:
      if (n >= 4 && wel_) Erase(AddressFromHeader(), 0x10000, kBlock64EraseUs);
      break;
    case kChipErase:
    case kChipErase2:
      if (wel_) Erase(0, Size(), ChipEraseUs());
      break;
    default:
      break;  // 0xAA, 0x55 and anything unknown: no effect
  }
}

}  // namespace pdflash::sim
