// The second flash of the dual-port controller through the whole program:
// version read, backup, update and dump, the target rules, the chip refusal
// and the port select around every body.
#include "scenario/scenario_support.h"

namespace pdflash::test {
namespace {

constexpr uint16_t kPortSelect = 0x2BFD;
constexpr uint32_t kSecondVersion = 0x0E020300;

std::vector<uint8_t> Slice(const std::vector<uint8_t>& b, uint32_t from, uint32_t n) {
  return std::vector<uint8_t>(b.begin() + from, b.begin() + from + n);
}

// A board whose second flash holds a patterned background and a PD copy.
struct TwoFlashes : Rig {
  explicit TwoFlashes(std::vector<std::string> keys = {"Flash2Size=80000"}) : Rig(keys) {
    if (board.Config().Flash2Size == 0) return;
    board.Load(0, Background(0x80000, 2), 1, 2);
    board.Load(0x20000, Firmware(0xC800, kSecondVersion, 3), 1, 2);
    second = board.Flash(1, 2);
  }
  uint32_t RunWith(const std::string& settings, const std::vector<std::string>& args = {}) {
    p.Settings(settings + kBoardIds);
    before = board.Flash();
    return board.Run(args);
  }
  std::vector<uint8_t> SelectsTaken() const {
    return Taken(board.log, RegisterWrites(board.log, kPortSelect));
  }
  std::vector<uint8_t> second;
};

const std::string kUse = "KMPDB_2nd_SPI_Use_Index_2, ForPD=";
const std::string kVersionBody = "2nd_SPI_GetVer_Exe\n    Select_KMPDB_2nd_SPI\n\n    PD1_Get_SPI0_Version...\n";
const std::string kUnsupported =
    "    Select_KMPDB_2nd_SPI\nError: UnSupported_2nd_SPI_Target.\n    Select_1st_SPI\nReturn_Value = 0x0\n";

TEST(SecondSpi, FunctionsReadTheSecondFlash) {
  const struct {
    std::string settings;
    std::vector<std::string> args;
    uint32_t result;
    std::string lines;
    const char* file = nullptr;  // what the run wrote, from the second flash
    uint32_t from = 0, size = 0;
  } cases[] = {
      {"2ndSPIReadVerOnly=10\n", {}, kSecondVersion, kUse + "0, ForHub=0\n" + kVersionBody},
      {"2ndSPIReadVerOnly=3\n", {}, 0, kUse + "0, ForHub=0\n2nd_SPI_GetVer_Exe\n" + kUnsupported},
      {"2ndSPIReadVerOnly=3\n2ndSPIForPD=1\n", {}, kSecondVersion, kUse + "1, ForHub=0\n" + kVersionBody},
      {"", {"/FS0"}, kSecondVersion, "    ControlMode=40210\r\n"},
      {"", {"/FSD"}, 0, "2nd_SPI_GetVer_Exe\n" + kUnsupported},
      {"2ndSPIForPD=1\n", {"/FSV"}, kSecondVersion, kVersionBody},
      // The flag wins over the value.
      {"2ndSPIBackUpOnly=1\n2ndSPIForPD=1\n", {}, 1,
       "2nd_SPI_BackUp_Exe\n    Select_KMPDB_2nd_SPI\n\nPD[2]_FW_Backup_Start...\n",
       "PDFWBackupAll.bin", 0x20000, 0x20000},
      {"2ndSPIBackUpOnly=1\n", {}, 0, "2nd_SPI_BackUp_Exe\n" + kUnsupported},
      {"2ndSPIDumpOnly=4\n", {}, 1,
       "2nd_SPI_Update_Exe\n    Select_KMPDB_2nd_SPI\n\nPD[2]_Flash_Dump_4M_Bits_Start...\n",
       "PDFlash2Dump.bin", 0, 0x80000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.settings + (c.args.empty() ? "" : c.args[0]));
    TwoFlashes r;
    EXPECT_EQ(r.RunWith(c.settings, c.args), c.result) << r.p.out;
    EXPECT_THAT(r.p.out, HasSubstr(c.lines));
    EXPECT_THAT(r.p.out, HasSubstr("    Select_1st_SPI\nReturn_Value = 0x"));
    EXPECT_EQ(r.SelectsTaken(), (std::vector<uint8_t>{1, 0}));
    if (c.file) {
      EXPECT_TRUE(ReadBytes(r.p.File(c.file)) == Slice(r.second, c.from, c.size));
    }
    EXPECT_TRUE(r.Untouched());
    EXPECT_TRUE(r.board.Flash(1, 2) == r.second);
  }
}

TEST(SecondSpi, HubTargetsReadTheHubFirmware) {
  for (const auto& [settings, sw, hub] :
       std::vector<std::tuple<std::string, const char*, int>>{{"", "/FS1", 1},
                                                              {"2ndSPIReadVerOnly=5\n2ndSPIForHub=1\n", nullptr, 1},
                                                              {"2ndSPIReadVerOnly=2\n", nullptr, 2}}) {
    SCOPED_TRACE(settings + (sw ? sw : ""));
    TwoFlashes r;
    r.board.Load(0, fwgen::MakeHubFirmware({}), 1, 2);
    std::vector<std::string> args;
    if (sw) args.push_back(sw);
    EXPECT_EQ(r.RunWith(settings, args), 0x1234u) << r.p.out;
    EXPECT_THAT(r.p.out, HasSubstr("2nd_SPI_GetVer_Exe\n    Select_KMPDB_2nd_SPI\n\n    Hub" +
                                   std::to_string(hub) + "_Get_SPI0_Version_Start...\n"));
    EXPECT_THAT(r.p.out, HasSubstr("    Select_1st_SPI\nReturn_Value = 0x1234\n"));
    EXPECT_EQ(r.SelectsTaken(), (std::vector<uint8_t>{1, 0}));
  }
}

// With no PID of its own, slot 2 is backed up at the size of chip 0x0103.
TEST(SecondSpi, BackupJudgesThe32KSize) {
  TwoFlashes r;
  ASSERT_EQ(r.RunWith("2ndSPIBackUpOnly=10\n"), 1u) << r.p.out;
  EXPECT_TRUE(ReadBytes(r.p.File("PDFWBackup.bin")) == Slice(r.second, 0x20000, 0x8000));
}

TEST(SecondSpi, UpdateWritesTheSecondFlashOnly) {
  TwoFlashes r;
  const auto image = Firmware(0xC800, kSecondVersion + 0x100, 8);
  WriteBytes(r.p.File("second.bin"), image);
  ASSERT_EQ(r.RunWith("2ndSPIUpdateOnly=10\n2ndSPIForPD=1\nPD2Bin=second.bin\n"), 1u) << r.p.out;
  EXPECT_THAT(r.p.out, HasSubstr("    2ndSPI_PD: \"second.bin\"\n"));
  EXPECT_THAT(r.p.out, HasSubstr("    Write_2nd_SPI, No_Check.\n"));
  EXPECT_THAT(r.p.out, HasSubstr("=    PD_FW_Update_PASS.   =\n"));
  EXPECT_EQ(r.SelectsTaken(), (std::vector<uint8_t>{1, 0}));
  EXPECT_TRUE(BothCopies(r.board.Flash(1, 2), image));
  EXPECT_TRUE(r.board.Flash() == r.before);
}

TEST(SecondSpi, RefusalsAndTheFailedSelect) {
  const std::vector<std::string> kmpda = {"Identity=70", "AppPID=0103", "RomPID=0103"};
  const std::string kmpda_ids = "PD1PID=0103\nPD1RomPID=0103\n";
  // The transfer of the port select in a good run.
  TwoFlashes probe;
  ASSERT_EQ(probe.RunWith("", {"/FS0"}), kSecondVersion);
  const uint32_t select = uint32_t(RegisterWrites(probe.board.log, kPortSelect).at(0) + 1);
  const struct {
    std::vector<std::string> keys;
    std::string settings;
    std::vector<std::string> args;
    std::string lines;
    std::vector<uint8_t> selects;
    size_t tried = 0;  // port select writes sent
  } cases[] = {
      {kmpda, kmpda_ids + "2ndSPIDumpOnly=4\n", {},
       kUse + "0, ForHub=0\nNot_Support, PID=0103, FWVer=0E010100\nReturn_Value = 0x0\n", {}},
      {kmpda, kmpda_ids, {"/FS0"}, "2nd_SPI_GetVer_Exe\n    Not_KMPDB_Chip!\nReturn_Value = 0x0\n", {}},
      // Nothing to undo after a select that failed.
      {{"Flash2Size=80000", "FailTransfer=" + Hex(select)}, "", {"/FS0"},
       "    Select_KMPDB_2nd_SPI\nWrite-Reg 0x2BFD  Fail\nReturn_Value = 0x0\n", {}, 1},
      // An empty second port reads blank.
      {{}, "", {"/FS0"}, "SPI[20000] = FF\n", {1, 0}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines);
    TwoFlashes r(c.keys);
    // The settings' IDs come first, so they win over the board's.
    EXPECT_EQ(r.RunWith(c.settings, c.args), 0u) << r.p.out;
    EXPECT_THAT(r.p.out, HasSubstr(c.lines));
    EXPECT_EQ(r.SelectsTaken(), c.selects);
    EXPECT_EQ(RegisterWrites(r.board.log, kPortSelect).size(), c.tried);
    EXPECT_TRUE(r.Untouched());
  }
}

}  // namespace
}  // namespace pdflash::test
