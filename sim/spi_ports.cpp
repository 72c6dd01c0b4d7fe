#include "sim/spi_ports.h"

#include <optional>

namespace pdflash::sim {

namespace {

constexpr uint8_t kIn = 0xC0;

}  // namespace

SpiPorts::SpiPorts(PartHost& host, Clock& clock, const SpiPortsConfig& config, uint32_t identity)
    : SimPart(host),
      clock_(clock),
      config_(config),
      identity_(identity),
      flash_(std::make_unique<SpiNorFlash>(clock, config.FlashSize)) {
  flash_->SetStatus(static_cast<uint8_t>(config.FlashStatus),
                    static_cast<uint8_t>(config.FlashStatus2));
  if (config.Flash2Size) {
    flash2_ = std::make_unique<SpiNorFlash>(clock, config.Flash2Size);
    flash2_->SetStatus(static_cast<uint8_t>(config.Flash2Status),
                       static_cast<uint8_t>(config.Flash2Status2));
  }
}

PartClaims SpiPorts::Claims() const {
  PartClaims c;
  c.requests = {0xC2, 0xC4, 0xD1, 0xD2, 0xD4, 0xD8, 0xDC};
  c.registers = {{reg::kSpiStart, reg::kSpiBusy},
                 {reg::kSpiMode, reg::kSpiControl},
                 {reg::kSpiPortSelect, reg::kSpiPortSelect}};
  // The master's transaction does not outlive the run; enable and port do.
  c.transient = {reg::kSpiStart, reg::kSpiBusy, reg::kSpiMode, reg::kSpiData};
  return c;
}

SpiNorFlash* SpiPorts::Selected() {
  if (identity_ == 0xC0 && (host_.Memory(reg::kSpiPortSelect) & 0x01)) return flash2_.get();
  return flash_.get();
}

// ---------------------------------------------------------------- requests

bool SpiPorts::Request(const SetupPacket& s, uint8_t* data) {
  const bool reads = s.bRequest == 0xC2 || s.bRequest == 0xC4;
  if ((s.bmRequestType == kIn) != reads) return false;
  // Application firmware serves flash requests only on identity C0.
  if (host_.CurrentMode() == Mode::App && identity_ != 0xC0) return false;
  const uint8_t op = static_cast<uint8_t>(s.wValue);
  const uint32_t address = uint32_t{s.wIndex} << 8 | (s.wValue >> 8);
  const bool has_data = reads || s.bRequest == 0xDC;
  if (!has_data && s.wLength != 0) return false;

  MasterChipSelect(false);
  SpiNorFlash* f = Selected();
  // An empty port reads as a floating line.
  auto xfer = [f](uint8_t b) { return f ? f->Transfer(b) : uint8_t{0xFF}; };
  auto send_address = [&] {
    xfer(static_cast<uint8_t>(address >> 16));
    xfer(static_cast<uint8_t>(address >> 8));
    xfer(static_cast<uint8_t>(address));
  };
  if (f) f->Select();
  xfer(op);
  switch (s.bRequest) {
    case 0xC2:
      for (uint16_t i = 0; i < s.wLength; ++i) data[i] = xfer(0xFF);
      break;
    case 0xC4:
      send_address();
      for (uint16_t i = 0; i < s.wLength; ++i) data[i] = xfer(0xFF);
      break;
    case 0xD2:
      send_address();
      break;
    case 0xD8:
      xfer(static_cast<uint8_t>(s.wValue >> 8));
      break;
    case 0xDC:
      send_address();
      for (uint16_t i = 0; i < s.wLength; ++i) xfer(data[i]);
      break;
    default:  // 0xD1, 0xD4: the opcode alone
      break;
  }
  if (f) f->Deselect();
  return true;
}

// ---------------------------------------------------------------- register master

uint8_t SpiPorts::ReadRegister(uint16_t a) {
  const uint8_t m = host_.Memory(a);
  switch (a) {
    case reg::kSpiControl:
      return static_cast<uint8_t>((m & 0x7F) | (host_.CurrentMode() == Mode::App ? 0x80 : 0));
    case reg::kSpiBusy:
      return static_cast<uint8_t>((m & 0xFE) | (clock_.NowUs() < master_busy_until_ ? 1 : 0));
    default:
      return m;
  }
}

void SpiPorts::WriteRegister(uint16_t a, uint8_t v) {
  uint8_t& m = host_.Memory(a);
  switch (a) {
    case reg::kSpiBusy:
      return;  // read-only
    case reg::kSpiControl:
      m = static_cast<uint8_t>(v & 0x7F);
      if (!(v & 0x01)) MasterChipSelect(false);
      return;
    case reg::kSpiMode:
      m = v;
      MasterChipSelect((v & 0x40) != 0);
      return;
    case reg::kSpiStart:
      m = static_cast<uint8_t>(v & ~0x04);  // the start bit clears itself
      if (v & 0x04) MasterByte();
      return;
    default:
      m = v;
  }
}

void SpiPorts::MasterChipSelect(bool low) {
  if (low && !master_cs_) {
    if (!(host_.Memory(reg::kSpiControl) & 0x01)) return;  // master disabled: the line stays high
    master_flash_ = Selected();
    if (master_flash_) master_flash_->Select();
    master_cs_ = true;
  } else if (!low && master_cs_) {
    if (master_flash_) master_flash_->Deselect();
    master_flash_ = nullptr;
    master_cs_ = false;
  }
}

void SpiPorts::MasterByte() {
  if (!(host_.Memory(reg::kSpiControl) & 0x01) || !master_cs_) return;
  uint8_t& data = host_.Memory(reg::kSpiData);
  if (host_.Memory(reg::kSpiMode) & 0x80) {
    if (master_flash_) master_flash_->Transfer(data);
  } else {
    data = master_flash_ ? master_flash_->Transfer(0xFF) : 0xFF;
  }
  ++master_bytes_;
  const bool stall = config_.SpiMasterStall != 0 && master_bytes_ == config_.SpiMasterStall;
  master_busy_until_ = stall ? UINT64_MAX : clock_.NowUs() + 1;
}

// ---------------------------------------------------------------- lifetime

void SpiPorts::Restart() {
  MasterChipSelect(false);
  for (uint16_t a : {reg::kSpiStart, reg::kSpiBusy, reg::kSpiMode, reg::kSpiData, reg::kSpiControl,
                     reg::kSpiPortSelect})
    host_.Memory(a) = 0;
  master_busy_until_ = 0;
}

namespace {

const char* const kFlashNames[] = {"Flash", "Flash2"};

}  // namespace

void SpiPorts::SaveState(StateEntries& out) const {
  // Status written after the volatile enable lasts while the board is powered.
  const SpiNorFlash* const parts[] = {flash_.get(), flash2_.get()};
  for (int i = 0; i < 2; ++i) {
    const SpiNorFlash* f = parts[i];
    if (!f || (f->LiveStatus1() == f->StoredStatus1() && f->Status2() == f->StoredStatus2()))
      continue;
    out.emplace_back(std::string(kFlashNames[i]) + "LiveStatus", HexText(f->LiveStatus1(), 2));
    out.emplace_back(std::string(kFlashNames[i]) + "LiveStatus2", HexText(f->Status2(), 2));
  }
}

void SpiPorts::LoadState(const StateEntries& entries) {
  std::optional<uint32_t> live[2][2];  // [flash][register]
  for (const auto& [key, text] : entries) {
    for (int i = 0; i < 2; ++i) {
      const std::string name = kFlashNames[i];
      const int reg = key == name + "LiveStatus" ? 0 : key == name + "LiveStatus2" ? 1 : -1;
      uint32_t v = 0;
      if (reg >= 0 && ParseHex(text, v)) live[i][reg] = v;
    }
  }
  SpiNorFlash* const parts[] = {flash_.get(), flash2_.get()};
  for (int i = 0; i < 2; ++i) {
    if (!parts[i] || !live[i][0] || !live[i][1]) continue;
    parts[i]->SetLiveStatus(static_cast<uint8_t>(*live[i][0]), static_cast<uint8_t>(*live[i][1]));
  }
}

void SpiPorts::UpdateConfig(DeviceConfig& c) const {
  c.FlashStatus = flash_->StoredStatus1();
  c.FlashStatus2 = flash_->StoredStatus2();
  if (flash2_) {
    c.Flash2Status = flash2_->StoredStatus1();
    c.Flash2Status2 = flash2_->StoredStatus2();
  }
}

}  // namespace pdflash::sim
