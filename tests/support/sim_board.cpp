#include "support/sim_board.h"

#include <stdexcept>

#include "image/checksum.h"
#include "sim/pdsim.h"
#include "sim/sim_config.h"
#include "sim/sim_device.h"

namespace pdflash::test {

namespace {

void Pdsim(const std::vector<std::string>& args) {
  std::string out, err;
  if (sim::RunPdsim(args, out, err) != 0) throw std::runtime_error("pdsim: " + err);
}

std::string Hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%X", v);
  return buf;
}

}  // namespace

SimBoard::SimBoard(Program& program) : program_(program), dir_(program.dir / "board") {
  WriteFile(program.dir / "Challenge.ini", ExampleChallengeFile());
}

void SimBoard::Init(const std::vector<std::string>& keys) {
  std::vector<std::string> args = {"init", dir_};
  args.insert(args.end(), keys.begin(), keys.end());
  Pdsim(args);
}

void SimBoard::Load(uint32_t address, const std::vector<uint8_t>& bytes, int device, int flash) {
  const std::string file = program_.dir / "load.bin";
  WriteBytes(file, bytes);
  std::vector<std::string> args = {"load", dir_, Hex(address), file};
  if (flash == 2) args.push_back("--flash2");
  if (device != 1) {
    args.push_back("--device");
    args.push_back(std::to_string(device));
  }
  Pdsim(args);
}

void SimBoard::LoadFirmware(const std::vector<uint8_t>& image, bool copy1, bool copy2) {
  if (copy1) Load(0x20000, image);
  if (copy2) Load(image.size() == 0x8000 ? 0x28000 : 0x30000, image);
}

uint32_t SimBoard::Run(const std::vector<std::string>& args) {
  sim::SimBus bus(dir_, program_.clock, program_.dir / "Challenge.ini");
  std::string error;
  if (!bus.Load(error)) throw std::runtime_error("board: " + error);
  bus.SetLogEnabled(keep_log);
  program_.UseBus(bus);
  const uint64_t start = program_.clock.NowUs();
  const uint32_t result = program_.Run(args);
  run_us = program_.clock.NowUs() - start;
  log = bus.Log();
  if (!bus.Save(error)) throw std::runtime_error("board: " + error);
  return result;
}

std::vector<uint8_t> SimBoard::Flash(int device, int flash) const {
  return ReadBytes(dir_ + "/" + sim::FlashFileName(device, flash));
}

std::string SimBoard::DeviceIni() const {
  return ReadFile(dir_ + "/device.ini");
}

sim::DeviceConfig SimBoard::Config(int device) const {
  std::vector<sim::DeviceConfig> devices;
  std::string error;
  if (!sim::ParseDeviceIni(DeviceIni(), devices, error))
    throw std::runtime_error("board: " + error);
  for (const auto& c : devices)
    if (c.number == device) return c;
  throw std::runtime_error("board: no device " + std::to_string(device));
}

uint8_t SimBoard::Register(uint16_t address, int device) {
  uint8_t value = 0;
  Inspect([&](sim::SimBus& bus) {
    for (size_t i = 0; i < bus.DeviceCount(); ++i)
      if (bus.Device(i).Config().number == device) value = bus.Device(i).PeekRegister(address);
  });
  return value;
}

bool ValidCopy(const std::vector<uint8_t>& flash, uint32_t address, uint32_t size) {
  if (flash.size() < address + size) return false;
  return flash[address] == 0x02 && Crc16Trailer(flash.data() + address, size);
}

}  // namespace pdflash::test
