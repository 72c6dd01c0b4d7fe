#include "sim/sim_bus.h"

namespace pdflash::sim {

struct SimBus::Impl {
  std::vector<TransferRecord> log;
};

SimBus::SimBus(std::string, Clock&, std::string) : impl_(std::make_unique<Impl>()) {}
SimBus::~SimBus() = default;
bool SimBus::Load(std::string& error) {
  error = "virtual device not built yet";
  return false;
}
void SimBus::Save() {}
std::vector<UsbDeviceInfo> SimBus::Enumerate() { return {}; }
std::unique_ptr<UsbDevice> SimBus::Open(const UsbDeviceInfo&, UsbStatus& status) {
  status = UsbStatus::NotFound;
  return nullptr;
}
LocationStatus SimBus::Location(const UsbDeviceInfo&, std::string&) { return LocationStatus::KeyMissing; }
const std::vector<TransferRecord>& SimBus::Log() const { return impl_->log; }

}  // namespace pdflash::sim
