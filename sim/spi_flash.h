// A serial NOR flash part as the controller's SPI master sees it: bytes go in
// and out while chip select is low, and erase, program and status writes take
// effect when chip select rises. Timing is read from the shared clock, so an
// erase stays BUSY for as long as the tool's own waits let time pass.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "platform/platform.h"

namespace pdflash::sim {

class SpiNorFlash {
 public:
  // Status register 1 bits.
  static constexpr uint8_t kBusy = 0x01;
  static constexpr uint8_t kWel = 0x02;
  static constexpr uint8_t kBlockProtect = 0x1C;
  // Status register 2: complement protect, and the one-time lock bits.
  static constexpr uint8_t kCmp = 0x40;
  static constexpr uint8_t kLockBits = 0x38;

  // Plausible datasheet times.
  static constexpr uint64_t kPageProgramUs = 1000;
  static constexpr uint64_t kSectorEraseUs = 40000;
  static constexpr uint64_t kBlock32EraseUs = 120000;
  static constexpr uint64_t kBlock64EraseUs = 150000;
  static constexpr uint64_t kStatusWriteUs = 10000;
  static constexpr uint64_t kChipEraseUsPerMiB = 2000000;

  SpiNorFlash(Clock& clock, uint32_t size);

  // The wire: one transaction is Select, any number of Transfer, Deselect.
  void Select();
  uint8_t Transfer(uint8_t out);
  void Deselect();
  bool Selected() const { return selected_; }

  // One whole transaction: sends `out`, then clocks in `in_len` bytes.
  std::vector<uint8_t> Command(std::initializer_list<uint8_t> out, size_t in_len = 0);

  uint32_t Size() const { return static_cast<uint32_t>(mem_.size()); }
  // Raw contents, for loading, saving and inspection (no timing, no rules).
  std::vector<uint8_t>& Data() { return mem_; }
  const std::vector<uint8_t>& Data() const { return mem_; }
  // Writes bytes exactly, as a programmer erasing and programming would.
  void ProgramImage(uint32_t address, const std::vector<uint8_t>& bytes);

  // Live status register 1 (BUSY and WEL included) and register 2.
  uint8_t Status1();
  uint8_t Status2() const { return sr2_; }
  // Non-volatile bits at power-on (BUSY and WEL are never stored).
  void SetStatus(uint8_t sr1, uint8_t sr2);
  // What a power cycle brings back; a write after the volatile enable 0x50
  // changes only the live registers.
  uint8_t StoredStatus1() const { return nv_sr1_; }
  uint8_t StoredStatus2() const { return nv_sr2_; }
  // Live register bits without BUSY and WEL, and setting them while powered.
  uint8_t LiveStatus1() const { return sr1_; }
  void SetLiveStatus(uint8_t sr1, uint8_t sr2);
  bool Busy();
  bool Protected() const;

  // Time an erase of the whole part takes.
  uint64_t ChipEraseUs() const;

 private:
  void Tick();
  void Execute();
  void StartTimed(uint64_t us);
  uint32_t AddressFromHeader() const;
  uint8_t ReadOut(size_t index);
  void WriteStatus(bool with_sr2, uint8_t sr1, uint8_t sr2, bool non_volatile);
  void Erase(uint32_t address, uint32_t unit, uint64_t us);

  Clock& clock_;
  std::vector<uint8_t> mem_;
  uint8_t sr1_ = 0;  // bits 2..7; BUSY and WEL are kept apart
  uint8_t sr2_ = 0;
  uint8_t nv_sr1_ = 0, nv_sr2_ = 0;
  bool wel_ = false;
  bool volatile_we_ = false;
  uint64_t busy_until_ = 0;
  bool busy_ = false;

  bool selected_ = false;
  std::vector<uint8_t> rx_;  // bytes received in this transaction
};

}  // namespace pdflash::sim
