#include "app/settings.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/harness.h"

namespace pdflash {
namespace {

using test::ToolFixture;
using test::WriteFile;

constexpr const char* kIds = "PD1VID=2109\nPD1PID=0107\nPD1RomVID=2109\nPD1RomPID=1107\n";

bool Load(ToolFixture& f, const std::string& config, std::vector<std::string> args = {}) {
  WriteFile(f.dir / "Setting.ini", "[Config]\n" + std::string(kIds) + config);
  WriteFile(f.dir / "fw.bin", "x");
  args.insert(args.begin(), f.host.exe_path);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  return LoadSettings(f.t, static_cast<int>(argv.size()), argv.data()) == AfterLoad::Devices;
}

TEST(LoadSettings, ProgressTotalCountsDevicesAndCompanions) {
  ToolFixture plain;
  ASSERT_TRUE(Load(plain, "PD1Bin=fw.bin\n"));
  EXPECT_EQ(plain.t.out.ProgressTotal, 100u);

  ToolFixture companions;
  ASSERT_TRUE(
      Load(companions,
           "PD1Bin=fw.bin\nHubPDShareSPI=1\nHub1Bin=h.bin\nPDVMM6ShareSPI=1\nVMM6Bin=v.bin\n"));
  EXPECT_EQ(companions.t.out.ProgressTotal, 300u);
  EXPECT_EQ(companions.t.Hub[1].BinPath, "h.bin");
  EXPECT_EQ(companions.t.Vmm6[1].BinPath, "v.bin");

  ToolFixture same_id;
  ASSERT_TRUE(Load(same_id, "PD1Bin=fw.bin\nSameIDFWMode=2\n"));
  EXPECT_EQ(same_id.t.out.ProgressTotal, 200u);
}

TEST(LoadSettings, IdsReachTheDeviceRecords) {
  ToolFixture f;
  ASSERT_TRUE(Load(f, "PD1Bin=fw.bin\nPD1VID2=1234\nPD1PID2=5678\nHub1VID=2109\nDP1PID=0605\n"));
  const DeviceRecord& pd = f.t.Pd[1];
  EXPECT_EQ(pd.Vid, 0x2109);
  EXPECT_EQ(pd.Pid, 0x0107);
  EXPECT_EQ(pd.Vid2, 0x1234);
  EXPECT_EQ(pd.Pid2, 0x5678);
  EXPECT_EQ(pd.RomPid, 0x1107);
  EXPECT_EQ(pd.BinPath, "fw.bin");
  EXPECT_EQ(f.t.Hub[1].Vid, 0x2109);
  EXPECT_EQ(f.t.Dp[1].Pid, 0x0605);
  EXPECT_EQ(f.t.set.WinMsg, 0x464u);
  EXPECT_EQ(f.t.set.DPStrapping, 1);
  EXPECT_EQ(f.t.set.TargetPDVer, 0xFFu);
}

TEST(LoadSettings, SwitchClearsFileFunctions) {
  ToolFixture f;
  ASSERT_TRUE(Load(f, "PD1Bin=fw.bin\nBackUpOnly=1\nFlashDumpOnly=8\nQCModeOnly=3\n", {"/CKFW"}));
  EXPECT_EQ(f.t.set.BackUpOnly, 0);
  EXPECT_EQ(f.t.set.FlashDumpOnly, 0);
  EXPECT_EQ(f.t.set.QCModeOnly, 3);  // not one of the cleared ones
  EXPECT_EQ(f.t.ControlMode, 0x10100u);
}

TEST(LoadSettings, NoFileCheckForReadOnlyFunctions) {
  ToolFixture f;
  ASSERT_TRUE(Load(f, "BackUpOnly=1\n"));
  EXPECT_NE(f.console.out.find("    No_Need_To_Check_Bin_File\n"), std::string::npos);

  ToolFixture ft;
  ASSERT_TRUE(Load(ft, "FuncTestOnly=3\nPD1Bin=fw.bin\nTextFilePath=t.txt\n"));
  EXPECT_NE(ft.console.out.find("    No_Need_To_Check_Bin_File\n    PD1Bin: \"fw.bin\"\n"
                                "    Text_File_Path:  \"t.txt\"\n    Hash_File_Path:  \"NA\"\n"
                                "    ScyImgFilePath:  \"NA\"\n"),
            std::string::npos);

  ToolFixture second;
  ASSERT_TRUE(Load(second, "2ndSPIUpdateOnly=1\n2ndSPIForPD=1\n2ndSPIForHub=1\nHub2Bin=h2.bin\n"));
  EXPECT_NE(second.console.out.find("2ndSPI_PD_Error\n    2ndSPI_Hub: \"h2.bin\"\n"),
            std::string::npos);
}

TEST(LoadSettings, CleanFlashWithDirectDownloadIsAccepted) {
  ToolFixture f;
  EXPECT_TRUE(Load(f, "CleanFlashOnly=1\nDirectDownload=1\n"));
}

TEST(LoadSettings, SolkLevelZeroOnlyInstallsASignedImage) {
  ToolFixture f(BuildProfile{0x00, 18});
  ASSERT_TRUE(Load(f, ""));
  EXPECT_EQ(f.t.set.SecondSPIForPD, 1);
  EXPECT_EQ(f.t.set.SkipJumpRom, 1);
  EXPECT_EQ(f.t.set.SCYUpdateOnly, 1);

  ToolFixture with_switch(BuildProfile{0x00, 18});
  Load(with_switch, "PD1Bin=fw.bin\n", {"/F0"});
  EXPECT_EQ(with_switch.t.set.SCYUpdateOnly, 0);

  ToolFixture other_customer(BuildProfile{0x00, 3});
  Load(other_customer, "PD1Bin=fw.bin\n");
  EXPECT_EQ(other_customer.t.set.SkipJumpRom, 0);
}

}  // namespace
}  // namespace pdflash
