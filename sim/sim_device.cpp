#include "sim/sim_device.h"

#include <cstdio>
#include <stdexcept>
#include <utility>

#include "core/bytes.h"
#include "sim/pd_copy.h"

namespace pdflash::sim {

namespace {

constexpr uint8_t kIn = 0xC0;
constexpr uint8_t kOut = 0x40;
constexpr uint16_t kMaxBlock = 32;

}  // namespace

SimDevice::SimDevice(Clock& clock, const DeviceConfig& config,
                     const ChallengeCoefficients& challenge_set)
    : clock_(clock),
      config_(config),
      ram_(0x10000, 0),
      spi_(*this, clock, config, config.Identity),
      challenge_(*this, config, config.number, challenge_set),
      security_(*this, clock, spi_, config),
      register_owner_(0x10000, nullptr),
      transient_(0x10000, false) {
  Join(spi_);
  Join(challenge_);
  if (config.Identity == 0xC0) Join(security_);
}

void SimDevice::Join(SimPart& part) {
  auto claim = [&part](SimPart*& owner) {
    if (owner) throw std::logic_error("two device parts claim the same request or register");
    owner = &part;
  };
  const PartClaims claims = part.Claims();
  for (uint8_t r : claims.requests) claim(request_owner_[r]);
  for (uint8_t c : claims.register_commands) claim(command_owner_[c]);
  for (const auto& range : claims.registers)
    for (uint32_t a = range.first; a <= range.last; ++a) claim(register_owner_[a]);
  for (uint16_t a : claims.transient) transient_[a] = true;
  parts_.push_back(&part);
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

bool SimDevice::NextTransferFails(uint32_t generation) {
  const uint32_t n = transfers_ + 1;
  if (unplugged_ || (config_.UnplugAtTransfer && n >= config_.UnplugAtTransfer)) return true;
  if (generation != generation_ || !Present()) return true;
  return config_.FailTransfer && n == config_.FailTransfer;
}

bool SimDevice::Transfer(uint32_t generation, const SetupPacket& setup, uint8_t* data) {
  const bool fails = NextTransferFails(generation);
  ++transfers_;
  if (config_.UnplugAtTransfer && transfers_ >= config_.UnplugAtTransfer) unplugged_ = true;
  return !fails && Dispatch(setup, data);
}

bool SimDevice::Dispatch(const SetupPacket& s, uint8_t* data) {
  const bool in = s.bmRequestType == kIn;
  const bool out = s.bmRequestType == kOut;
  if (!in && !out) return false;
  if (SimPart* part = request_owner_[s.bRequest]) return part->Request(s, data);
  switch (s.bRequest) {
    case 0xE0:
      return RegisterRequest(s, data);
    case 0xE2:  // running firmware version, most significant byte first
      if (!in || s.wValue != 0x0001 || s.wIndex != 0 || s.wLength != 4) return false;
      PutBe32(data, RunningVersion());
      return true;
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
    default:
      if (SimPart* part = command_owner_[sub]) return part->RegisterCommand(sub, a, s, data);
      return false;
  }
}

bool SimDevice::VendorCommand(uint8_t code) {
  // Families 8 and A jump to ROM code with 0xC0; the others prepare with 0xA0.
  const uint32_t family = config_.Identity >> 4;
  const bool direct_jump = family == 0x8 || family == 0xA;
  if ((code == 0xA0 && direct_jump) || (code == 0xC0 && !direct_jump)) return false;
  // A locked challenge makes the firmware ignore the jumps (ROM code has no gate).
  if (mode_ == Mode::App && challenge_.Locked()) return true;
  if (code == 0xA0)
    rom_jump_armed_ = true;
  else
    Restart(code == 0xC0 || rom_jump_armed_);
  return true;
}

// ---------------------------------------------------------------- registers

uint8_t SimDevice::ReadRegister(uint16_t a) {
  if (SimPart* part = register_owner_[a]) return part->ReadRegister(a);
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
    default:
      return ram_[a];
  }
}

uint8_t SimDevice::PeekRegister(uint16_t address) {
  return ReadRegister(address);
}

void SimDevice::WriteRegister(uint16_t a, uint8_t v) {
  if (SimPart* part = register_owner_[a]) return part->WriteRegister(a, v);
  switch (a) {
    case reg::kIdentity:
    case reg::kExtIdHigh:
    case reg::kExtIdLow:
    case reg::kExtVersion:
    case reg::kUsbAddress:
    case reg::kUfpStatusLow:
    case reg::kUfpStatusHigh:
      return;  // read-only
    case reg::kOrientation:
      ram_[a] = static_cast<uint8_t>(v & 0xF0);
      return;
    default:
      ram_[a] = v;
  }
}

// ---------------------------------------------------------------- modes

uint32_t SimDevice::RunningVersion() const {
  return mode_ == Mode::Rom ? config_.RomVersion : booted_version_;
}

void SimDevice::Boot(bool to_rom) {
  rom_jump_armed_ = false;
  if (!to_rom) {
    if (auto copy = FindBootCopy(spi_.Flash().Data())) {
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

void SimDevice::Restart(bool to_rom) {
  ++generation_;
  present_from_us_ = clock_.NowUs() + uint64_t{config_.ReenumerationDelay} * 1000;
  Boot(to_rom);
  for (SimPart* part : parts_) part->Restart();
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

StateEntries SimDevice::SaveState() const {
  StateEntries out;
  if (mode_ == Mode::App) {
    out.emplace_back("BootedCopy", booted_copy_ ? HexText(*booted_copy_, 6) : std::string("none"));
    out.emplace_back("BootedVersion", HexText(booted_version_, 8));
  }
  for (const SimPart* part : parts_) part->SaveState(out);
  for (uint32_t a = 0; a < ram_.size(); ++a)
    if (ram_[a] && !transient_[a]) {
      std::string key = "R";  // not "R" + ...: g++ 12 warns falsely about that at -O3
      key += HexText(a, 4);
      out.emplace_back(std::move(key), HexText(ram_[a], 2));
    }
  return out;
}

void SimDevice::LoadState(const StateEntries& entries) {
  std::optional<uint32_t> booted_copy;
  bool have_boot = false;
  uint32_t booted_version = 0;
  for (const auto& [key, text] : entries) {
    uint32_t v = 0;
    if (key == "BootedCopy") {
      have_boot = true;
      if (ParseHex(text, v)) booted_copy = v;
      continue;
    }
    if (!ParseHex(text, v)) continue;
    if (key == "BootedVersion") {
      booted_version = v;
    } else if (key.size() == 5 && key[0] == 'R') {
      uint32_t a = 0;
      if (ParseHex(key.substr(1), a)) ram_[a & 0xFFFF] = static_cast<uint8_t>(v);
    }
  }
  for (SimPart* part : parts_) part->LoadState(entries);
  // The firmware that was running keeps running, even if the flash changed since.
  if (mode_ == Mode::App && have_boot) {
    booted_copy_ = booted_copy;
    booted_version_ = booted_version;
  }
}

void SimDevice::UpdateConfig(DeviceConfig& c) {
  c.mode = mode_;
  for (const SimPart* part : parts_) part->UpdateConfig(c);
}

}  // namespace pdflash::sim
