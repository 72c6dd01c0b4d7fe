#include "fuzz/targets.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/ini.h"
#include "core/output.h"
#include "core/records.h"
#include "device/challenge.h"
#include "fuzz/rig.h"
#include "image/base64.h"
#include "image/ecdsa_image.h"
#include "image/hub_image.h"
#include "image/pd_image.h"
#include "ops/dp.h"
#include "secure/base64_files.h"
#include "ops/hub.h"
#include "ops/image_files.h"
#include "ops/tool.h"
#include "ops/vmm6.h"
#include "sim/pdsim.h"
#include "sim/sim_bus.h"
#include "sim/sim_config.h"
#include "sim/sim_device.h"

namespace pdflash::fuzz {

namespace {

std::string Text(const uint8_t* data, size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

// A Tool for the layers' own functions, without the program around them;
// what they print goes to the rig's console text.
struct Quiet {
  class Sink final : public Console {
   public:
    explicit Sink(std::string& text) : text_(text) {}
    void Write(std::string_view text) override { text_.append(text); }
    int ReadChar() override { return -1; }

   private:
    std::string& text_;
  };
  class NoHost final : public Host {
   public:
    std::string ExePath() override { return {}; }
    bool PathExists(const std::string&) override { return false; }
    bool IsDirectory(const std::string&) override { return false; }
    bool PostWindowMessage(uint64_t, uint32_t, uint64_t, int64_t) override { return false; }
    bool RunHidden(const std::string&, const std::string&, uint32_t&) override { return false; }
    std::string GetEnv(const char*) override { return {}; }
  };
  explicit Quiet(Rig& rig) : console(rig.out), folder(rig.Path("")) {
    rig.out.clear();
    tool.exe_dir = tool.cwd = folder;
  }
  Sink console;
  NoHost host;
  VirtualClock clock;
  RunSettings set;
  std::string folder;
  Output out{console, host, clock, set, folder};
  EmptyUsbBus bus;
  Platform platform{console, clock, host, bus};
  Tool tool{platform, BuildProfile{}};
};

// A property the code promises broke: libFuzzer saves the input.
void Expect(bool holds) {
  if (!holds) std::abort();
}

// The settings file as the user wrote it, and the reader's number scan over it.
int Settings(const uint8_t* data, size_t size) {
  Rig& rig = TheRig();
  rig.Put("new.bin", rig.NewFirmware().data(), rig.NewFirmware().size());
  rig.Put("Setting.ini", data, size);
  rig.Run({});
  const std::string text = Text(data, size);
  uint32_t value = 0;
  ScanHex(text.c_str(), value);
  std::string dest;
  ReadIniString(rig.Path(""), "Config", "PD1Bin", dest, 64, "none", "Setting.ini");
  Expect(dest.size() < 64);
  return 0;
}

// Up to eight arguments, one a line, against a settings file for an update.
int CommandLine(const uint8_t* data, size_t size) {
  Rig& rig = TheRig();
  rig.Put("new.bin", rig.NewFirmware().data(), rig.NewFirmware().size());
  rig.Put("Setting.ini", std::string("[Config]\n") + Rig::BoardIds() + "PD1Bin=new.bin\n");
  std::vector<std::string> args;
  std::string arg;
  for (size_t i = 0; i <= size && args.size() < 8; ++i) {
    if (i == size || data[i] == '\n') {
      args.push_back(arg);
      arg.clear();
    } else {
      arg += static_cast<char>(data[i]);
    }
  }
  // The working folder stays in the scratch folder.
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    std::string upper = args[i];
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper == "/PATH") args[i + 1] = rig.Path("");
  }
  rig.Run(args);
  return 0;
}

// A PD firmware file: the first byte picks what the run does with it.
int PdFile(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const char* const kFunctions[] = {
      "",  // the update
      "ReadBinOnly=1\n",
      "CreatePDImgOnly=1\n",
      "DirectDownload=1\nDownloadImageOnly=1\n",
      "NoDowngrade=1\nDisplayFormalVer=1\n",
      "CreateCRC16Only=32\n",
  };
  const char* function = kFunctions[data[0] % std::size(kFunctions)];
  Rig& rig = TheRig();
  rig.Put("fw.bin", data + 1, size - 1);
  rig.Put("ASIC_SPI.bin", data + 1, size - 1);
  rig.Put("Setting.ini",
          std::string("[Config]\n") + Rig::BoardIds() + "PD1Bin=fw.bin\n" + function);
  rig.Run({});
  // The image parsers alone, over a buffer as large as the largest image.
  std::vector<uint8_t> image(data + 1, data + size);
  image.resize(std::max<size_t>(image.size(), 0x10000), 0xFF);
  const uint32_t found = PdImageSize(image.data(), static_cast<uint32_t>(size - 1));
  Expect(found == 0 || found <= size - 1);
  ParsePdHeader(image.data() + kPdHeader);
  uint32_t flag = 0;
  ParsePdFlag(image.data() + kPdHeader, flag);
  Expect(FindFormalVersion(image.data()) < static_cast<int>(kFormalWindow));
  return 0;
}

// A DP, hub or VMM6 firmware file next to the PD update that carries it.
int CompanionFile(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const char* const kCompanions[] = {
      "PDDPShareSPI=1\nDP1Bin=c.bin\n",
      "HubPDShareSPI=1\nHub1Bin=c.bin\n",
      "PDVMM6ShareSPI=1\nVMM6Bin=c.bin\n",
      "ReadBinOnly=1\nPDDPShareSPI=1\nDP1Bin=c.bin\n",
  };
  const char* companion = kCompanions[data[0] % std::size(kCompanions)];
  Rig& rig = TheRig();
  rig.Put("new.bin", rig.NewFirmware().data(), rig.NewFirmware().size());
  rig.Put("c.bin", data + 1, size - 1);
  rig.Put("Setting.ini",
          std::string("[Config]\n") + Rig::BoardIds() + "PD1Bin=new.bin\n" + companion);
  // The whole program only now and then: it refuses most files the same way.
  if ((data[0] & 0xF0) == 0) rig.Run({});
  // The readers of each kind, and the hub header builder (a refusal changes
  // nothing).
  Quiet quiet(rig);
  Tool& t = quiet.tool;
  t.Dp[1].BinPath = t.Hub[1].BinPath = t.Hub[2].BinPath = t.Vmm6[1].BinPath = "c.bin";
  t.set.DP1VID = 0x2109;
  GetDpBinVersion(t, 1);
  GetHubBinVersion(t, 1);
  GetHubBinVersion(t, 2);
  GetVmm6BinVersion(t);
  if (size - 1 >= kHubHeader2 + kHubHeaderSize) {
    std::vector<uint8_t> image(data + 1, data + size);
    image.resize(std::max<size_t>(image.size(), kHubBackupHeader1 + kHubHeaderSize), 0xFF);
    const std::vector<uint8_t> before = image;
    if (!AddHubHeader2(quiet.out, image.data(), {})) Expect(image == before);
  }
  return 0;
}

// Base64 both ways, and the text-file procedures over the input as a file.
int Base64(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint32_t len = static_cast<uint32_t>(std::min<size_t>(size - 1, 0x10000));
  const uint8_t* bytes = data + 1;
  std::string encoded(Base64EncodedLength(len) + 1, '\0');
  const uint32_t n = Base64Encode(bytes, encoded.data(), len);
  if (n > 0) {
    Expect(n == Base64EncodedLength(len));
    std::vector<uint8_t> decoded(Base64DecodedCapacity(n) + 1);
    Expect(Base64Decode(encoded.data(), decoded.data(), n) == len);
    Expect(std::equal(bytes, bytes + len, decoded.begin()));
  }
  std::vector<uint8_t> decoded(Base64DecodedCapacity(len) + 1);
  Expect(Base64Decode(reinterpret_cast<const char*>(bytes), decoded.data(), len) <=
         Base64DecodedCapacity(len));

  Rig& rig = TheRig();
  rig.Put("text.txt", bytes, size - 1);
  Quiet quiet(rig);
  quiet.tool.set.TextFilePath = "text.txt";
  if (data[0] & 1)
    Base64FileToText(quiet.tool);
  else
    TextFileToBase64(quiet.tool);
  return 0;
}

// Challenge.ini as it may lie next to the tool, read for every client.
int ChallengeFile(const uint8_t* data, size_t size) {
  Rig& rig = TheRig();
  rig.Put("Challenge.ini", data, size);
  CoefficientSet set;
  ParseCoefficientSet(Text(data, size), set);
  Quiet quiet(rig);
  for (uint8_t client = 0; client <= 4; ++client)
    for (bool for_test : {false, true})
      LoadCoefficientSet(quiet.tool.out, rig.Path(""), client, for_test, set);
  CoefficientTest(quiet.tool.out, rig.Path(""), size > 0 ? data[0] % 5 : 3);
  return 0;
}

// The virtual device's device.ini, then state.ini after the first NUL byte.
int SimFiles(const uint8_t* data, size_t size) {
  const std::string text = Text(data, size);
  const size_t cut = text.find('\0');
  const std::string device_ini = text.substr(0, cut);
  const std::string state_ini = cut == std::string::npos ? "" : text.substr(cut + 1);
  std::vector<sim::DeviceConfig> devices;
  std::string error;
  sim::ParseDeviceIni(device_ini, devices, error);

  Rig& rig = TheRig();
  std::error_code ec;
  std::filesystem::create_directories(rig.Path("fuzzboard"), ec);
  rig.Put("fuzzboard/device.ini", device_ini);
  if (cut == std::string::npos)
    std::filesystem::remove(rig.Path("fuzzboard/state.ini"), ec);
  else
    rig.Put("fuzzboard/state.ini", state_ini);
  // The board as the tool's runs load it (each part reads its own state),
  // and as pdsim shows it.
  VirtualClock clock;
  sim::SimBus bus(rig.Path("fuzzboard"), clock, rig.Path("Challenge.ini"));
  if (bus.Load(error)) bus.Enumerate();
  std::string err;
  rig.out.clear();
  sim::RunPdsim({"show", rig.Path("fuzzboard")}, rig.out, err);
  return 0;
}

// A signed image file, installed or only downloaded (the first byte says
// which). Whatever the file holds, the flash below the zone stays as it was.
int EcdsaFile(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::vector<uint8_t> header(data + 1, data + size);
  header.resize(std::max<size_t>(header.size(), kEcdsaHeaderSize), 0xFF);
  CheckEcdsaHeader(header.data());

  static const char* const kUses[] = {"SCYUpdateOnly=1\n", "FuncTestOnly=85\n"};
  Rig& rig = TheRig();
  rig.Put("img.bin", data + 1, size - 1);
  rig.Put("Setting.ini", std::string("[Config]\n") + Rig::BoardIds() + kUses[data[0] % 2] +
                             "ScyImgFilePath=img.bin\n");
  rig.Run({}, "board", [](sim::SimBus& bus, const std::vector<uint8_t>& before) {
    const std::vector<uint8_t>& flash = bus.Device(0).Flash().Data();
    Expect(std::equal(flash.begin(), flash.begin() + kEcdsaHeaderFlash, before.begin()));
  });
  return 0;
}

// Signed images of a few sizes, for both uses.
std::vector<std::string> EcdsaSeeds() {
  std::vector<std::string> seeds;
  for (const size_t data_size : {size_t{0}, size_t{0x1800}, size_t{0x8000}}) {
    const std::vector<uint8_t> image = TheRig().SignedImage(data_size);
    for (const char use : {'\0', '\1'}) seeds.push_back(use + std::string(image.begin(), image.end()));
  }
  return seeds;
}

}  // namespace

const std::vector<Target>& Targets() {
  static const std::vector<Target> targets = {
      {"settings", Settings},   {"cmdline", CommandLine},     {"pd_file", PdFile},
      {"companion", CompanionFile}, {"base64", Base64}, {"challenge", ChallengeFile},
      {"sim_files", SimFiles},  {"ecdsa", EcdsaFile, EcdsaSeeds},
  };
  return targets;
}

const Target* FindTarget(std::string_view name) {
  for (const Target& t : Targets())
    if (t.name == name) return &t;
  return nullptr;
}

}  // namespace pdflash::fuzz
