// Direct download, clean flash and image download: the chip-erase sequence on
// the wire, the blank check, what the flash holds afterwards, and the
// refusals that must come before the erase.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "image/checksum.h"
#include "scenario/scenario_support.h"

namespace pdflash::test {
namespace {

using ::testing::HasSubstr;

// Index of the first accepted request of a kind, or the log's size.
size_t Find(const std::vector<sim::TransferRecord>& log, uint8_t request, size_t from = 0) {
  for (size_t i = from; i < log.size(); ++i)
    if (log[i].ok && log[i].setup.bRequest == request) return i;
  return log.size();
}

// Request kinds of the flash traffic from `from` on, as runs: {kind, count}.
std::vector<std::pair<uint8_t, size_t>> Runs(const std::vector<sim::TransferRecord>& log,
                                             size_t from, std::initializer_list<uint8_t> kinds) {
  std::vector<std::pair<uint8_t, size_t>> runs;
  for (size_t i = from; i < log.size(); ++i) {
    const uint8_t q = log[i].setup.bRequest;
    if (std::find(kinds.begin(), kinds.end(), q) == kinds.end()) continue;
    if (runs.empty() || runs.back().first != q) runs.push_back({q, 0});
    ++runs.back().second;
  }
  return runs;
}

struct EraseCase {
  const char* name;
  std::string settings;
  std::vector<std::string> keys;
  std::string input;                  // typed at the confirmation
  uint32_t file_size;                 // 0: no file content needed (a PD image of 50 KiB is used)
  bool raw_image;                     // the file is a raw flash image from address 0
  std::vector<uint32_t> blank_reads;  // addresses the blank check reads
  std::vector<int> progress;
  const char* box;
};

std::vector<uint32_t> Every(uint32_t from, uint32_t to, uint32_t step) {
  std::vector<uint32_t> v;
  for (uint32_t a = from; a < to; a += step) v.push_back(a);
  return v;
}

void PrintTo(const EraseCase& c, std::ostream* os) {
  *os << c.name;
}

class ChipErase : public ::testing::TestWithParam<EraseCase> {};

TEST_P(ChipErase, SequenceBlankCheckAndFlashAfterwards) {
  const EraseCase& c = GetParam();
  Program p;
  SimBoard board(p);
  board.Init(c.keys);
  const uint32_t flash_size = static_cast<uint32_t>(board.Flash().size());
  board.Load(0, Background(flash_size));
  board.LoadFirmware(Firmware(0xC800, 0x0E010100), true, true);
  const auto file = c.raw_image ? Background(c.file_size, 77) : Firmware(0xC800, 0x0E010200, 9);
  WriteBytes(p.File("new.bin"), file);
  p.Settings(std::string(kBoardIds) + "PD1Bin=new.bin\nOutputProgress=2\n" + c.settings);
  p.console.input = c.input;

  EXPECT_EQ(board.Run(), 1u) << p.out;
  EXPECT_THAT(p.out, HasSubstr(c.box));
  EXPECT_LT(p.out.find("  Chip Erase ...\n"), p.out.find("  Check Empty ...\n"));
  EXPECT_NE(p.out.find("  Check Empty ...\n"), std::string::npos);
  EXPECT_EQ(ProgressLines(p.out), c.progress);

  // Write enable, status 0, write enable, chip erase, then 8 s before the
  // first status poll.
  const auto& log = board.log;
  const size_t erase = Find(log, kChipErase);
  ASSERT_GE(erase, 3u);
  ASSERT_LT(erase + 1, log.size());
  EXPECT_EQ(log[erase - 3].setup.bRequest, kFlashCommand);
  EXPECT_EQ(log[erase - 3].setup.wValue, 0x06);
  EXPECT_EQ(log[erase - 2].setup.bRequest, kWriteStatus);
  EXPECT_EQ(log[erase - 2].setup.wValue, 0x0001);
  EXPECT_EQ(log[erase - 1].setup.bRequest, kFlashCommand);
  EXPECT_EQ(log[erase - 1].setup.wValue, 0x06);
  EXPECT_EQ(log[erase].setup.wValue, 0xC7);
  EXPECT_EQ(log[erase + 1].setup.bRequest, kReadStatus);
  EXPECT_GE(log[erase + 1].time_us - log[erase].time_us, 8000000u);
  EXPECT_EQ(CountRequests(log, kChipErase), 1u);

  // The blank check: the 32-byte reads between the wait and the first write.
  std::vector<uint32_t> reads;
  for (size_t i = erase; i < Find(log, kProgram, erase); ++i)
    if (log[i].setup.bRequest == kReadData) {
      reads.push_back(FlashAddress(log[i].setup));
      EXPECT_EQ(log[i].setup.wLength, 32);
    }
  EXPECT_EQ(reads, c.blank_reads);

  std::vector<uint8_t> expected(flash_size, 0xFF);
  if (c.raw_image)
    std::copy(file.begin(), file.end(), expected.begin());
  else if (c.file_size)
    std::copy(file.begin(), file.end(), expected.begin() + 0x20000);
  EXPECT_TRUE(board.Flash() == expected);

  if (c.raw_image) {
    // One verified write covers at most 1 MiB: write and read back piece by piece.
    std::vector<std::pair<uint8_t, size_t>> pieces;
    for (uint32_t done = 0; done < c.file_size; done += 0x100000) {
      const size_t n = (std::min(c.file_size - done, 0x100000u) + 63) / 64;
      pieces.push_back({kProgram, n});
      pieces.push_back({kReadData, n});
    }
    EXPECT_EQ(Runs(log, Find(log, kProgram), {kProgram, kReadData}), pieces);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Scenario, ChipErase,
    ::testing::Values(EraseCase{"direct_download",
                                "DirectDownload=1\n",
                                {},
                                "",
                                0xC800,
                                false,
                                Every(0x20000, 0x2C801, 0x1000),
                                {10, 30, 50, 100},
                                "=   PD_FW_Download_PASS.  =\n"},
                      EraseCase{"clean_first_bytes_of_each_sector",
                                "CleanFlashOnly=1\n",
                                {},
                                "y",
                                0,
                                false,
                                Every(0, 0x40000, 0x1000),
                                {10, 90, 100},
                                "=   PD_Clean_Flash_Done.  =\n"},
                      // Only the first character counts; mode A checks every byte of 256 KiB.
                      EraseCase{"clean_every_byte",
                                "CleanFlashOnly=A\n",
                                {},
                                "Yes\n",
                                0,
                                false,
                                Every(0, 0x40000, 32),
                                {10, 90, 100},
                                "=   PD_Clean_Flash_Done.  =\n"},
                      EraseCase{"image_above_1MiB",
                                "DownloadImageOnly=1\n",
                                {"FlashSize=400000"},
                                "",
                                0x280010,
                                true,
                                Every(0, 0x280010, 0x1000),
                                {5, 15, 20, 100},
                                "=   Image_Download_PASS.  =\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// Only "Y" or "y" erases. No answer at all, as under CI, means no.
TEST(CleanFlash, AnythingButYesTouchesNothing) {
  for (const std::string input : {"N", "", "\n", "n"}) {
    SCOPED_TRACE("input '" + input + "'");
    Program p;
    SimBoard board(p);
    board.Init();
    board.Load(0, Background(0x80000));
    const auto before = board.Flash();
    WriteBytes(p.File("new.bin"), {0x02});
    p.Settings(std::string(kBoardIds) + "CleanFlashOnly=1\n");
    p.console.input = input;
    EXPECT_EQ(board.Run(), 0u) << p.out;
    EXPECT_THAT(p.out,
                HasSubstr("\nPD[1]_Clean_Flash_Mode_1_Start...\n"
                          "    Are you sure to clean all? 'Y' to continue, others to quit."
                          "    Enter 'Y' to continue, others to quit...     Use_Time = 0m 0s\n"
                          "\n===========================\n=  PD_Clean_Flash_Failed. =\n"));
    for (uint8_t q : {kFlashCommand, kWriteStatus, kChipErase, kSectorErase, kProgram})
      EXPECT_EQ(CountRequests(board.log, q), 0u) << Hex(q);
    EXPECT_TRUE(board.Flash() == before);
  }
}

// Refusals of the file come before the chip erase.
TEST(ChipEraseRefusal, FileRefusedBeforeTheErase) {
  auto bad_crc = Firmware(0xC800, 0x0E010200);
  bad_crc[0x3000] ^= 0x10;
  struct Case {
    const char* name;
    std::string settings;
    std::vector<std::string> keys;
    std::vector<uint8_t> file;
    std::string line;
    const char* box;
  };
  const std::vector<Case> cases = {
      {"download_crc",
       "DirectDownload=1\n",
       {},
       bad_crc,
       "Protection: Bin_CRC16=" + Hex(GetCrc16(bad_crc.data(), 0xC800 - 2), 4) + "\n",
       "=   PD_FW_Download_FAIL.  =\n"},
      // The current PID is the one the ROM code reports.
      {"download_other_chip",
       "DirectDownload=1\n",
       {},
       Firmware(0x8000, 0x0D010200),
       "Protection: Bin_Not_Match:PID=1107, FID=D, Size=8000\n",
       "=   PD_FW_Download_FAIL.  =\n"},
      {"download_marker",
       "DirectDownload=1\n",
       {},
       std::vector<uint8_t>(0xC800, 0x00),
       "Protection : PDFW_Data[0]_Error.\n",
       "=   PD_FW_Download_FAIL.  =\n"},
      // An empty image would leave nothing but an erased chip.
      {"image_empty",
       "DownloadImageOnly=1\n",
       {},
       {},
       "Protection : FW_Size_0K_Error.\n",
       "=   Image_Download_FAIL.  =\n"},
      {"image_above_4MiB",
       "DownloadImageOnly=1\n",
       {"FlashSize=400000"},
       std::vector<uint8_t>(0x400001, 0x5A),
       "Protection : Image_Size_4096K_Over.\n",
       "=   Image_Download_FAIL.  =\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Program p;
    SimBoard board(p);
    board.Init(c.keys);
    board.Load(0, Background(static_cast<uint32_t>(board.Flash().size())));
    board.LoadFirmware(Firmware(0xC800, 0x0E010100), true, true);
    const auto before = board.Flash();
    WriteBytes(p.File("new.bin"), c.file);
    p.Settings(std::string(kBoardIds) + "PD1Bin=new.bin\n" + c.settings);
    EXPECT_EQ(board.Run(), 0u) << p.out;
    EXPECT_THAT(p.out, HasSubstr(c.line));
    EXPECT_THAT(p.out, HasSubstr(c.box));
    EXPECT_FALSE(ChangesFlash(board.log));
    EXPECT_TRUE(board.Flash() == before);
  }
}

// A protected part ignores the erase: every operation notices it at its
// blank check and writes nothing. Block-protect bits alone are no obstacle,
// since the status register is cleared before erasing.
TEST(ProtectedFlash, EraseThatDoesNothingIsCaught) {
  struct Case {
    const char* name;
    std::string settings;
    std::string status_key;
    std::string input;
    uint32_t result;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"download",
       "DirectDownload=1\n",
       "FlashStatus2=40",
       "",
       0,
       {"CeRdCmp_Cmp_Error\n", "=   PD_FW_Download_FAIL.  =\n"}},
      {"image",
       "DownloadImageOnly=1\n",
       "FlashStatus2=40",
       "",
       0,
       {"CeRdCmp_Cmp_Error\n", "=   Image_Download_FAIL.  =\n"}},
      {"clean",
       "CleanFlashOnly=1\n",
       "FlashStatus2=40",
       "y",
       0,
       {"Clean_Flash_000000_Not_0xFF\n", "=  PD_Clean_Flash_Failed. =\n"}},
      {"update",
       "",
       "FlashStatus2=40",
       "",
       0,
       {"  Compare_Data_Error_at_030000, Tx_FF != Rx_", "SeRdCmp_Cmp_Error\n",
        "W1_SectorErase_000000_Fail\n", "=    PD_FW_Update_FAIL.   =\n"}},
      {"update_block_protect_bits", "", "FlashStatus=1C", "", 1, {"=    PD_FW_Update_PASS.   =\n"}},
      {"download_block_protect_bits",
       "DirectDownload=1\n",
       "FlashStatus=1C",
       "",
       1,
       {"=   PD_FW_Download_PASS.  =\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Program p;
    SimBoard board(p);
    board.Init({c.status_key});
    board.Load(0, Background(0x80000));
    board.LoadFirmware(Firmware(0xC800, 0x0E010100), true, true);
    const auto before = board.Flash();
    const auto image = Firmware(0xC800, 0x0E010200, 9);
    WriteBytes(p.File("new.bin"), image);
    p.Settings(std::string(kBoardIds) + "PD1Bin=new.bin\n" + c.settings);
    p.console.input = c.input;
    EXPECT_EQ(board.Run(), c.result) << p.out;
    for (const auto& line : c.lines) EXPECT_THAT(p.out, HasSubstr(line));
    if (c.result == 0) {
      EXPECT_EQ(CountRequests(board.log, kProgram), 0u);
      EXPECT_TRUE(board.Flash() == before);
    } else {
      EXPECT_TRUE(Same(board.Flash(), 0x20000, image));
      EXPECT_THAT(board.DeviceIni(), HasSubstr("FlashStatus=00"));
    }
  }
}

}  // namespace
}  // namespace pdflash::test
