#include "sim/sim_device.h"

#include <cstdio>

#include "core/bytes.h"
#include "sim/pd_copy.h"

namespace pdflash::sim {

namespace {

constexpr uint8_t kIn = 0xC0;
constexpr uint8_t kOut = 0x40;
constexpr uint16_t kMaxBlock = 32;

std::string Hex(uint32_t v, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, v);
  return buf;
}

}  // namespace

SimDevice::SimDevice(Clock& clock, const DeviceConfig& config, const CoefficientSet& challenge_set)
    : clock_(clock),
      config_(config),
      set_(challenge_set),
      flash_(std::make_unique<SpiNorFlash>(clock, config.FlashSize)),
      ram_(0x10000, 0),
      challenge_seed_(0x5EED0000u + static_cast<uint32_t>(config.number)) {
  flash_->SetStatus(static_cast<uint8_t>(config.FlashStatus),
                    static_cast<uint8_t>(config.FlashStatus2));
  if (config.Flash2Size) {
    flash2_ = std::make_unique<SpiNorFlash>(clock, config.Flash2Size);
    flash2_->SetStatus(static_cast<uint8_t>(config.Flash2Status),
                       static_cast<uint8_t>(config.Flash2Status2));
  }
  NextChallenge();
}

// ---------------------------------------------------------------- bus side

bool SimDevice::Present() {
  return !unplugged_ && clock_.NowUs() >= present_from_us_;
}

uint16_t SimDevice::Vid() const {
  return static_cast<uint16_t>(mode_ == Mode::App ? config_.AppVID : config_.RomVID);
}

uint16_t SimDevice::Pid() const {
  return static_cast<uint16_t>(mode_ == Mode::App ? config_.AppPID : config_.RomPID);
}

std::array<uint8_t, 18> SimDevice::Descriptor() const {
  std::array<uint8_t, 18> d{};
  d[0] = 18;    // bLength
  d[1] = 0x01;  // device descriptor
  PutLe16(&d[2], 0x0201);
  d[4] = 0x11;  // Billboard device class
  d[7] = 64;    // bMaxPacketSize0
  PutLe16(&d[8], Vid());
  PutLe16(&d[10], Pid());
  PutLe16(&d[12], static_cast<uint16_t>(config_.BcdDevice));
  d[14] = 1;  // iManufacturer
  d[15] = 2;  // iProduct
  d[17] = 1;  // one configuration
  return d;
}

std::string SimDevice::Path() const {
  // The instance part stands for the port the device is plugged into; it stays
  // the same across restarts, as Windows keeps it per port.
  uint32_t h = 2166136261u;
  for (char c : config_.Location + "#" + std::to_string(config_.number))
    h = (h ^ static_cast<uint8_t>(c)) * 16777619u;
  char buf[200];
  std::snprintf(buf, sizeof buf,
                "\\\\?\\usb#vid_%04x&pid_%04x#6&%07x&0&%d#{a5dcbf10-6530-11d2-901f-00c04fb951ed}",
                Vid(), Pid(), h & 0xFFFFFFF, config_.number);
  return buf;
}

bool SimDevice::Transfer(uint32_t generation, const SetupPacket& setup, uint8_t* data) {
  ++transfers_;
  if (config_.UnplugAtTransfer && transfers_ >= config_.UnplugAtTransfer) unplugged_ = true;
  if (unplugged_) return false;
  if (generation != generation_ || !Present()) return false;
  if (config_.FailTransfer && transfers_ == config_.FailTransfer) return false;
  return Dispatch(setup, data);
}

bool SimDevice::Dispatch(const SetupPacket& s, uint8_t* data) {
  const bool in = s.bmRequestType == kIn;
  const bool out = s.bmRequestType == kOut;
  if (!in && !out) return false;
  switch (s.bRequest) {
    case 0xE0:
      return RegisterRequest(s, data);
    case 0xE2:  // running firmware version, most significant byte first
      if (!in || s.wValue != 0x0001 || s.wIndex != 0 || s.wLength != 4) return false;
      PutBe32(data, RunningVersion());
      return true;
    case 0xC2:
    case 0xC4:
      return in && FlashRequest(s, data);
    case 0xD1:
    case 0xD2:
    case 0xD4:
    case 0xD8:
    case 0xDC:
      return out && FlashRequest(s, data);
    case 0xC5:  // task status: nothing pending
      if (!in) return false;
      for (uint16_t i = 0; i < s.wLength; ++i) data[i] = 0;
      return true;
    case 0xB2:  // I2C write pass-through
      if (!out) return false;
      i2c_writes_.emplace_back(data, data + s.wLength);
      return true;
    case 0xA0:
    case 0xB0:
    case 0xC0:
      return out && s.wLength == 0 && VendorCommand(s.bRequest);
    default:
      return false;
  }
}

bool SimDevice::RegisterRequest(const SetupPacket& s, uint8_t* data) {
  const uint8_t sub = static_cast<uint8_t>(s.wValue);
  if (s.wIndex > 0xFF) return false;
  const uint16_t a = static_cast<uint16_t>((s.wValue >> 8) | (s.wIndex << 8));
  const uint16_t n = s.wLength;
  const bool in = s.bmRequestType == kIn;
  switch (sub) {
    case 0x01:
      if (!in || n != 1) return false;
      data[0] = ReadRegister(a);
      return true;
    case 0x02:
      if (in || n != 1) return false;
      WriteRegister(a, data[0]);
      return true;
    case 0x03:
    case 0x05:
      if (!in || n > kMaxBlock) return false;
      for (uint16_t i = 0; i < n; ++i)
        data[i] = ReadRegister(static_cast<uint16_t>(sub == 0x03 ? a + i : a - i));
      return true;
    case 0x04:
    case 0x06:
      if (in || n > kMaxBlock) return false;
      for (uint16_t i = 0; i < n; ++i)
        WriteRegister(static_cast<uint16_t>(sub == 0x04 ? a + i : a - i), data[i]);
      return true;
    case 0x0D:
    case 0x0E:
    case 0x0F:
      if (a != 0) return false;
      return ChallengeRequest(sub, s, data);
    default:
      return false;  // the security engine is not part of this model
  }
}

bool SimDevice::ChallengeRequest(uint8_t sub, const SetupPacket& s, uint8_t* data) {
  // Firmware without a provisioned client has no challenge at all.
  if (config_.ChallengeClient == 0 || s.wLength != 2) return false;
  const bool in = s.bmRequestType == kIn;
  switch (sub) {
    case 0x0D:
      if (!in) return false;
      PutBe16(data, challenge_);
      return true;
    case 0x0F:
      if (!in) return false;
      PutBe16(data, challenge_counter_);
      return true;
    default: {
      if (in) return false;
      const uint16_t answer = Be16(data);
      if (challenge_counter_ != 0 && answer == challenge_counter_) {
        challenge_counter_ = 0;  // the counter sent back locks again
      } else if (answer == ExpectedAnswer(challenge_)) {
        challenge_counter_ =
            static_cast<uint16_t>(challenge_counter_ == 0xFFFF ? 1 : challenge_counter_ + 1);
      }
      // Every answer uses up the challenge, right or wrong.
      NextChallenge();
      return true;
    }
  }
}

uint16_t SimDevice::ExpectedAnswer(uint16_t challenge) const {
  uint32_t x = challenge;
  for (int round = 0; round < 3; ++round) {
    const uint32_t a = (x & set_.Mask1) * set_.Mult1;
    const uint32_t b = (x & set_.Mask2) * set_.Mult2;
    x = (a + b + set_.Add) % 0x10000;
  }
  return static_cast<uint16_t>(x);
}

void SimDevice::NextChallenge() {
  challenge_seed_ = challenge_seed_ * 1103515245u + 12345u;
  challenge_ = static_cast<uint16_t>(challenge_seed_ >> 16);
}

bool SimDevice::FlashRequest(const SetupPacket& s, uint8_t* data) {
  // Application firmware serves flash requests only on identity C0.
  if (mode_ == Mode::App && config_.Identity != 0xC0) return false;
  const uint8_t op = static_cast<uint8_t>(s.wValue);
  const uint32_t address = uint32_t{s.wIndex} << 8 | (s.wValue >> 8);
  const bool has_data = s.bRequest == 0xC2 || s.bRequest == 0xC4 || s.bRequest == 0xDC;
  if (!has_data && s.wLength != 0) return false;

  SpiMasterChipSelect(false);
  SpiNorFlash* f = SelectedFlash();
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

bool SimDevice::VendorCommand(uint8_t code) {
  // Families 8 and A jump to ROM code with 0xC0; the others prepare with 0xA0.
  const uint32_t family = config_.Identity >> 4;
  const bool direct_jump = family == 0x8 || family == 0xA;
  if ((code == 0xA0 && direct_jump) || (code == 0xC0 && !direct_jump)) return false;
  // A locked challenge makes the firmware ignore the jumps (ROM code has no gate).
  if (mode_ == Mode::App && config_.ChallengeClient != 0 && challenge_counter_ == 0) return true;
  if (code == 0xA0)
    rom_jump_armed_ = true;
  else
    Restart(code == 0xC0 || rom_jump_armed_);
  return true;
}

// ---------------------------------------------------------------- registers

uint8_t SimDevice::ReadRegister(uint16_t a) {
  switch (a) {
    case reg::kIdentity:
      return static_cast<uint8_t>(config_.Identity);
    case reg::kExtIdHigh:
      return static_cast<uint8_t>(config_.ExtIdHigh);
    case reg::kExtIdLow:
      return static_cast<uint8_t>(config_.ExtIdLow);
    case reg::kExtVersion:
      return static_cast<uint8_t>(config_.ExtVersion);
    case reg::kUsbAddress:
      return static_cast<uint8_t>(config_.UsbAddress);
    case reg::kOrientation:
      return static_cast<uint8_t>((ram_[a] & 0xF0) | (config_.Orientation & 0x0F));
    case reg::kUfpStatusLow:
      return static_cast<uint8_t>(config_.UfpStatus);
    case reg::kUfpStatusHigh:
      return static_cast<uint8_t>(config_.UfpStatus >> 8);
    case reg::kSpiControl:
      return static_cast<uint8_t>((ram_[a] & 0x7F) | (mode_ == Mode::App ? 0x80 : 0));
    case reg::kSpiBusy:
      return static_cast<uint8_t>((ram_[a] & 0xFE) | (clock_.NowUs() < master_busy_until_ ? 1 : 0));
    default:
      return ram_[a];
  }
}

uint8_t SimDevice::PeekRegister(uint16_t address) {
  return ReadRegister(address);
}

void SimDevice::WriteRegister(uint16_t a, uint8_t v) {
  switch (a) {
    case reg::kIdentity:
    case reg::kExtIdHigh:
    case reg::kExtIdLow:
    case reg::kExtVersion:
    case reg::kUsbAddress:
    case reg::kUfpStatusLow:
    case reg::kUfpStatusHigh:
    case reg::kSpiBusy:
      return;  // read-only
    case reg::kOrientation:
      ram_[a] = static_cast<uint8_t>(v & 0xF0);
      return;
    case reg::kSpiControl:
      ram_[a] = static_cast<uint8_t>(v & 0x7F);
      if (!(v & 0x01)) SpiMasterChipSelect(false);
      return;
    case reg::kSpiMode:
      ram_[a] = v;
      SpiMasterChipSelect((v & 0x40) != 0);
      return;
    case reg::kSpiStart:
      ram_[a] = static_cast<uint8_t>(v & ~0x04);  // the start bit clears itself
      if (v & 0x04) SpiMasterByte();
      return;
    default:
      ram_[a] = v;
  }
}

SpiNorFlash* SimDevice::SelectedFlash() {
  if (config_.Identity == 0xC0 && (ram_[reg::kSpiPortSelect] & 0x01)) return flash2_.get();
  return flash_.get();
}

void SimDevice::SpiMasterChipSelect(bool low) {
  if (low && !master_cs_) {
    if (!(ram_[reg::kSpiControl] & 0x01)) return;  // master disabled: the line stays high
    master_flash_ = SelectedFlash();
    if (master_flash_) master_flash_->Select();
    master_cs_ = true;
  } else if (!low && master_cs_) {
    if (master_flash_) master_flash_->Deselect();
    master_flash_ = nullptr;
    master_cs_ = false;
  }
}

void SimDevice::SpiMasterByte() {
  if (!(ram_[reg::kSpiControl] & 0x01) || !master_cs_) return;
  if (ram_[reg::kSpiMode] & 0x80) {
    if (master_flash_) master_flash_->Transfer(ram_[reg::kSpiData]);
  } else {
    ram_[reg::kSpiData] = master_flash_ ? master_flash_->Transfer(0xFF) : 0xFF;
  }
  ++master_bytes_;
  const bool stall = config_.SpiMasterStall != 0 && master_bytes_ == config_.SpiMasterStall;
  master_busy_until_ = stall ? UINT64_MAX : clock_.NowUs() + 1;
}

// ---------------------------------------------------------------- modes

uint32_t SimDevice::RunningVersion() const {
  return mode_ == Mode::Rom ? config_.RomVersion : booted_version_;
}

void SimDevice::Boot(bool to_rom) {
  rom_jump_armed_ = false;
  if (!to_rom) {
    if (auto copy = FindBootCopy(flash_->Data())) {
      mode_ = Mode::App;
      booted_copy_ = copy->address;
      booted_version_ = copy->version;
      return;
    }
  }
  mode_ = Mode::Rom;
  booted_copy_.reset();
  booted_version_ = 0;
}

void SimDevice::ResetVolatile() {
  SpiMasterChipSelect(false);
  for (uint16_t a : {reg::kSpiStart, reg::kSpiBusy, reg::kSpiMode, reg::kSpiData, reg::kSpiControl,
                     reg::kSpiPortSelect})
    ram_[a] = 0;
  master_busy_until_ = 0;
  challenge_counter_ = 0;
  NextChallenge();
}

void SimDevice::Restart(bool to_rom) {
  ++generation_;
  present_from_us_ = clock_.NowUs() + uint64_t{config_.ReenumerationDelay} * 1000;
  Boot(to_rom);
  ResetVolatile();
}

void SimDevice::PowerOn() {
  present_from_us_ = 0;
  if (config_.mode == Mode::Rom) {
    Boot(true);
    return;
  }
  Boot(false);
  // The board says application firmware runs; without a valid copy it reports
  // no version rather than pretending to be ROM code.
  mode_ = Mode::App;
}

// ---------------------------------------------------------------- persistence

std::vector<std::pair<std::string, std::string>> SimDevice::SaveState() const {
  std::vector<std::pair<std::string, std::string>> out;
  if (mode_ == Mode::App) {
    out.emplace_back("BootedCopy", booted_copy_ ? Hex(*booted_copy_, 6) : std::string("none"));
    out.emplace_back("BootedVersion", Hex(booted_version_, 8));
  }
  // Status written after the volatile enable lasts while the board is powered.
  const std::pair<const char*, const SpiNorFlash*> parts[] = {{"Flash", flash_.get()},
                                                              {"Flash2", flash2_.get()}};
  for (const auto& [name, f] : parts) {
    if (!f || (f->LiveStatus1() == f->StoredStatus1() && f->Status2() == f->StoredStatus2()))
      continue;
    out.emplace_back(std::string(name) + "LiveStatus", Hex(f->LiveStatus1(), 2));
    out.emplace_back(std::string(name) + "LiveStatus2", Hex(f->Status2(), 2));
  }
  out.emplace_back("ChallengeCounter", Hex(challenge_counter_, 4));
  out.emplace_back("ChallengeSeed", Hex(challenge_seed_, 8));
  for (uint32_t a = 0; a < ram_.size(); ++a) {
    // The SPI master's transaction does not outlive the run.
    if (a == reg::kSpiStart || a == reg::kSpiBusy || a == reg::kSpiMode || a == reg::kSpiData)
      continue;
    if (ram_[a]) out.emplace_back("R" + Hex(a, 4), Hex(ram_[a], 2));
  }
  return out;
}

void SimDevice::LoadState(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::optional<uint32_t> booted_copy;
  bool have_boot = false;
  uint32_t booted_version = 0;
  std::optional<uint32_t> live[2][2];  // [flash][register]
  for (const auto& [key, text] : entries) {
    uint32_t v = 0;
    if (key == "BootedCopy") {
      have_boot = true;
      if (ParseHex(text, v)) booted_copy = v;
      continue;
    }
    if (!ParseHex(text, v)) continue;
    if (key == "BootedVersion")
      booted_version = v;
    else if (key == "FlashLiveStatus")
      live[0][0] = v;
    else if (key == "FlashLiveStatus2")
      live[0][1] = v;
    else if (key == "Flash2LiveStatus")
      live[1][0] = v;
    else if (key == "Flash2LiveStatus2")
      live[1][1] = v;
    else if (key == "ChallengeCounter")
      challenge_counter_ = static_cast<uint16_t>(v);
    else if (key == "ChallengeSeed") {
      challenge_seed_ = v;
      challenge_ = static_cast<uint16_t>(v >> 16);
    } else if (key.size() == 5 && key[0] == 'R') {
      uint32_t a = 0;
      if (ParseHex(key.substr(1), a)) ram_[a & 0xFFFF] = static_cast<uint8_t>(v);
    }
  }
  SpiNorFlash* const flashes[] = {flash_.get(), flash2_.get()};
  for (int i = 0; i < 2; ++i) {
    if (!flashes[i] || !live[i][0] || !live[i][1]) continue;
    flashes[i]->SetLiveStatus(static_cast<uint8_t>(*live[i][0]), static_cast<uint8_t>(*live[i][1]));
  }
  // The firmware that was running keeps running, even if the flash changed since.
  if (mode_ == Mode::App && have_boot) {
    booted_copy_ = booted_copy;
    booted_version_ = booted_version;
  }
}

void SimDevice::UpdateConfig(DeviceConfig& c) {
  c.mode = mode_;
  c.FlashStatus = flash_->StoredStatus1();
  c.FlashStatus2 = flash_->StoredStatus2();
  if (flash2_) {
    c.Flash2Status = flash2_->StoredStatus1();
    c.Flash2Status2 = flash2_->StoredStatus2();
  }
}

}  // namespace pdflash::sim
