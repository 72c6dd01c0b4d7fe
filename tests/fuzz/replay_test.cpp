// The fuzz targets on the normal build: a typical input of each, which must
// get through to the program's answer, and every saved finding
// (fuzz/regressions/<target>/), which must run to the end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <functional>

#include "fuzz/rig.h"
#include "fuzz/targets.h"
#include "support/harness.h"

namespace pdflash::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// Inputs are made when their test runs, not when the tests are listed: some
// need the rig's board, and a list of the tests must stay cheap.
struct Replay {
  std::string target, name;
  std::function<std::string()> input;
  std::string expected;  // in the last run's console; empty for findings
};

std::function<std::string()> Bytes(std::string bytes) {
  return [bytes = std::move(bytes)] { return bytes; };
}

void PrintTo(const Replay& r, std::ostream* os) { *os << r.target << "/" << r.name; }

std::string Example(const char* file) {
  return ReadFile(std::string(PDFLASH_SOURCE_DIR) + "/examples/" + file);
}

std::vector<Replay> Inputs() {
  const auto firmware = [](char use) {
    return [use] {
      const auto& bytes = fuzz::TheRig().NewFirmware();
      return use + std::string(bytes.begin(), bytes.end());
    };
  };
  const auto signed_image = [](char use, size_t data_size) {
    return [use, data_size] {
      const auto image = fuzz::TheRig().SignedImage(data_size);
      return use + std::string(image.begin(), image.end());
    };
  };
  const std::string ids = fuzz::Rig::BoardIds();
  std::vector<Replay> inputs = {
      {"settings", "update", Bytes("[Config]\n" + ids + "PD1Bin=new.bin\n"), "PD_FW_Update_PASS"},
      {"settings", "example_file", Bytes(Example("Setting.ini")), "PD1_Config_Error"},
      {"cmdline", "running_version", Bytes("/F0"), "Return_Value = 0x"},
      {"pd_file", "update", firmware('\0'), "PD_FW_Update_PASS"},
      {"pd_file", "read_version", firmware('\1'), "0E.01.02.00"},
      {"companion", "dp_file_too_short", Bytes(std::string("\0\2\0\0", 4)),
       "DP[1] Bin Version is 00.00.00.00"},
      {"base64", "encode", Bytes(std::string("\0hello\n", 7)), "aGVsbG8"},
      {"challenge", "example_file", Bytes(Example("Challenge.ini")), "Coeficient_Test,  Client"},
      {"sim_files", "blank_board", Bytes("[Device]\nIdentity=C0\n"), "identity C0"},
      {"ecdsa", "install", signed_image('\0', 0x1800), "=  ZIRUR-ECDSA_Update_PASS.  ="},
      {"ecdsa", "download", signed_image('\1', 0x1800), "=    ZIRUR-Image_DL_PASS.    ="},
  };
  // Found by the fuzzer: an image past the end of the flash wrapped round
  // onto the PD copies. Too large to keep as a file.
  for (const char use : {'\0', '\1'})
    inputs.push_back({"ecdsa", std::string("past_the_flash_") + char('0' + use),
                      signed_image(use, 0x40000), "Protection : Flash_Size_Incefficient_1024KB."});
  std::error_code ec;
  for (const auto& target :
       fs::directory_iterator(fs::path(PDFLASH_SOURCE_DIR) / "fuzz/regressions", ec)) {
    if (!target.is_directory()) continue;
    for (const auto& file : fs::directory_iterator(target.path(), ec)) {
      if (!file.is_regular_file() || file.path().filename() == "README.md") continue;
      const auto bytes = ReadBytes(file.path().string());
      inputs.push_back({target.path().filename().string(), file.path().filename().string(),
                        Bytes(std::string(bytes.begin(), bytes.end())), ""});
    }
  }
  return inputs;
}

class FuzzReplay : public ::testing::TestWithParam<Replay> {};

TEST_P(FuzzReplay, RunsToTheEnd) {
  const Replay& r = GetParam();
  const fuzz::Target* target = fuzz::FindTarget(r.target);
  ASSERT_NE(target, nullptr) << r.target;
  const std::string input = r.input();
  EXPECT_EQ(target->run(reinterpret_cast<const uint8_t*>(input.data()), input.size()), 0);
  if (!r.expected.empty()) {
    EXPECT_THAT(fuzz::TheRig().out, HasSubstr(r.expected)) << fuzz::TheRig().out;
  }
}

INSTANTIATE_TEST_SUITE_P(Fuzz, FuzzReplay, ::testing::ValuesIn(Inputs()),
                         [](const auto& info) {
                           std::string name = info.param.target + "_" + info.param.name;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

}  // namespace
}  // namespace pdflash::test
