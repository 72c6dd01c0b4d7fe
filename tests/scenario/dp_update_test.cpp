// The DP converter firmware in the shared flash: the update after the PD
// copies (copy order per family and strapping), its refusals, the version
// readers and the backup.
#include "scenario/scenario_support.h"

namespace pdflash::test {
namespace {

using Copies = std::vector<std::pair<uint32_t, uint32_t>>;  // address, image size

struct DpRig : Rig {
  explicit DpRig(const Copies& copies = {}) : Rig({"FlashSize=80000"}) {
    for (auto [at, size] : copies) board.Load(at, Dp(size, 0x06000100, 5));
    before = board.Flash();
  }
  uint32_t Update(const std::vector<uint8_t>& dp, const std::string& more = "") {
    WriteBytes(p.File("dp.bin"), dp);
    return Run(more + "PDDPShareSPI=1\nDP1Bin=dp.bin\n", Firmware(0xC800, 0x0E010200, 9));
  }
};

TEST(DpUpdate, CopyOrderPerFamilyAndStrapping) {
  struct Case {
    std::string settings;
    Copies board;
    uint32_t size, first, second;
  };
  for (const Case& c :
       std::vector<Case>{{"", {{0x60000, 0x10000}}, 0x10000, 0x70000, 0x60000},
                         {"", {}, 0x10000, 0x60000, 0x70000},
                         {"DPStrapping=0\n", {{0x40000, 0x10000}}, 0x10000, 0x50000, 0x40000},
                         {"DPStrapping=0\n", {{0x50000, 0x10000}}, 0x10000, 0x40000, 0x50000},
                         {"", {{0x60000, 0x20000}}, 0x20000, 0x40000, 0x60000},
                         {"", {{0x40000, 0x18000}}, 0x18000, 0x60000, 0x40000},
                         // A copy valid at the family's other size is kept to the end too.
                         {"", {{0x40000, 0x20000}}, 0x18000, 0x60000, 0x40000},
                         {"", {{0x40000, 0x18000}}, 0x20000, 0x60000, 0x40000}}) {
    SCOPED_TRACE(c.settings + Hex(c.size) + " first " + Hex(c.first));
    DpRig r(c.board);
    const auto image = Dp(c.size, 0x06010100, 11);
    ASSERT_EQ(r.Update(image, c.settings), 1u) << r.p.out;
    const std::string dp = r.p.out.substr(r.p.out.find("\nDP_FW_Update_Start...\n"));
    EXPECT_LT(dp.find("Write_FW_to_" + Hex(c.first) + " "),
              dp.find("Write_FW_to_" + Hex(c.second)));
    EXPECT_THAT(dp, HasSubstr("=    DP_FW_Update_PASS.   =\n===========================\n"));
    // Both copies hold the image, the PD copies the new PD image, nothing else changed.
    auto expected = r.before;
    for (uint32_t at : {c.first, c.second})
      std::copy(image.begin(), image.end(), expected.begin() + at);
    const auto pd = Firmware(0xC800, 0x0E010200, 9);
    for (uint32_t at : {0x20000, 0x30000}) {
      std::fill_n(expected.begin() + at, 0xD000, 0xFF);
      std::copy(pd.begin(), pd.end(), expected.begin() + at);
    }
    EXPECT_TRUE(r.board.Flash() == expected);
  }
}

// A refused file leaves the whole flash alone, in both the update and the
// download (which would erase the chip first).
TEST(DpUpdate, RefusalsComeBeforeAnyWrite) {
  auto bad_crc = Dp(0x10000), no_marker = Dp(0x10000);
  bad_crc[0x100] ^= 1;
  no_marker[0] = 0x03;
  for (const char* mode : {"", "DirectDownload=1\n"}) {
    for (const auto& [file, line, size_marker] :
         std::vector<std::tuple<std::vector<uint8_t>, std::string, bool>>{
             {std::vector<uint8_t>(0x20001, 0x02), "Protection : DPFW_Size_Over.\n", false},
             {Dp(0x8000), "Protection : DPFW_Size_Error.\n", false},
             {no_marker, "Protection : DPFW_Data[0]_Error.\n", false},
             {bad_crc, "Protection: Bin_CRC16=", false},
             {Dp(0x10000), "    Checking_0x60000_Data\nProtection : SPI_Size_Error.\n", true}}) {
      if (size_marker && *mode) continue;  // the chip erase takes the marker
      SCOPED_TRACE(mode + line);
      DpRig r;
      if (size_marker) r.board.Load(0x60000, {0x05});
      const auto dp_before = Slice(r.board.Flash(), 0x40000, 0x40000);
      EXPECT_EQ(r.Update(file, mode), 0u);
      EXPECT_THAT(r.p.out, HasSubstr("\nDP_FW_Update_Start...\n" + line));
      EXPECT_THAT(r.p.out, HasSubstr("=    DP_FW_Update_FAIL.   =\n"));
      if (size_marker)
        EXPECT_TRUE(Slice(r.board.Flash(), 0x40000, 0x40000) == dp_before);
      else
        EXPECT_TRUE(r.Untouched());
    }
  }
}

// On a 256 KiB part the DP area wraps onto the PD copies.
TEST(DpUpdate, SmallFlashRefused) {
  for (const char* mode : {"", "DirectDownload=1\n"}) {
    SCOPED_TRACE(mode);
    Rig r({"FlashSize=40000"});
    WriteBytes(r.p.File("dp.bin"), Dp(0x10000));
    const auto pd = Firmware(0xC800, 0x0E010200, 9);
    EXPECT_EQ(r.Run(std::string(mode) + "PDDPShareSPI=1\nDP1Bin=dp.bin\n", pd), 0u);
    EXPECT_THAT(r.p.out, HasSubstr("Protection : Flash_Size_Incefficient_512KB.\n"));
    // The update refuses before its first write; the download (the chip
    // already erased) keeps the PD copy it wrote.
    if (*mode)
      EXPECT_TRUE(Same(r.board.Flash(), 0x20000, pd));
    else
      EXPECT_TRUE(r.Untouched());
  }
}

// The progress of both images, and the erase lines of 16 sectors: 00 first, 93 last.
TEST(DpUpdate, ProgressAndEraseLines) {
  DpRig r;
  ASSERT_EQ(r.Update(Dp(0x10000), "OutputProgress=3\n"), 1u) << r.p.out;
  const std::string dp = r.p.out.substr(r.p.out.find("\nDP_FW_Update_Start...\n"));
  EXPECT_THAT(dp, HasSubstr("    Write_FW_to_60000 ...\n\r    erasing...00%\r    erasing...06%"));
  EXPECT_THAT(dp, HasSubstr("\r    erasing...93%\r                    \r"));
  ExpectProgress(r.p, {5, 12, 27, 35, 50, 55, 62, 77, 85, 100});
}

TEST(DpUpdate, DirectDownloadCarriesTheDpImage) {
  DpRig r;
  const auto dp = Dp(0x10000);
  WriteBytes(r.p.File("dp.bin"), dp);
  ASSERT_EQ(
      r.Run("DirectDownload=1\nPDDPShareSPI=1\nDP1Bin=dp.bin\n", Firmware(0xC800, 0x0E010200)), 1u)
      << r.p.out;
  EXPECT_TRUE(Same(r.board.Flash(), 0x60000, dp) && Same(r.board.Flash(), 0x70000, dp));
}

TEST(DpVersion, RunningVersionDuringTheSearchAndStoredCopies) {
  struct Case {
    std::string settings;
    const char* sw;
    uint32_t at;
    uint32_t version;
    std::string line;
  };
  const std::string box = "=     DP FW Version is 06.02.03.04      =\n";
  for (const Case& c : std::vector<Case>{
           {"", "/FD", 0x70000, 0x06020304, box},
           {"DPStrapping=0\n", "/FD", 0x50000, 0x06020304, box},
           {"DP1PID=0605\n", "/FD", 0x60000, 0x06020304, box},
           {"DP1PID=0605\n", "/FD", 0x50000, 0, "DP firmware not found.\n"},
           {"ReadSPIDPFWOnly=1\n", nullptr, 0x40000, 0x06020304, "    Size_Match_at: 64KB\n"},
           // Selector 2 never reads 0x40000.
           {"ReadSPIDPFWOnly=2\n", nullptr, 0x40000, 0, "    Read_Start_Adr = 70000\n"},
           {"ReadSPIDPFWOnly=2\n", nullptr, 0x70000, 0x06020304,
            "=    DP[1] FW Version is 06.02.03.04    =\n"}}) {
    SCOPED_TRACE(c.settings + Hex(c.at));
    Rig r({"FlashSize=80000"});
    r.board.Load(c.at, Dp(0x10000));
    WriteBytes(r.p.File("dp.bin"), Dp(0x10000, 1));
    r.p.Settings(c.settings + "PDDPShareSPI=1\nDP1Bin=dp.bin\nPD1Bin=dp.bin\nDbgMsg=1\n" +
                 kBoardIds);
    EXPECT_EQ(r.board.Run(c.sw ? std::vector<std::string>{c.sw} : std::vector<std::string>{}),
              c.version)
        << r.p.out;
    EXPECT_THAT(r.p.out, HasSubstr(c.line));
    if (c.settings == "ReadSPIDPFWOnly=2\n") {
      for (size_t i : Where(r.board.log, {kReadData}))
        EXPECT_NE(FlashAddress(r.board.log[i].setup) >> 16, 4u);
    }
  }
}

TEST(DpBackup, FamilyFromTheFlashAndBothFiles) {
  struct Case {
    Copies board;
    std::string settings, family;
    uint32_t base, region, image;
  };
  for (const Case& c : std::vector<Case>{
           {{{0x40000, 0x18000}, {0x60000, 0x18000}}, "", "KMDPA_1", 0x40000, 0x40000, 0x18000},
           {{{0x40000, 0x20000}}, "", "KMDPA_2", 0x40000, 0x40000, 0x20000},
           {{{0x70000, 0x10000}}, "", "KMDPB", 0x60000, 0x20000, 0x10000},
           {{{0x40000, 0x10000}}, "DPStrapping=0\n", "KMDPB", 0x40000, 0x20000, 0x10000}}) {
    SCOPED_TRACE(c.family + c.settings);
    DpRig r(c.board);
    WriteBytes(r.p.File("dp.bin"), Dp(0x10000));
    ASSERT_EQ(r.Run(c.settings + "BackUpOnly=1\nPDDPShareSPI=1\nDP1Bin=dp.bin\n"), 1u) << r.p.out;
    const std::string dp = r.p.out.substr(r.p.out.find("\nDP_FW_Backup_Start...\n"));
    EXPECT_THAT(dp, HasSubstr("    Should_Be_" + c.family + ".\n"));
    // A copy OK line for each copy the board holds at the family's places.
    for (const auto& [at, size] : c.board)
      EXPECT_THAT(dp,
                  HasSubstr(at == c.base ? "    Firmware_1_OK ...\n" : "    Firmware_2_OK ...\n"));
    EXPECT_THAT(dp, HasSubstr("=    DP_FW_Backup_PASS.   =\n"));
    EXPECT_TRUE(ReadBytes(r.p.File("DPFWBackup.bin")) == Slice(r.before, c.base, c.image));
    EXPECT_TRUE(ReadBytes(r.p.File("DPFWBackupAll.bin")) == Slice(r.before, c.base, c.region));
    EXPECT_TRUE(r.Untouched());
  }
}

}  // namespace
}  // namespace pdflash::test
