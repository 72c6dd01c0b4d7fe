// The virtual device: a USB bus with modelled controllers whose state lives in
// a directory, like a board that stays plugged in between runs.
//
// Directory contents:
//   device.ini   one section per device in enumeration order ([Device],
//                [Device2], ...); Mode and the flash status registers are
//                rewritten when the run ends, every other line is kept.
//   flash.bin    first flash of [Device] (missing: blank, FlashSize bytes);
//   flash2.bin   its second flash; devN_flash.bin, devN_flash2.bin for [DeviceN].
//   state.ini    what a powered board keeps between runs: register memory,
//                challenge state, the firmware copy that was started. Deleting
//                it is a power cycle.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace pdflash::sim {

class SimDevice;

// One control transfer as the virtual device saw it.
struct TransferRecord {
  int device = 0;  // index of the device on the bus, from 0
  SetupPacket setup;
  std::vector<uint8_t> data;  // data stage as sent (out) or returned (in)
  bool ok = false;
  uint64_t time_us = 0;  // shared clock at the transfer
};

class SimBus final : public UsbBus {
 public:
  // `dir` holds device.ini, flash.bin, flash2.bin and the saved registers.
  // `coefficient_file` provisions the challenge answers the devices check.
  SimBus(std::string dir, Clock& clock, std::string coefficient_file);
  ~SimBus() override;  // writes the state back

  // Reads the directory; false with a reason when device.ini is unusable.
  bool Load(std::string& error);
  // Writes device.ini (mode), flashes and registers back to the directory.
  void Save();
  // The same, with a reason when a file could not be written.
  bool Save(std::string& error);
  // Forgets this run: the directory stays as it was loaded.
  void Discard();

  std::vector<UsbDeviceInfo> Enumerate() override;
  std::unique_ptr<UsbDevice> Open(const UsbDeviceInfo& info, UsbStatus& status) override;
  LocationStatus Location(const UsbDeviceInfo& info, std::string& text) override;

  // Every control transfer of this run, to every device, in order.
  const std::vector<TransferRecord>& Log() const;
  void ClearLog();
  // Long runs (a full flash dump) need not keep the log; on by default.
  void SetLogEnabled(bool on);

  // The modelled controllers in section order (present or not).
  size_t DeviceCount() const;
  SimDevice& Device(size_t index);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace pdflash::sim
