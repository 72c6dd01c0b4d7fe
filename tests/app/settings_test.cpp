#include "app/settings.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "support/harness.h"

namespace pdflash {
namespace {

using test::ToolFixture;

constexpr const char* kIds = "PD1VID=2109\nPD1PID=0107\nPD1RomVID=2109\nPD1RomPID=1107\n";

struct Loaded {
  std::unique_ptr<ToolFixture> fx;
  bool devices = false;  // the run goes on to the devices
  const Tool& t() const { return fx->t; }
  bool Said(const std::string& text) const {
    return fx->console.out.find(text) != std::string::npos;
  }
};

Loaded Load(const std::string& config, std::vector<std::string> args = {},
            BuildProfile build = BuildProfile{}) {
  Loaded l{std::make_unique<ToolFixture>(build)};
  test::WriteFile(l.fx->dir / "Setting.ini", "[Config]\n" + std::string(kIds) + config);
  test::WriteFile(l.fx->dir / "fw.bin", "x");
  args.insert(args.begin(), l.fx->host.exe_path);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  l.devices = LoadSettings(l.fx->t, static_cast<int>(argv.size()), argv.data()) ==
              AfterLoad::Devices;
  return l;
}

TEST(LoadSettings, ProgressTotalCountsDevicesAndCompanions) {
  const std::pair<std::string, uint32_t> cases[] = {
      {"", 100},
      {"HubPDShareSPI=1\nHub1Bin=h.bin\nPDVMM6ShareSPI=1\nVMM6Bin=v.bin\n", 300},
      {"SameIDFWMode=2\n", 200}};
  for (const auto& [settings, total] : cases) {
    const Loaded l = Load("PD1Bin=fw.bin\n" + settings);
    ASSERT_TRUE(l.devices) << settings;
    EXPECT_EQ(l.t().out.ProgressTotal, total) << settings;
  }
}

TEST(LoadSettings, IdsFilesAndDefaultsReachTheRecords) {
  const Loaded l = Load(
      "PD1Bin=fw.bin\nPD1VID2=1234\nPD1PID2=5678\nHub1VID=2109\nDP1PID=0605\n"
      "HubPDShareSPI=1\nHub1Bin=h.bin\nPDVMM6ShareSPI=1\nVMM6Bin=v.bin\n");
  ASSERT_TRUE(l.devices);
  const DeviceRecord& pd = l.t().Pd[1];
  EXPECT_EQ(std::vector<int>({pd.Vid, pd.Pid, pd.Vid2, pd.Pid2, pd.RomPid}),
            std::vector<int>({0x2109, 0x0107, 0x1234, 0x5678, 0x1107}));
  EXPECT_EQ(pd.BinPath, "fw.bin");
  EXPECT_EQ(l.t().Hub[1].BinPath, "h.bin");
  EXPECT_EQ(l.t().Vmm6[1].BinPath, "v.bin");
  EXPECT_EQ(l.t().Hub[1].Vid, 0x2109);
  EXPECT_EQ(l.t().Dp[1].Pid, 0x0605);
  EXPECT_EQ(l.t().set.WinMsg, 0x464u);
  EXPECT_EQ(l.t().set.DPStrapping, 1);
  EXPECT_EQ(l.t().set.TargetPDVer, 0xFFu);
}

TEST(LoadSettings, SwitchClearsFileFunctions) {
  const Loaded l = Load("PD1Bin=fw.bin\nBackUpOnly=1\nFlashDumpOnly=8\nQCModeOnly=3\n", {"/CKFW"});
  ASSERT_TRUE(l.devices);
  EXPECT_EQ(l.t().set.BackUpOnly, 0);
  EXPECT_EQ(l.t().set.FlashDumpOnly, 0);
  EXPECT_EQ(l.t().set.QCModeOnly, 3);  // not one of the cleared ones
  EXPECT_EQ(l.t().ControlMode, 0x10100u);
}

TEST(LoadSettings, NoFileCheckForReadOnlyFunctions) {
  const std::pair<std::string, std::string> cases[] = {
      {"BackUpOnly=1\n", "    No_Need_To_Check_Bin_File\n"},
      {"CleanFlashOnly=1\nDirectDownload=1\n", ""},
      {"FuncTestOnly=3\nPD1Bin=fw.bin\nTextFilePath=t.txt\n",
       "    No_Need_To_Check_Bin_File\n    PD1Bin: \"fw.bin\"\n    Text_File_Path:  \"t.txt\"\n"
       "    Hash_File_Path:  \"NA\"\n    ScyImgFilePath:  \"NA\"\n"},
      {"2ndSPIUpdateOnly=1\n2ndSPIForPD=1\n2ndSPIForHub=1\nHub2Bin=h2.bin\n",
       "2ndSPI_PD_Error\n    2ndSPI_Hub: \"h2.bin\"\n"}};
  for (const auto& [settings, lines] : cases) {
    const Loaded l = Load(settings);
    EXPECT_TRUE(l.devices) << settings;
    EXPECT_TRUE(l.Said(lines)) << settings;
  }
}

TEST(LoadSettings, SolkLevelZeroOnlyInstallsASignedImage) {
  const Loaded solk = Load("", {}, BuildProfile{0x00, 18});
  ASSERT_TRUE(solk.devices);
  EXPECT_EQ(solk.t().set.SecondSPIForPD, 1);
  EXPECT_EQ(solk.t().set.SkipJumpRom, 1);
  EXPECT_EQ(solk.t().set.SCYUpdateOnly, 1);
  EXPECT_EQ(Load("PD1Bin=fw.bin\n", {"/F0"}, BuildProfile{0x00, 18}).t().set.SCYUpdateOnly, 0);
  EXPECT_EQ(Load("PD1Bin=fw.bin\n", {}, BuildProfile{0x00, 3}).t().set.SkipJumpRom, 0);
}

}  // namespace
}  // namespace pdflash
