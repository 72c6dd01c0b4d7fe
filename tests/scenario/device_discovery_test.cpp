// Finding the controller on the bus, its identity, and failures on the way.
#include "scenario/scenario_support.h"

namespace pdflash::test {
namespace {

TEST(DeviceDiscovery, IdPairsAndFiltersPickTheDevice) {
  std::vector<std::string> twenty_foreign = {"AppVID=1234", "Device21.BcdDevice=0111"};
  for (int n = 2; n <= 20; ++n)
    twenty_foreign.push_back("Device" + std::to_string(n) + ".AppVID=1234");
  // Only the last digit of a location number counts, and a 0 there is no location.
  std::vector<std::string> board;
  const char* devices[][3] = {{"Port_#0010.Hub_#0001", "5", "0111"},
                              {"Port_#0003.Hub_#0002", "87", "0222"},
                              {"Port_#0012.Hub_#0003", "9", "0333"},
                              {"Port_#0001.Hub_#0001", "0B", "0444"},
                              {"", "5", "0555"}};
  for (int n = 0; n < 5; ++n) {
    const std::string at = n ? "Device" + std::to_string(n + 1) + "." : "";
    board.push_back(at + "Location=" + devices[n][0]);
    board.push_back(at + "UsbAddress=" + devices[n][1]);
    board.push_back(at + "BcdDevice=" + devices[n][2]);
  }
  const std::string seen = "    Not_Our_billboard_0\n", none = "    DeviceNotFound\n";
  const std::string hub = "WinLocationHub=", port = "\nWinLocationPort=";
  const struct {
    std::vector<std::string> board;
    std::string settings;
    uint32_t result;  // of /BCDDEV: tells which device was taken
    std::string line, absent;
  } cases[] = {
      {{"AppVID=1234", "Device2.BcdDevice=0222"}, "", 0x222, seen + "    Found Target Device: \n"},
      {{"BcdDevice=0111", "Device2.BcdDevice=0222"}, "", 0x111, "", "Not_Our_billboard"},
      {{"AppVID=AAAA", "AppPID=0001", "BcdDevice=0111"}, "PD1VID2=AAAA\nPD1PID2=0001\n", 0x111},
      {{"AppVID=BBBB", "AppPID=0002", "BcdDevice=0111"}, "PD1VID3=BBBB\nPD1PID3=0002\n", 0x111},
      {{"AppVID=AAAA", "AppPID=0000"}, "PD1VID2=AAAA\nPD1PID2=0\n", 0, seen + none},
      {{"Mode=Rom", "BcdDevice=0111"}, "", 0x111, "    Found Target Device: \n"},
      {{"Mode=Rom", "RomPID=2222"}, "", 0, seen},
      {twenty_foreign, "", 0, "    Not_Our_billboard_19\nReturn_Value = 0x0\n", "_billboard_20"},
      {board, "", 0x111, "", "Not_Target"},
      // Bit 7 of the register is not part of the address.
      {board, "USBSetAddress=7\n", 0x222,
       "    Get_USB_Set_Address = 0x05\n    Not_Target_USB_Address \n"},
      {board, hub + "2" + port + "3\n", 0x222,
       "    Dev_0, LocationInformation = Port_#0010.Hub_#0001, 31, 30\n"
       "    Registry_Location_Not_Found\n"},
      {board, hub + "3" + port + "2\n", 0x333},
      {board, hub + "1" + port + "1\n", 0x444, "    Not_Target_Location_Info\n"},
      {board, "WinLocationHub=1\n", 0, none},
      {board, "USBSetAddress=9\n" + hub + "1" + port + "1\n", 0, none},
      {board, hub + "9" + port + "9\n", 0,
       "    RegQueryValueEx FAIL \n    Registry_Location_Not_Found\n    Found Target Device: \n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.board.back() + " | " + c.settings);
    Bench b(c.board, c.settings);
    EXPECT_EQ(b.Run({"/BCDDEV"}), c.result) << b.p.out;
    EXPECT_TRUE(b.Has(c.line));
    EXPECT_TRUE(c.absent.empty() || !b.Has(c.absent)) << c.absent;
  }
}

TEST(DeviceDiscovery, IdentityTableAndCableOrientation) {
  struct Case {
    std::vector<std::string> board;
    std::string pjid;       // empty: no match
    bool reversible, flip;  // orientation read; device refused
  };
  const Case cases[] = {
      {{"Identity=00"}, "01000000, KM100"},
      {{"Identity=10"}, "01020000, KM102"},
      {{"Identity=70", "Orientation=0"}, "01030000, KM103", true, true},
      {{"Identity=80"}, "01030000, KM103", true},
      {{"Identity=81", "Orientation=F"}, "01030000, KM103", true, true},
      {{"Identity=90", "Orientation=0"}, "01040000, KM104"},
      {{"Identity=A0"}, "01050000, KM105"},
      {{"Identity=B0"}, "01060000, KM106"},
      {{"Identity=C0", "Orientation=F"}, "01070000, KM107"},
      {{"Identity=71"}, "", true},
      {{"Identity=FF", "ExtIdHigh=35", "ExtIdLow=96", "ExtVersion=02"}, "01080200, KM108"},
      {{"Identity=FF", "ExtIdHigh=36", "ExtIdLow=01"}, "01090000, KM109"},
      {{"Identity=FF", "ExtIdHigh=35", "ExtIdLow=01"}, "35010000, KM3501"},
  };
  const std::string flip = "    Please flip the USB-C cable and retry again.\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.board.back());
    Bench b(c.board, "DbgMsg=1\n", 0x0E010300);
    EXPECT_EQ(b.Run({"/F0"}), c.flip ? 0u : 0x0E010300u);
    EXPECT_TRUE(b.Has(c.pjid.empty() ? "    Reg[0018] = 0x71\n    No_Matched_PJID.\n"
                                     : "    PJID = 0x" + c.pjid + "\n"));
    EXPECT_EQ(Count(b.p.out, flip), c.flip ? 1u : 0u) << b.p.out;
    const auto orientation = [](const auto& r) { return IsRegRead(r, 0x1005); };
    EXPECT_EQ(Find(b.board.log, orientation) < b.board.log.size(), c.reversible);
    if (c.flip) {
      b.Settings("ReadVerOnly=1\n");
      EXPECT_EQ(b.Run(), 0u);
      EXPECT_TRUE(b.Has(flip + "Search_Fail\nReturn_Value = 0x0\n"));
    }
  }
}

TEST(DeviceDiscovery, FailedTransfersDuringTheSearch) {
  Bench b({}, "DbgMsg=1\nUSBSetAddress=5\n", 0x0E010300);
  ASSERT_EQ(b.Run({"/F0"}), 0x0E010300u);
  const Log clean = b.board.log;
  const size_t identity = Find(clean, [](const auto& r) { return IsRegRead(r, 0x0018); });
  const size_t version = First(clean, 0xE2);
  const size_t address = Find(clean, [](const auto& r) { return IsRegRead(r, 0x0021); });
  ASSERT_LT(address, clean.size());
  ExpectSetup(clean[version], 0xC0, 0xE2, 0x0001, 0x0000, 4);
  EXPECT_EQ(clean[version].data, (std::vector<uint8_t>{0x0E, 0x01, 0x03, 0x00}));
  const std::string no_address = "    Get_USB_Set_Address_Fail\n    Not_Target_USB_Address \n";
  const struct {
    std::string key;
    uint32_t result;
    std::string lines;
  } cases[] = {
      {"UsbAddress=80", 0, no_address},  // bit 7 alone is no address
      // A failed identity read counts as the oldest chip.
      {FailAt(identity), 0x0E010300, "Read-Reg 0x0018 Fail\n    PJID = 0x01000000, KM100\n"},
      {FailAt(version), 0, "Get_PD_FW_Version_FAIL.\n    Get_USB_Set_Address = 0x05\n"},
      {FailAt(address), 0,
       "Read-Reg 0x0021 Fail\n" + no_address + "Loop = 1\n    DeviceNotFound\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    b.board.Init({c.key});
    b.board.LoadFirmware(Firmware(0xC800, 0x0E010300));
    EXPECT_EQ(b.Run({"/F0"}), c.result);
    EXPECT_TRUE(b.Has(c.lines));
  }
}

}  // namespace
}  // namespace pdflash::test
