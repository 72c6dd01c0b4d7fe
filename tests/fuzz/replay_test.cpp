// The fuzz targets on the normal build: a typical input of each, which must
// get through to the program's answer, and every saved finding
// (fuzz/regressions/<target>/), which must run to the end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>

#include "fuzz/rig.h"
#include "fuzz/targets.h"
#include "support/harness.h"

namespace pdflash::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

struct Replay {
  std::string target, name;
  std::string input;
  std::string expected;  // in the last run's console; empty for findings
};

void PrintTo(const Replay& r, std::ostream* os) { *os << r.target << "/" << r.name; }

std::string Example(const char* file) {
  return ReadFile(std::string(PDFLASH_SOURCE_DIR) + "/examples/" + file);
}

std::vector<Replay> Inputs() {
  const std::string fw = [] {
    const auto& bytes = fuzz::TheRig().NewFirmware();
    return std::string(bytes.begin(), bytes.end());
  }();
  const std::string ids = fuzz::Rig::BoardIds();
  std::vector<Replay> inputs = {
      {"settings", "update", "[Config]\n" + ids + "PD1Bin=new.bin\n", "PD_FW_Update_PASS"},
      {"settings", "example_file", Example("Setting.ini"), "PD1_Config_Error"},
      {"cmdline", "running_version", "/F0", "Return_Value = 0x"},
      {"pd_file", "update", '\0' + fw, "PD_FW_Update_PASS"},
      {"pd_file", "read_version", '\1' + fw, "0E.01.02.00"},
      {"companion", "dp_file_too_short", std::string("\0\2\0\0", 4), "DP[1] Bin Version is 00.00.00.00"},
      {"base64", "encode", std::string("\0hello\n", 7), "aGVsbG8"},
      {"challenge", "example_file", Example("Challenge.ini"), "Coeficient_Test,  Client"},
      {"sim_files", "blank_board", "[Device]\nIdentity=C0\n", "identity C0"},
  };
  const auto signed_image = [](size_t data_size) {
    const auto image = fuzz::TheRig().SignedImage(data_size);
    return std::string(image.begin(), image.end());
  };
  const std::string image = signed_image(0x1800);
  inputs.push_back({"ecdsa", "install", '\0' + image, "=  ZIRUR-ECDSA_Update_PASS.  ="});
  inputs.push_back({"ecdsa", "download", '\1' + image, "=    ZIRUR-Image_DL_PASS.    ="});
  // Found by the fuzzer: an image past the end of the flash wrapped round
  // onto the PD copies. Too large to keep as a file.
  const std::string past_the_end = signed_image(0x40000);
  for (const char use : {'\0', '\1'})
    inputs.push_back({"ecdsa", std::string("past_the_flash_") + char('0' + use), use + past_the_end,
                      "Protection : Flash_Size_Incefficient_1024KB."});
  std::error_code ec;
  for (const auto& target :
       fs::directory_iterator(fs::path(PDFLASH_SOURCE_DIR) / "fuzz/regressions", ec)) {
    if (!target.is_directory()) continue;
    for (const auto& file : fs::directory_iterator(target.path(), ec)) {
      if (!file.is_regular_file() || file.path().filename() == "README.md") continue;
      const auto bytes = ReadBytes(file.path().string());
      inputs.push_back({target.path().filename().string(), file.path().filename().string(),
                        std::string(bytes.begin(), bytes.end()), ""});
    }
  }
  return inputs;
}

class FuzzReplay : public ::testing::TestWithParam<Replay> {};

TEST_P(FuzzReplay, RunsToTheEnd) {
  const Replay& r = GetParam();
  const fuzz::Target* target = fuzz::FindTarget(r.target);
  ASSERT_NE(target, nullptr) << r.target;
  EXPECT_EQ(target->run(reinterpret_cast<const uint8_t*>(r.input.data()), r.input.size()), 0);
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
