#include "sim/sim_bus.h"

#include <cstdio>
#include <filesystem>

#include "sim/challenge_unit.h"
#include "sim/sim_config.h"
#include "sim/sim_device.h"

namespace pdflash::sim {

struct SimBus::Impl {
  Impl(std::string d, Clock& c, std::string coefficients)
      : dir(std::move(d)), clock(c), coefficient_file(std::move(coefficients)) {}

  std::string dir;
  Clock& clock;
  std::string coefficient_file;
  bool loaded = false;
  std::vector<std::string> ini_lines;
  std::vector<DeviceConfig> configs;
  std::vector<std::unique_ptr<SimDevice>> devices;
  std::vector<TransferRecord> log;
  bool log_enabled = true;

  std::string Path(const std::string& name) const { return JoinPath(dir, name); }

  SimDevice* FindPresent(const std::string& path) {
    for (auto& d : devices)
      if (d->Present() && d->Path() == path) return d.get();
    return nullptr;
  }

  int IndexOf(const SimDevice* device) const {
    for (size_t i = 0; i < devices.size(); ++i)
      if (devices[i].get() == device) return static_cast<int>(i);
    return -1;
  }
};

namespace {

bool LoadFlash(const std::string& path, const std::string& name, SpiNorFlash& flash,
               std::string& error) {
  if (!std::filesystem::exists(path)) return true;  // blank part
  std::string bytes;
  if (!ReadWholeFile(path, bytes)) {
    error = name + " cannot be read";
    return false;
  }
  if (bytes.size() != flash.Size()) {
    char size[16];
    std::snprintf(size, sizeof size, "%X", flash.Size());
    error = name + " holds " + std::to_string(bytes.size()) + " bytes, not the flash size " + size +
            " (hex) of device.ini";
    return false;
  }
  flash.Data().assign(bytes.begin(), bytes.end());
  return true;
}

std::string AsText(const std::vector<uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

class SimHandle final : public UsbDevice {
 public:
  SimHandle(SimBus::Impl& bus, SimDevice& device, int index)
      : bus_(bus), device_(device), index_(index), generation_(device.Generation()) {}

  bool ControlTransfer(const SetupPacket& setup, uint8_t* data) override {
    TransferRecord r;
    r.device = index_;
    r.setup = setup;
    r.time_us = bus_.clock.NowUs();
    const bool out = (setup.bmRequestType & 0x80) == 0;
    if (out && data) r.data.assign(data, data + setup.wLength);
    r.ok = (data || setup.wLength == 0) && device_.Transfer(generation_, setup, data);
    if (!out && r.ok) r.data.assign(data, data + setup.wLength);
    const bool ok = r.ok;
    if (bus_.log_enabled) bus_.log.push_back(std::move(r));
    return ok;
  }

  bool ReadDeviceDescriptor(std::array<uint8_t, 18>& out) override {
    if (!device_.Present() || device_.Generation() != generation_) return false;
    out = device_.Descriptor();
    return true;
  }

 private:
  SimBus::Impl& bus_;
  SimDevice& device_;
  int index_;
  uint32_t generation_;
};

}  // namespace

SimBus::SimBus(std::string dir, Clock& clock, std::string coefficient_file)
    : impl_(std::make_unique<Impl>(std::move(dir), clock, std::move(coefficient_file))) {}

SimBus::~SimBus() {
  Save();
}

bool SimBus::Load(std::string& error) {
  Impl& m = *impl_;
  m.loaded = false;
  m.devices.clear();
  m.log.clear();
  std::string text;
  if (!ReadWholeFile(m.Path(kDeviceIni), text)) {
    error = "no " + std::string(kDeviceIni) + " in '" + m.dir + "' (pdsim init makes one)";
    return false;
  }
  if (!ParseDeviceIni(text, m.configs, error)) return false;
  m.ini_lines = SplitLines(text);

  std::string state_text;
  const bool have_state = ReadWholeFile(m.Path(kStateFile), state_text);
  const std::vector<std::string> state_lines = SplitLines(state_text);

  for (const DeviceConfig& c : m.configs) {
    ChallengeCoefficients set;
    if (c.ChallengeClient &&
        !LoadChallengeCoefficients(m.coefficient_file, c.ChallengeClient, set, error)) {
      error = "[" + c.section + "] " + error;
      return false;
    }
    auto device = std::make_unique<SimDevice>(m.clock, c, set);
    const std::string name1 = FlashFileName(c.number, 1);
    if (!LoadFlash(m.Path(name1), name1, device->Flash(), error)) return false;
    if (device->Flash2()) {
      const std::string name2 = FlashFileName(c.number, 2);
      if (!LoadFlash(m.Path(name2), name2, *device->Flash2(), error)) return false;
    }
    device->PowerOn();
    if (have_state) device->LoadState(IniEntries(state_lines, c.section));
    m.devices.push_back(std::move(device));
  }
  m.loaded = true;
  return true;
}

void SimBus::Save() {
  std::string error;
  Save(error);
}

void SimBus::Discard() {
  impl_->loaded = false;
}

bool SimBus::Save(std::string& error) {
  Impl& m = *impl_;
  if (!m.loaded) return true;  // never clobber a directory that did not load
  bool ok = true;
  std::string state =
      "; Volatile state of the virtual board; delete this file to power-cycle it.\n";
  for (size_t i = 0; i < m.devices.size(); ++i) {
    SimDevice& d = *m.devices[i];
    DeviceConfig& c = m.configs[i];
    d.UpdateConfig(c);
    SetIniLine(m.ini_lines, c.section, "Mode", DeviceKeyText(c, "Mode"));
    const bool flash2 = d.Flash2() != nullptr;
    const std::pair<const char*, uint32_t> status[] = {
        {"FlashStatus", c.FlashStatus},
        {"FlashStatus2", c.FlashStatus2},
        {"Flash2Status", flash2 ? c.Flash2Status : 0},
        {"Flash2Status2", flash2 ? c.Flash2Status2 : 0}};
    for (const auto& [key, value] : status)
      if (value || HasIniKey(m.ini_lines, c.section, key))
        SetIniLine(m.ini_lines, c.section, key, DeviceKeyText(c, key));

    const std::string name1 = FlashFileName(c.number, 1);
    if (!WriteWholeFile(m.Path(name1), AsText(d.Flash().Data()))) {
      error = name1 + " cannot be written";
      ok = false;
    }
    if (d.Flash2()) {
      const std::string name2 = FlashFileName(c.number, 2);
      if (!WriteWholeFile(m.Path(name2), AsText(d.Flash2()->Data()))) {
        error = name2 + " cannot be written";
        ok = false;
      }
    }
    state += "\n[" + c.section + "]\n";
    for (const auto& [k, v] : d.SaveState()) state += k + "=" + v + "\n";
  }
  if (!WriteWholeFile(m.Path(kDeviceIni), JoinLines(m.ini_lines))) {
    error = std::string(kDeviceIni) + " cannot be written";
    ok = false;
  }
  if (!WriteWholeFile(m.Path(kStateFile), state)) {
    error = std::string(kStateFile) + " cannot be written";
    ok = false;
  }
  return ok;
}

std::vector<UsbDeviceInfo> SimBus::Enumerate() {
  std::vector<UsbDeviceInfo> list;
  for (auto& d : impl_->devices) {
    if (!d->Present()) continue;
    UsbDeviceInfo info;
    info.path = d->Path();
    info.descriptor = d->Descriptor();
    info.address = d->BusAddress();
    info.location = d->Config().Location;
    list.push_back(std::move(info));
  }
  return list;
}

std::unique_ptr<UsbDevice> SimBus::Open(const UsbDeviceInfo& info, UsbStatus& status) {
  SimDevice* d = impl_->FindPresent(info.path);
  if (!d) {
    status = UsbStatus::NotFound;
    return nullptr;
  }
  status = UsbStatus::Ok;
  return std::make_unique<SimHandle>(*impl_, *d, impl_->IndexOf(d));
}

LocationStatus SimBus::Location(const UsbDeviceInfo& info, std::string& text) {
  SimDevice* d = impl_->FindPresent(info.path);
  if (!d) return LocationStatus::KeyMissing;
  if (d->Config().Location.empty()) return LocationStatus::ValueMissing;
  text = d->Config().Location;
  return LocationStatus::Ok;
}

const std::vector<TransferRecord>& SimBus::Log() const {
  return impl_->log;
}
void SimBus::ClearLog() {
  impl_->log.clear();
}
void SimBus::SetLogEnabled(bool on) {
  impl_->log_enabled = on;
}
size_t SimBus::DeviceCount() const {
  return impl_->devices.size();
}
SimDevice& SimBus::Device(size_t index) {
  return *impl_->devices.at(index);
}

}  // namespace pdflash::sim
