#include "sim/gadget.h"

#include <cstdio>

#include "core/bytes.h"
#include "sim/sim_bus.h"
#include "sim/sim_device.h"

namespace pdflash::sim {

namespace {

std::string IdsText(const GadgetIds& ids) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04X:%04X bcdDevice %04X (%s)", ids.vid, ids.pid, ids.bcd_device,
                ids.rom ? "ROM code" : "application firmware");
  return buf;
}

}  // namespace

GadgetServer::GadgetServer(SimBus& bus, size_t index, GadgetPort& port, Say say)
    : bus_(bus), index_(index), port_(port), say_(std::move(say)) {}

GadgetServer::~GadgetServer() = default;

GadgetIds GadgetServer::CurrentIds() const {
  SimDevice& d = bus_.Device(index_);
  GadgetIds ids;
  ids.vid = d.Vid();
  ids.pid = d.Pid();
  ids.bcd_device = static_cast<uint16_t>(d.Config().BcdDevice);
  ids.rom = d.CurrentMode() == Mode::Rom;
  return ids;
}

void GadgetServer::Tell(const std::string& line) const {
  if (say_) say_(line);
}

// A handle as the tool would open one: it dies with the next restart, which
// is how the model tells a transport that the device left the bus.
bool GadgetServer::OpenHandle() {
  SimDevice& d = bus_.Device(index_);
  handle_.reset();
  if (!d.Present()) return false;
  for (const UsbDeviceInfo& info : bus_.Enumerate()) {
    if (info.path != d.Path()) continue;
    UsbStatus status = UsbStatus::Ok;
    handle_ = bus_.Open(info, status);
    generation_ = d.Generation();
    return handle_ != nullptr;
  }
  return false;
}

bool GadgetServer::Start(std::string& error) {
  if (index_ >= bus_.DeviceCount()) {
    error = "the board has no device " + std::to_string(index_ + 1);
    return false;
  }
  if (!OpenHandle()) {
    error = "the device is not on the bus";
    return false;
  }
  if (!port_.Attach(CurrentIds(), error)) return false;
  state_ = State::Attached;
  Tell("on the bus as " + IdsText(CurrentIds()));
  return true;
}

void GadgetServer::Setup(const SetupPacket& s) {
  ++requests_;
  if (state_ != State::Attached || !handle_) {
    port_.Stall();
    ++stalls_;
    return;
  }
  SimDevice& d = bus_.Device(index_);
  const bool in = (s.bmRequestType & 0x80) != 0;
  buffer_.assign(s.wLength, 0);
  uint8_t* data = buffer_.data();
  bool answered = true;  // false: the model failed the request
  if (in) {
    answered = handle_->ControlTransfer(s, data);
    if (answered) port_.SendData(data, buffer_.size());
  } else if (s.wLength == 0) {
    answered = handle_->ControlTransfer(s, data);
    if (answered) port_.Acknowledge();
  } else if (d.NextTransferFails(generation_)) {
    // FunctionFS acknowledges OUT data by itself, so a stall must come
    // before the data stage; the model still counts the transfer.
    answered = handle_->ControlTransfer(s, data);
  } else if (port_.ReceiveData(data, buffer_.size()) && !handle_->ControlTransfer(s, data)) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "request %02X %04X %04X refused after its data stage: the host saw it succeed",
                  s.bRequest, s.wValue, s.wIndex);
    Tell(line);
  }
  if (d.Unplugged()) {
    // Gone in the middle: the pending request dies with the disconnect.
    port_.Detach();
    handle_.reset();
    state_ = State::Gone;
    Tell("unplugged at transfer " + std::to_string(d.TransferCount()) +
         ": off the bus until pdsim gadget ends");
    return;
  }
  if (!answered) {
    port_.Stall();
    ++stalls_;
  }
  if (d.Generation() != generation_) {
    port_.Detach();
    handle_.reset();
    state_ = State::Restarting;
    Tell("restart: off the bus");
  }
}

void GadgetServer::Poll() {
  if (state_ != State::Restarting || !OpenHandle()) return;
  std::string error;
  if (!port_.Attach(CurrentIds(), error)) {
    Tell("cannot come back on the bus: " + error);
    handle_.reset();
    state_ = State::Gone;
    return;
  }
  state_ = State::Attached;
  Tell("back on the bus as " + IdsText(CurrentIds()));
}

int GadgetServer::PollDelayMs() const {
  return state_ == State::Restarting ? 10 : -1;
}

// ---------------------------------------------------------------- FunctionFS blobs

namespace {

constexpr uint32_t kDescriptorsMagicV2 = 3;
constexpr uint32_t kStringsMagic = 2;
// Full, high and super speed descriptors; every request that reaches the
// function, whatever its recipient, also while the host has not configured
// the device yet: the tool talks to the device, not to an interface.
constexpr uint32_t kHasFs = 1, kHasHs = 2, kHasSs = 4, kAllCtrlRecip = 64, kConfig0Setup = 128;

void PutLe32(std::vector<uint8_t>& out, uint32_t v) {
  uint8_t b[4];
  pdflash::PutLe32(b, v);
  out.insert(out.end(), b, b + 4);
}

}  // namespace

std::vector<uint8_t> FunctionFsDescriptors() {
  // The Billboard interface: class 11, no endpoints, no string.
  const uint8_t interface[9] = {9, 0x04, 0, 0, 0, 0x11, 0, 0, 0};
  std::vector<uint8_t> out;
  PutLe32(out, kDescriptorsMagicV2);
  PutLe32(out, 0);  // length, below
  PutLe32(out, kHasFs | kHasHs | kHasSs | kAllCtrlRecip | kConfig0Setup);
  for (int speed = 0; speed < 3; ++speed) PutLe32(out, 1);
  for (int speed = 0; speed < 3; ++speed) out.insert(out.end(), interface, interface + 9);
  pdflash::PutLe32(&out[4], static_cast<uint32_t>(out.size()));
  return out;
}

std::vector<uint8_t> FunctionFsStrings() {
  std::vector<uint8_t> out;
  PutLe32(out, kStringsMagic);
  PutLe32(out, 16);
  PutLe32(out, 0);  // strings
  PutLe32(out, 0);  // languages
  return out;
}

std::string GadgetUsage() {
  return "Usage: pdsim gadget DIR [--device N] [--udc NAME] [--verbose]\n"
         "\n"
         "Serves the board DIR on a USB device controller (UDC) of this Linux machine, so\n"
         "that the tool, or any host cabled to that port, sees a real USB Billboard device:\n"
         "the IDs and bcdDevice of device.ini, every vendor request answered by the same\n"
         "model as PDFLASH_SIM=DIR, a stall where the model fails a request, and a\n"
         "disconnect and reconnect (under the ROM IDs) where the controller restarts.\n"
         "\n"
         "  --device N   serve [DeviceN] of a board with several devices (default 1)\n"
         "  --udc NAME   the controller in /sys/class/udc (default: the first one)\n"
         "  --verbose    print every ep0 event and request\n"
         "\n"
         "Needs configfs on /sys/kernel/config, the modules libcomposite and usb_f_fs, a UDC\n"
         "(for a test on one machine: modprobe dummy_hcd), and root: it creates a gadget in\n"
         "configfs and mounts FunctionFS. It runs until SIGINT or SIGTERM, then removes the\n"
         "gadget and saves the board; the board is also saved whenever the host pauses.\n"
         "FailTransfer and UnplugAtTransfer count the transfers from the gadget's start.\n"
         "Real time: ReenumerationDelay is the time the device stays off the bus.\n";
}

}  // namespace pdflash::sim
