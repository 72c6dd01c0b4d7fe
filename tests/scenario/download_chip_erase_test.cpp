// Direct download, clean flash and image download: the chip-erase sequence on
// the wire, the blank check and what the flash holds afterwards.
#include "scenario/scenario_support.h"

namespace pdflash::test {
namespace {

std::vector<uint32_t> Every(uint32_t from, uint32_t to, uint32_t step) {
  std::vector<uint32_t> v;
  for (uint32_t a = from; a < to; a += step) v.push_back(a);
  return v;
}

struct EraseCase {
  const char* name;
  std::string settings, input;  // input: typed at the confirmation
  std::string key;              // device.ini
  uint32_t raw;                 // size of a raw image written from address 0; 0: the 50 KiB PD file
  std::vector<uint32_t> blank_reads;
  std::vector<int> progress;
  const char* box;
};

void PrintTo(const EraseCase& c, std::ostream* os) { *os << c.name; }

class ChipErase : public ::testing::TestWithParam<EraseCase> {};

TEST_P(ChipErase, SequenceBlankCheckAndFlashAfterwards) {
  const EraseCase& c = GetParam();
  Rig r({c.key});
  const auto file = c.raw ? Background(c.raw, 77) : Firmware(0xC800, 0x0E010200, 9);
  EXPECT_EQ(r.Run("OutputProgress=2\n" + c.settings, file, c.input), 1u) << r.p.out;
  EXPECT_THAT(r.p.out, HasSubstr(c.box));
  EXPECT_LT(r.p.out.find("  Chip Erase ...\n"), r.p.out.find("  Check Empty ...\n"));
  EXPECT_NE(r.p.out.find("  Check Empty ...\n"), std::string::npos);
  ExpectProgress(r.p, c.progress, false);

  // Write enable, status 0, write enable, chip erase, then 8 s before the
  // first status poll.
  const auto& log = r.board.log;
  const auto erases = Where(log, {kChipErase});
  ASSERT_EQ(erases.size(), 1u);
  const size_t erase = erases[0];
  ASSERT_GE(erase, 3u);
  ASSERT_LT(erase + 1, log.size());
  std::vector<std::pair<int, int>> seq;
  for (size_t i = erase - 3; i <= erase + 1; ++i)
    seq.push_back({log[i].setup.bRequest, log[i].setup.wValue});
  EXPECT_EQ(seq, (std::vector<std::pair<int, int>>{{kFlashCommand, 0x06},
                                                   {kWriteStatus, 0x01},
                                                   {kFlashCommand, 0x06},
                                                   {kChipErase, 0xC7},
                                                   {kReadStatus, 0x05}}));
  EXPECT_GE(log[erase + 1].time_us - log[erase].time_us, 8000000u);

  // The blank check: the 32-byte reads between the erase and the first write.
  const auto programs = Where(log, {kProgram});
  std::vector<uint32_t> reads;
  for (size_t i : Where(log, {kReadData}))
    if (i > erase && (programs.empty() || i < programs[0])) {
      reads.push_back(FlashAddress(log[i].setup));
      EXPECT_EQ(log[i].setup.wLength, 32);
    }
  EXPECT_EQ(reads, c.blank_reads);

  std::vector<uint8_t> expected(r.before.size(), 0xFF);
  if (c.raw || c.settings == "DirectDownload=1\n")
    std::copy(file.begin(), file.end(), expected.begin() + (c.raw ? 0 : 0x20000));
  EXPECT_TRUE(r.board.Flash() == expected);

  // One verified write covers at most 1 MiB: write and read back piece by piece.
  std::vector<std::pair<uint8_t, size_t>> pieces, runs;
  for (uint32_t done = 0; done < c.raw; done += 0x100000) {
    const size_t n = (std::min(c.raw - done, 0x100000u) + 63) / 64;
    pieces.insert(pieces.end(), {{kProgram, n}, {kReadData, n}});
  }
  for (size_t i : Where(log, {kProgram, kReadData}))
    if (c.raw && i >= programs.at(0)) {
      if (runs.empty() || runs.back().first != log[i].setup.bRequest)
        runs.push_back({log[i].setup.bRequest, 0});
      ++runs.back().second;
    }
  EXPECT_EQ(runs, pieces);
}

using P = std::vector<int>;
// Block-protect bits are no obstacle to the download: the status register is
// cleared before the erase.
INSTANTIATE_TEST_SUITE_P(
    Scenario, ChipErase,
    ::testing::Values(
        EraseCase{"direct_download", "DirectDownload=1\n", "", "FlashStatus=1C", 0,
                  Every(0x20000, 0x2C800, 0x1000), P{10, 30, 50, 100},
                  "=   PD_FW_Download_PASS.  =\n"},
        // Every mode checks every byte of the 256 KiB it calls clean.
        EraseCase{"clean_mode_1", "CleanFlashOnly=1\n", "y", "FlashSize=80000", 0,
                  Every(0, 0x40000, 32), P{10, 90, 100}, "=   PD_Clean_Flash_Done.  =\n"},
        // Only the first character counts.
        EraseCase{"clean_every_byte", "CleanFlashOnly=A\n", "Yes\n", "FlashSize=80000", 0,
                  Every(0, 0x40000, 32), P{10, 90, 100}, "=   PD_Clean_Flash_Done.  =\n"},
        EraseCase{"image_above_1MiB", "DownloadImageOnly=1\n", "", "FlashSize=400000", 0x280010,
                  Every(0, 0x280010, 0x1000), P{5, 15, 20, 100}, "=   Image_Download_PASS.  =\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// Only "Y" or "y" erases. No answer at all, as under CI, means no.
TEST(CleanFlash, AnythingButYesTouchesNothing) {
  for (const std::string input : {"N", "", "\n", "n"}) {
    SCOPED_TRACE("input '" + input + "'");
    Rig r;
    EXPECT_EQ(r.Run("CleanFlashOnly=1\n", {}, input), 0u) << r.p.out;
    EXPECT_THAT(r.p.out,
                HasSubstr("\nPD[1]_Clean_Flash_Mode_1_Start...\n"
                          "    Are you sure to clean all? 'Y' to continue, others to quit."
                          "    Enter 'Y' to continue, others to quit...     Use_Time = 0m 0s\n"
                          "\n===========================\n=  PD_Clean_Flash_Failed. =\n"));
    EXPECT_TRUE(Where(r.board.log, {kFlashCommand, kWriteStatus}).empty());
    EXPECT_TRUE(r.Untouched());
  }
}

// A protected part ignores the erase: every operation notices it at its blank
// check and writes nothing.
TEST(ProtectedFlash, EraseThatDoesNothingIsCaught) {
  using L = std::vector<std::string>;
  struct Case {
    std::string settings, input;
    L lines;
  };
  for (const Case& c : std::vector<Case>{
           {"DirectDownload=1\n", "", L{"CeRdCmp_Cmp_Error\n", "=   PD_FW_Download_FAIL.  =\n"}},
           {"DownloadImageOnly=1\n", "", L{"CeRdCmp_Cmp_Error\n", "=   Image_Download_FAIL.  =\n"}},
           {"CleanFlashOnly=1\n", "y",
            L{"Clean_Flash_000000_Not_0xFF\n", "=  PD_Clean_Flash_Failed. =\n"}},
           {"", "",
            L{"  Compare_Data_Error_at_030000, Tx_FF != Rx_", "SeRdCmp_Cmp_Error\n",
              "W1_SectorErase_000000_Fail\n", "=    PD_FW_Update_FAIL.   =\n"}}}) {
    SCOPED_TRACE(c.settings);
    Rig r({"FlashStatus2=40"});
    EXPECT_EQ(r.Run(c.settings, Firmware(0xC800, 0x0E010200, 9), c.input), 0u) << r.p.out;
    for (const auto& line : c.lines) EXPECT_THAT(r.p.out, HasSubstr(line));
    EXPECT_EQ(CountRequests(r.board.log, kProgram), 0u);
    EXPECT_TRUE(r.board.Flash() == r.before);
  }
}

}  // namespace
}  // namespace pdflash::test
