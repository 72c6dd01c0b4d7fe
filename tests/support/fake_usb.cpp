#include "support/fake_usb.h"

#include <cstring>

#include "image/bytes.h"

namespace pdflash::test {

uint8_t FakeController::ReadReg(uint16_t a) {
  auto it = reg_script.find(a);
  if (it != reg_script.end() && !it->second.empty()) {
    const uint8_t v = it->second.front();
    it->second.pop_front();
    return v;
  }
  auto r = regs.find(a);
  return r == regs.end() ? 0 : r->second;
}

void FakeController::WriteReg(uint16_t a, uint8_t v) {
  regs[a] = v;
  reg_writes[a].push_back(v);
  // The register-level SPI master: 0xF5 selects the phase, bit 2 of 0xF0
  // clocks the byte in 0xF6 out (command phase) or the next flash byte in.
  if (a == 0x00F5 && v == 0x00) {
    spi_command_.clear();
    spi_index_ = 0;
  }
  if (a == 0x00F0 && (v & 0x04)) {
    regs[0x00F0] = v & ~0x04;
    const uint8_t phase = regs[0x00F5];
    if (phase == 0xC0) {
      spi_command_.push_back(regs[0x00F6]);
    } else if (phase == 0x40 && spi_command_.size() >= 4 && !flash.empty()) {
      const uint32_t address = Be32(spi_command_.data()) & 0xFFFFFF;
      regs[0x00F6] = flash[(address + spi_index_++) % flash.size()];
    }
  }
}

bool FakeController::Register(const SetupPacket& s, uint8_t* data) {
  const uint8_t sub = s.wValue & 0xFF;
  const uint16_t a = static_cast<uint16_t>((s.wValue >> 8) | (s.wIndex << 8));
  switch (sub) {
    case 0x01:
      data[0] = ReadReg(a);
      return true;
    case 0x02:
      WriteReg(a, data[0]);
      return true;
    case 0x03:
      for (uint16_t i = 0; i < s.wLength; ++i) data[i] = ReadReg(static_cast<uint16_t>(a + i));
      return true;
    case 0x04:
      for (uint16_t i = 0; i < s.wLength; ++i) WriteReg(static_cast<uint16_t>(a + i), data[i]);
      return true;
    case 0x05:
      for (uint16_t i = 0; i < s.wLength; ++i) data[i] = ReadReg(static_cast<uint16_t>(a - i));
      return true;
    case 0x06:
      for (uint16_t i = 0; i < s.wLength; ++i) WriteReg(static_cast<uint16_t>(a - i), data[i]);
      return true;
    case 0x0D:
      PutBe16(data, challenge);
      return true;
    case 0x0F:
      PutBe16(data, counter);
      return true;
    case 0x0E: {
      const uint16_t answer = Be16(data);
      if (counter == 0 && answer == expected_answer)
        counter = 1;
      else if (counter != 0 && answer == counter && !lock_refused)
        counter = 0;
      return true;
    }
    default:
      return false;
  }
}

bool FakeController::Transfer(const SetupPacket& s, uint8_t* data) {
  ++count_;
  FakeTransfer rec;
  rec.setup = s;
  rec.time_us = clock_ ? clock_->NowUs() : 0;
  const bool out = (s.bmRequestType & 0x80) == 0;
  if (out && s.wLength > 0) rec.data.assign(data, data + s.wLength);
  if (fail_transfers.count(count_) || (fail_if && fail_if(s))) {
    log.push_back(rec);
    return false;
  }
  std::vector<uint8_t> in(s.wLength, 0);
  uint8_t* buf = out ? data : in.data();
  const uint32_t address = static_cast<uint32_t>(s.wValue >> 8) | static_cast<uint32_t>(s.wIndex)
                                                                      << 8;
  const uint8_t opcode = s.wValue & 0xFF;
  bool ok = true;
  switch (s.bRequest) {
    case 0xE0:
      ok = Register(s, buf);
      break;
    case 0xE2:
      std::memcpy(buf, version.data(), std::min<size_t>(4, s.wLength));
      break;
    case 0xC2:
      for (uint16_t i = 0; i < s.wLength; ++i) {
        if (opcode == 0x35) {
          buf[i] = status2;
        } else if (!status_script.empty()) {
          buf[i] = status_script.front();
          status_script.pop_front();
        } else {
          buf[i] = status;
        }
      }
      break;
    case 0xC4:
      for (uint16_t i = 0; i < s.wLength; ++i)
        buf[i] = flash.empty() ? 0xFF : flash[(address + i) % flash.size()];
      break;
    case 0xDC:
      for (uint16_t i = 0; i < s.wLength && !flash.empty(); ++i)
        flash[(address + i) % flash.size()] &= buf[i];
      break;
    case 0xD2:
      if (!erase_ignored && !flash.empty())
        for (uint32_t i = 0; i < 0x1000; ++i)
          flash[((address & ~0xFFFu) + i) % flash.size()] = 0xFF;
      break;
    case 0xD1:
      if (!erase_ignored) std::fill(flash.begin(), flash.end(), 0xFF);
      break;
    case 0xD8:
      if (opcode == 0x31)
        status2 = static_cast<uint8_t>(s.wValue >> 8);
      else if (opcode == 0x01 && !status_sticky)
        status = static_cast<uint8_t>(s.wValue >> 8);
      break;
    default:
      break;  // vendor commands, write enable, I2C, task status
  }
  if (!out && ok) {
    std::memcpy(data, in.data(), s.wLength);
    rec.data = in;
  }
  rec.ok = ok;
  log.push_back(rec);
  return ok;
}

std::vector<FakeTransfer> FakeController::Requests(uint8_t request, int sub) const {
  std::vector<FakeTransfer> out;
  for (const auto& r : log)
    if (r.setup.bRequest == request && (sub < 0 || (r.setup.wValue & 0xFF) == sub))
      out.push_back(r);
  return out;
}

void FakeController::SetFlash(uint32_t address, const std::vector<uint8_t>& bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) flash[(address + i) % flash.size()] = bytes[i];
}

std::array<uint8_t, 18> MakeDescriptor(uint16_t vid, uint16_t pid, uint16_t bcd) {
  std::array<uint8_t, 18> d{};
  d[0] = 18;
  d[1] = 1;
  PutLe16(&d[8], vid);
  PutLe16(&d[10], pid);
  PutLe16(&d[12], bcd);
  return d;
}

FakeBusEntry& FakeBus::Add(uint16_t vid, uint16_t pid, std::shared_ptr<FakeController> c,
                           const std::string& location) {
  FakeBusEntry e;
  e.info.path = "\\\\?\\usb#vid_" + std::to_string(vid) + "&pid_" + std::to_string(pid) + "#" +
                std::to_string(entries.size()) + "&0#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
  e.info.descriptor = MakeDescriptor(vid, pid, 0x0100);
  e.info.address = static_cast<uint8_t>(entries.size() + 1);
  e.info.location = location;
  e.controller = std::move(c);
  entries.push_back(std::move(e));
  return entries.back();
}

std::vector<UsbDeviceInfo> FakeBus::Enumerate() {
  ++enumerations;
  std::vector<UsbDeviceInfo> out;
  for (const auto& e : entries) out.push_back(e.info);
  return out;
}

std::unique_ptr<UsbDevice> FakeBus::Open(const UsbDeviceInfo& info, UsbStatus& status) {
  for (const auto& e : entries) {
    if (e.info.path != info.path) continue;
    status = e.open_status;
    if (status != UsbStatus::Ok) return nullptr;
    return std::make_unique<FakeDevice>(e.controller, e.info.descriptor);
  }
  status = UsbStatus::NotFound;
  return nullptr;
}

LocationStatus FakeBus::Location(const UsbDeviceInfo& info, std::string& text) {
  for (const auto& e : entries) {
    if (e.info.path != info.path) continue;
    if (e.location_status == LocationStatus::Ok) text = e.info.location;
    return e.location_status;
  }
  return LocationStatus::KeyMissing;
}

DeviceFixture::DeviceFixture() : dev(std::make_shared<FakeController>(&clock)) {
  t.exe_dir = dir.path();
  t.cwd = dir.path();
  host.exe_path = dir / "pdflash";
  link.dev = std::make_unique<FakeDevice>(dev, MakeDescriptor(0x2109, 0x0107, 0x0100));
  link.open = true;
}

std::string DeviceFixture::Out() {
  std::string s = console.out.substr(seen_);
  seen_ = console.out.size();
  return s;
}

}  // namespace pdflash::test
