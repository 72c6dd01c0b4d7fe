// The program as a whole without a device: start-up, settings, command line,
// the device-less functions and the result.
#include <gtest/gtest.h>

#include "app/run.h"
#include "support/harness.h"

namespace pdflash {
namespace {

using test::FileExists;
using test::Program;
using test::ReadFile;
using test::WriteFile;

constexpr const char* kIds = "PD1VID=2109\nPD1PID=0107\nPD1RomVID=2109\nPD1RomPID=1107\n";

bool Has(const std::string& out, const std::string& text) { return out.find(text) != std::string::npos; }

TEST(Run, StartUpBannerAndSettingsFailure) {
  Program p;
  EXPECT_EQ(p.Run(), 0u);
  const std::string expected =
      "ToolPath   = " + p.dir.path() + "pdflash\n" + "WorkingDir = " + p.dir.path() + "\n" +
      "    ControlMode=0\r\n"
      "PD1_Config_Error\n"
      "=========================================\n"
      "=                                       =\n"
      "=               2023.08.30              =\n"
      "=========================================\n"
      "================ LEVEL-1 ================\n"
      "==== LocalTime: 2026/12/06, 09:30:00 ====\n"
      "Setting File Error, Exit\n"
      "Return_Value = 0x0\n";
  EXPECT_EQ(p.out, expected);
}

TEST(Run, LevelAndCustomerLines) {
  struct Case {
    uint8_t level;
    const char* line;
  } cases[] = {{0x00, "LEVEL-0"}, {0x0F, "LEVEL-0"}, {0x10, "LEVEL-1"}, {0x2F, "LEVEL-2"},
               {0x30, "LEVEL-3"}, {0xEF, "LEVEL-3"}, {0xF0, "LEVEL-S"}, {0xFF, "LEVEL-S"}};
  for (const auto& c : cases) {
    Program p(BuildProfile{c.level, 3});
    p.Settings("DbgMsg=1\n");
    p.Run();
    EXPECT_TRUE(Has(p.out, std::string("================ ") + c.line + " ================\n")) << int(c.level);
    // The customer line needs DbgMsg, which level 0 forces off.
    EXPECT_EQ(Has(p.out, "================= PLOVE =================\n"), c.level != 0) << int(c.level);
  }
  Program solk(BuildProfile{0x10, 18});
  solk.Settings("DbgMsg=1\n");
  solk.Run();
  EXPECT_TRUE(Has(solk.out, "================= SOLK ==================\n"));
  Program plain(BuildProfile{0x10, 3});
  plain.Run();
  EXPECT_FALSE(Has(plain.out, "PLOVE"));
}

TEST(Run, RightsOfTheBuild) {
  Program s_level(BuildProfile{0xEF, 3});
  s_level.Settings(std::string(kIds) + "CreateECDSASignOnly=1\n");
  EXPECT_EQ(s_level.Run(), 0u);
  EXPECT_TRUE(Has(s_level.out, "\nProtection: Insufficient_Permission_S.\n"));

  for (const char* key : {"FuncTestOnly=3\n", "SkipCheckBin=1\n", "RWRegEnable=1\n"}) {
    Program p(BuildProfile{0x00, 3});
    p.Settings(std::string(kIds) + key);
    EXPECT_EQ(p.Run(), 0u);
    EXPECT_TRUE(Has(p.out, "\nProtection: Insufficient_Permission_1.\n")) << key;
    Program q(BuildProfile{0x01, 3});  // any level above 0 allows them
    q.Settings(std::string(kIds) + key);
    q.Run();
    EXPECT_FALSE(Has(q.out, "Insufficient_Permission")) << key;
  }

  // Level 0 forces DbgMsg and LogFile off.
  Program quiet(BuildProfile{0x00, 3});
  quiet.Settings(std::string(kIds) + "DbgMsg=1\nLogFile=1\n");
  quiet.Run();
  EXPECT_FALSE(Has(quiet.out, "Setting_From_Setting.ini"));
  EXPECT_FALSE(FileExists(quiet.File("pddebug.log")));
}

TEST(Run, SettingsRefusedBeforeAnyDeviceWork) {
  struct Case {
    std::string settings;  // after the example IDs unless they are given
    const char* message;
  } cases[] = {
      {"ReadVerOnly=1\nQCModeOnly=3\n", "\nProtection: Multi_Special_Function_Selected.\n"},
      // Not offered by this build: the run stops with a good file too.
      {"PD1Bin=fw.bin\nSetBinFlagOnly=1\n", "Setting File Error, Exit\n"},
      {"DeviceNum=10\n", "PD_Tool_Only_Support_1_Device_Number.\n"},
      {"SameIDFWMode=5\n", "SameID_Num_Error\n"},
      {"SameIDFWMode=2\nUSBSetAddress=3\n", "SameID_SetAdr_Error\n"},
      {"SameIDFWMode=2\nPDDPShareSPI=1\n", "SameID_Share_Error\n"},
      {"SameIDFWMode=2\nDeviceNum=2\n", "SameID_Single_Error\n"},
      {"DirectDownload=1\nHubPDShareSPI=1\n", "HubPDShare_Download_Protect_Error\n"},
      {"DirectDownload=1\nPDVMM6ShareSPI=1\n", "VMM6_Download_Protect_Error\n"},
      {"MacLocationID=1\nUSBSetAddress=3\n", "LocationID_Multi_Error\n"},
      {"", "PD1_Bin_Error\n"},
      {"PD1Bin=\n", "PD1_Bin_Error\n"},
      {"PD1Bin=missing.bin\n", "Protection : FW_Open_Fail: missing.bin\n"},
      {"PD1Bin=fw.bin\nHubPDShareSPI=1\n", "Hub1_Bin_Error\n"},
      {"PD1Bin=fw.bin\nPDVMM6ShareSPI=1\n", "VMM6_Bin_Error\n"},
      {"PD1Bin=fw.bin\nPDDPShareSPI=1\n", "DP1_Bin_Error\n"},
      {"PD1VID=2109\nPD1PID=0107\nPD1RomVID=2109\n", "PD1_Config_Error\n"},
  };
  for (const auto& c : cases) {
    Program p;
    WriteFile(p.File("fw.bin"), "x");
    p.Settings((c.settings.rfind("PD1VID", 0) == 0 ? "" : kIds) + c.settings);
    EXPECT_EQ(p.Run(), 0u) << c.settings;
    EXPECT_TRUE(Has(p.out, c.message)) << c.settings << p.out;
    EXPECT_TRUE(Has(p.out, "Setting File Error, Exit\n")) << c.settings;
  }
  // A switch clears the file-level functions before they are counted.
  Program q;
  WriteFile(q.File("fw.bin"), "x");
  q.Settings(std::string(kIds) + "PD1Bin=fw.bin\nReadVerOnly=1\nBackUpOnly=1\n");
  q.Run({"/B0"});
  EXPECT_FALSE(Has(q.out, "Multi_Special"));
}

TEST(Run, SettingsListUnderDbgMsg) {
  Program p;
  p.Settings(std::string(kIds) + "DbgMsg=1\nWinMsg=1124\nTargetVMMVer=ABC\nReadBinOnly=1\n");
  p.Run();
  const std::string list_start = "----- Setting_From_Setting.ini, Start -----\n    LogFile=0\n    DeviceNum=1\n    PD1VID=2109\n";
  EXPECT_TRUE(Has(p.out, list_start));
  EXPECT_TRUE(Has(p.out, "    MacLocationID=0\n    ghWnd=0\n    gWinMsg=1124\n    ControlMode=0\n    IniFile=Setting.ini\n    BackUpOnly=0\n"));
  EXPECT_TRUE(Has(p.out, "    TargetDPVer=FF\n    TargetVMMer=ABC\n    2ndSPIForPD=0\n"));
  EXPECT_TRUE(Has(p.out, "    2ndSPIUpdateOnly=0\n----- Setting_From_Setting.ini, End   -----\n"));
  EXPECT_FALSE(Has(p.out, "    DbgMsg="));
}

TEST(Run, ReturnZeroAsOkAndResultFile) {
  const std::pair<const char*, bool> cases[] = {{"/F2", true}, {"/B3", true}, {"/B2", false}};
  for (const auto& [sw, zero_ok] : cases) {
    Program p;
    WriteFile(p.File("fw.bin"), "x");
    p.Settings(std::string(kIds) + "PD1Bin=fw.bin\nOutputResult=1\n" +
               (zero_ok ? "ReturnZeroAsOK=1\n" : ""));
    EXPECT_EQ(p.Run({sw}), zero_ok ? 1u : 0u) << sw;
    EXPECT_TRUE(Has(p.out, zero_ok ? "\nFailed, Return_Value = 0x1\n" : "\nReturn_Value = 0x0\n"))
        << sw << p.out;
    EXPECT_EQ(ReadFile(p.File("Result.txt")), zero_ok ? "0x00000001" : "0x00000000");
  }
}

TEST(Run, ExitStatusNeverTurnsALargeResultIntoSuccess) {
  EXPECT_EQ(ExitStatus(0), 0);
  EXPECT_EQ(ExitStatus(1), 1);
  EXPECT_EQ(ExitStatus(255), 255);
  EXPECT_EQ(ExitStatus(0x0E010100), 255);
  EXPECT_EQ(ExitStatus(0x100), 255);
}

TEST(Run, LogFileNeverHoldsTheStartUpLines) {
  Program p;
  p.Settings(std::string(kIds) + "LogFile=2\n");
  p.Run();
  const std::string log = ReadFile(p.File("pddebug2.log"));
  EXPECT_FALSE(Has(log, "ToolPath"));
  EXPECT_FALSE(Has(log, "WorkingDir"));
  EXPECT_TRUE(Has(log, "==== LocalTime: "));
  EXPECT_TRUE(Has(log, "Return_Value = 0x0\n"));
}

}  // namespace
}  // namespace pdflash
