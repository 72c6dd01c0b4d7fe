// pdsim gadget: one modelled controller of a board on a real USB device
// controller. The kernel's gadget framework (configfs, FunctionFS) does the
// bus; every vendor request goes to the same SimDevice that PDFLASH_SIM uses,
// through the board's SimBus. This file is the transport, free of the kernel
// so that it can be tested; gadget_linux.cpp is the kernel side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace pdflash::sim {

class SimBus;

// What the host sees in the device descriptor.
struct GadgetIds {
  uint16_t vid = 0;
  uint16_t pid = 0;
  uint16_t bcd_device = 0;
  bool rom = false;  // ROM code runs (only for the lines printed)
};

// ep0 of the function and the binding to the controller, as the kernel
// offers them. Every call finishes its stage before it returns.
class GadgetPort {
 public:
  virtual ~GadgetPort() = default;
  // Data stage of an IN request.
  virtual bool SendData(const uint8_t* data, size_t length) = 0;
  // Data stage of an OUT request; the status stage follows without us.
  virtual bool ReceiveData(uint8_t* data, size_t length) = 0;
  // Status stage of a request without data.
  virtual bool Acknowledge() = 0;
  // Stalls the pending request (before its data stage).
  virtual void Stall() = 0;
  // Onto the bus under `ids`; off it (the host sees a disconnect).
  virtual bool Attach(const GadgetIds& ids, std::string& error) = 0;
  virtual void Detach() = 0;
};

// Serves device `index` of `bus` to the host through `port`.
class GadgetServer {
 public:
  // `say` gets the lines worth printing (restart, unplug, refusals).
  using Say = std::function<void(const std::string& line)>;

  GadgetServer(SimBus& bus, size_t index, GadgetPort& port, Say say = {});
  ~GadgetServer();

  // Puts the device on the bus under the IDs of what runs now.
  bool Start(std::string& error);
  // One control request from the host (only while attached).
  void Setup(const SetupPacket& setup);
  // Between requests and on timeouts: brings a restarted device back.
  void Poll();
  // How soon Poll wants to run again; -1 when it has nothing to wait for.
  int PollDelayMs() const;

  bool Attached() const { return state_ == State::Attached; }
  bool Gone() const { return state_ == State::Gone; }
  GadgetIds CurrentIds() const;
  uint32_t Requests() const { return requests_; }
  uint32_t Stalls() const { return stalls_; }

 private:
  enum class State { Detached, Attached, Restarting, Gone };

  bool OpenHandle();
  void AfterTransfer();
  void Tell(const std::string& line) const;

  SimBus& bus_;
  size_t index_;
  GadgetPort& port_;
  Say say_;
  State state_ = State::Detached;
  std::unique_ptr<UsbDevice> handle_;
  uint32_t generation_ = 0;
  std::vector<uint8_t> buffer_;
  uint32_t requests_ = 0;
  uint32_t stalls_ = 0;
};

// FunctionFS blobs for ep0: the descriptors (one Billboard interface without
// endpoints at full, high and super speed, with the flags that hand us
// requests to the device as well) and the empty string table.
std::vector<uint8_t> FunctionFsDescriptors();
std::vector<uint8_t> FunctionFsStrings();

// `pdsim gadget ...` (the arguments after "gadget"). Runs until the host side
// ends it (SIGINT, SIGTERM) and returns the exit code; lines of the running
// gadget go to standard output at once, a failure to start into `err`.
int RunGadget(const std::vector<std::string>& args, std::string& out, std::string& err);
std::string GadgetUsage();

}  // namespace pdflash::sim
