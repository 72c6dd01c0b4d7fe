// The second flash of the dual-port controller through the whole program:
// the target rules, the chip refusals and the port select around every body.
#include "scenario/scenario_support.h"

namespace pdflash::test {
namespace {

constexpr uint32_t kVersion2 = 0x0E020300;

// A board whose second flash holds a background, a PD copy and hub firmware.
struct TwoFlashes : Rig {
  explicit TwoFlashes(std::vector<std::string> keys) : Rig(keys) {
    if (board.Config().Flash2Size == 0) return;
    board.Load(0, Background(0x80000, 2), 1, 2);
    board.Load(0, fwgen::MakeHubFirmware({}), 1, 2);
    board.Load(0x20000, Firmware(0xC800, kVersion2, 3), 1, 2);
    second = board.Flash(1, 2);
  }
  std::vector<uint8_t> second;
};

TEST(SecondSpi, TargetsChipsAndThePortSelect) {
  const std::vector<std::string> two = {"Flash2Size=80000"}, kmpda = {"Identity=70", "AppPID=0103"};
  const std::string use = "KMPDB_2nd_SPI_Use_Index_2, ForPD=", ver = "2nd_SPI_GetVer_Exe\n",
                    select = "    Select_KMPDB_2nd_SPI\n",
                    pd = select + "\n    PD1_Get_SPI0_Version...\n",
                    bad = select + "Error: UnSupported_2nd_SPI_Target.\n    Select_1st_SPI\n";
  const struct {
    std::vector<std::string> keys;
    std::string settings, sw;
    uint32_t result;
    std::string lines;
    const char* file = nullptr;  // written from the second flash
    uint32_t from = 0, size = 0;
  } cases[] = {
      {two, "2ndSPIReadVerOnly=10\n", "", kVersion2, use + "0, ForHub=0\n" + ver + pd},
      {two, "2ndSPIReadVerOnly=3\n", "", 0, use + "0, ForHub=0\n" + ver + bad},
      {two, "2ndSPIReadVerOnly=3\n2ndSPIForPD=1\n", "", kVersion2,
       use + "1, ForHub=0\n" + ver + pd},
      {two, "2ndSPIReadVerOnly=5\n2ndSPIForHub=1\n", "", 0x1234,
       select + "\n    Hub1_Get_SPI0_Version_Start"},
      {two, "", "/FSD", 0, ver + bad},
      {two, "2ndSPIBackUpOnly=1\n2ndSPIForPD=1\n", "", 1,
       "2nd_SPI_BackUp_Exe\n" + select + "\nPD[2]_FW_Backup_Start", "PDFWBackup.bin", 0x20000,
       0x8000},  // slot 2 has no PID: the 32 KiB size of chip 0103
      {two, "2ndSPIBackUpOnly=1\n", "", 0, "2nd_SPI_BackUp_Exe\n" + bad},
      {two, "2ndSPIDumpOnly=4\n", "", 1,
       "2nd_SPI_Update_Exe\n" + select + "\nPD[2]_Flash_Dump_4M_Bits_Start", "PDFlash2Dump.bin", 0,
       0x80000},
      {{}, "", "/FS0", 0, pd + "SPI[20000] = FF\n"},  // no second flash: reads blank
      {kmpda, "PD1PID=0103\n2ndSPIDumpOnly=4\n", "", 0,
       use + "0, ForHub=0\nNot_Support, PID=0103, FWVer=0E010100\nReturn"},
      {kmpda, "PD1PID=0103\n", "/FS0", 0, ver + "    Not_KMPDB_Chip!\nReturn"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.settings + c.sw);
    TwoFlashes r(c.keys);
    r.p.Settings(c.settings + kBoardIds);
    EXPECT_EQ(r.board.Run(c.sw.empty() ? std::vector<std::string>{} : std::vector{c.sw}), c.result)
        << r.p.out;
    EXPECT_THAT(r.p.out, HasSubstr(c.lines));
    // Register 0x2BFD exists only on chip 0107; the first flash comes back.
    const bool kmpdb = c.keys != kmpda;
    const std::vector<uint8_t> selects = {1, 0};
    EXPECT_EQ(Taken(r.board.log, RegisterWrites(r.board.log, kPortSelect)),
              kmpdb ? selects : std::vector<uint8_t>{});
    EXPECT_EQ(r.p.out.find("    Select_1st_SPI\nReturn_Value = 0x") != std::string::npos, kmpdb);
    const auto& s = r.second;
    EXPECT_TRUE(!c.file ||
                ReadBytes(r.p.File(c.file)) ==
                    std::vector<uint8_t>(s.begin() + c.from, s.begin() + c.from + c.size));
    EXPECT_TRUE(!ChangesFlash(r.board.log) && r.board.Flash(1, 2) == r.second);
  }
}

TEST(SecondSpi, UpdateWritesTheSecondFlashAndAFailedSelectIsLeft) {
  TwoFlashes r({"Flash2Size=80000"});
  const auto image = Firmware(0xC800, kVersion2 + 0x100, 8);
  WriteBytes(r.p.File("second.bin"), image);
  ASSERT_EQ(r.Run("2ndSPIUpdateOnly=10\n2ndSPIForPD=1\nPD2Bin=second.bin\n"), 1u) << r.p.out;
  EXPECT_THAT(r.p.out, HasSubstr("    Write_2nd_SPI, No_Check.\n"));
  EXPECT_TRUE(BothCopies(r.board.Flash(1, 2), image) && r.board.Flash() == r.before);
  const auto selects = RegisterWrites(r.board.log, kPortSelect);
  EXPECT_EQ(Taken(r.board.log, selects), (std::vector<uint8_t>{1, 0}));

  TwoFlashes cut({"Flash2Size=80000", "FailTransfer=" + Hex(uint32_t(selects.at(0) + 1))});
  EXPECT_EQ(cut.Run("2ndSPIUpdateOnly=10\n2ndSPIForPD=1\nPD2Bin=second.bin\n"), 0u);
  EXPECT_THAT(cut.p.out,
              HasSubstr("    Select_KMPDB_2nd_SPI\nWrite-Reg 0x2BFD  Fail\nReturn_Value = 0x0\n"));
  EXPECT_EQ(RegisterWrites(cut.board.log, kPortSelect).size(),
            1u);  // nothing switched, nothing undone
  EXPECT_TRUE(cut.Untouched() && cut.board.Flash(1, 2) == cut.second);
}

}  // namespace
}  // namespace pdflash::test
