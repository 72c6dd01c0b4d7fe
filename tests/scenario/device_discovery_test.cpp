// Finding the controller among the devices on the bus: which IDs match in
// which order, the address and location filters, chip identity, cable
// orientation, and searches that meet failing or vanishing devices.
#include <gtest/gtest.h>

#include "scenario/device_scenario.h"

namespace pdflash::test {
namespace {

struct SearchCase {
  const char* what;
  std::vector<std::string> board;  // pdsim init keys
  std::string settings;            // lines after the board's IDs
  uint32_t result;                 // of /BCDDEV: tells which device was taken
  std::vector<std::string> lines;  // printed
  std::vector<std::string> absent;
};

void RunSearchCases(const std::vector<SearchCase>& cases) {
  for (const SearchCase& c : cases) {
    SCOPED_TRACE(c.what);
    Program p;
    SimBoard board(p);
    board.Init(c.board);
    p.Settings(std::string(kBoardIds) + c.settings);
    EXPECT_EQ(board.Run({"/BCDDEV"}), c.result) << p.out;
    for (const auto& line : c.lines)
      EXPECT_NE(p.out.find(line), std::string::npos) << line << "\n" << p.out;
    for (const auto& line : c.absent)
      EXPECT_EQ(p.out.find(line), std::string::npos) << line << "\n" << p.out;
  }
}

std::vector<std::string> TwentyForeignThenOurs() {
  std::vector<std::string> keys = {"AppVID=1234"};
  for (int n = 2; n <= 20; ++n) keys.push_back("Device" + std::to_string(n) + ".AppVID=1234");
  keys.push_back("Device21.BcdDevice=0111");
  return keys;
}

TEST(DeviceDiscovery, IdPairsMatchInOrderAndTheFirstDeviceWins) {
  RunSearchCases({
      {"foreign device first",
       {"AppVID=1234", "BcdDevice=0111", "Device2.BcdDevice=0222"},
       "",
       0x222,
       {"    Not_Our_billboard_0\n    Found Target Device: \n"},
       {}},
      {"two of ours: enumeration order decides",
       {"BcdDevice=0111", "Device2.BcdDevice=0222"},
       "",
       0x111,
       {},
       {"Not_Our_billboard"}},
      {"second pair",
       {"AppVID=AAAA", "AppPID=0001", "BcdDevice=0111"},
       "PD1VID2=AAAA\nPD1PID2=0001\n",
       0x111,
       {},
       {}},
      {"third pair",
       {"AppVID=BBBB", "AppPID=0002", "BcdDevice=0111"},
       "PD1VID3=BBBB\nPD1PID3=0002\n",
       0x111,
       {},
       {}},
      {"a pair with a zero half never matches",
       {"AppVID=AAAA", "AppPID=0000", "BcdDevice=0111"},
       "PD1VID2=AAAA\nPD1PID2=0\n",
       0,
       {"    Not_Our_billboard_0\n    DeviceNotFound\n"},
       {}},
      {"ROM pair without ROM-only",
       {"Mode=Rom", "BcdDevice=0111"},
       "",
       0x111,
       {"    Found Target Device: \n"},
       {}},
      {"ours as the 21st device: only 20 are looked at",
       TwentyForeignThenOurs(),
       "",
       0,
       {"    Not_Our_billboard_19\nReturn_Value = 0x0\n"},
       {"Not_Our_billboard_20", "DeviceNotFound"}},
      {"ROM pair of other IDs",
       {"Mode=Rom", "RomPID=2222", "BcdDevice=0111"},
       "",
       0,
       {"    Not_Our_billboard_0\n"},
       {}},
  });
}

TEST(DeviceDiscovery, AddressAndLocationFilters) {
  // Location text as Windows records it; only the last digit of each number
  // counts, and a 0 there is no location at all.
  const std::vector<std::string> board = {
      "Location=Port_#0010.Hub_#0001",
      "UsbAddress=5",
      "BcdDevice=0111",
      "Device2.Location=Port_#0003.Hub_#0002",
      "Device2.UsbAddress=87",
      "Device2.BcdDevice=0222",
      "Device3.Location=Port_#0012.Hub_#0003",
      "Device3.UsbAddress=9",
      "Device3.BcdDevice=0333",
      "Device4.Location=Port_#0001.Hub_#0001",
      "Device4.UsbAddress=0B",
      "Device4.BcdDevice=0444",
      "Device5.Location=",
      "Device5.BcdDevice=0555",
  };
  RunSearchCases({
      {"no filter", board, "", 0x111, {}, {"Registry_Location", "Not_Target"}},
      {"address; bit 7 of the register is not part of it",
       board,
       "USBSetAddress=7\n",
       0x222,
       {"    Get_USB_Set_Address = 0x05\n    Not_Target_USB_Address \n",
        "    Get_USB_Set_Address = 0x07\n"},
       {}},
      {"hub 2 port 3",
       board,
       "WinLocationHub=2\nWinLocationPort=3\n",
       0x222,
       {"    Dev_0, LocationInformation = Port_#0010.Hub_#0001, 31, 30\n"
        "    Registry_Location_Not_Found\n",
        "    Not_Target_Location_Info\n", "    Registry_Location = Hub0002, Port0003\n"},
       {}},
      {"hub 3 port 2 from Port_#0012.Hub_#0003",
       board,
       "WinLocationHub=3\nWinLocationPort=2\n",
       0x333,
       {},
       {}},
      {"hub 1 port 1 skips the device whose port reads 0",
       board,
       "WinLocationHub=1\nWinLocationPort=1\n",
       0x444,
       {},
       {}},
      {"only one of hub and port set",
       board,
       "WinLocationHub=1\n",
       0,
       {"    DeviceNotFound\n"},
       {"Found Target Device: \n    Get_USB_Set_Address = 0x0B\n"}},
      {"address and location together",
       board,
       "USBSetAddress=B\nWinLocationHub=1\nWinLocationPort=1\n",
       0x444,
       {},
       {}},
      {"a device without a location value",
       board,
       "WinLocationHub=9\nWinLocationPort=9\n",
       0,
       {"    RegQueryValueEx FAIL \n    Registry_Location_Not_Found\n    Found Target Device: \n"},
       {}},
      {"address and location of different devices",
       board,
       "USBSetAddress=9\nWinLocationHub=1\nWinLocationPort=1\n",
       0,
       {"    DeviceNotFound\n"},
       {}},
  });
}

TEST(DeviceDiscovery, IdentityTableAndExtendedIdentity) {
  struct Case {
    std::vector<std::string> board;
    std::string lines;
  };
  const Case cases[] = {
      {{"Identity=00"}, "    PJID = 0x01000000, KM100\n"},
      {{"Identity=10"}, "    PJID = 0x01020000, KM102\n"},
      {{"Identity=70"}, "    PJID = 0x01030000, KM103\n"},
      {{"Identity=80"}, "    PJID = 0x01030000, KM103\n"},
      {{"Identity=81"}, "    PJID = 0x01030000, KM103\n"},
      {{"Identity=90"}, "    PJID = 0x01040000, KM104\n"},
      {{"Identity=A0"}, "    PJID = 0x01050000, KM105\n"},
      {{"Identity=B0"}, "    PJID = 0x01060000, KM106\n"},
      {{"Identity=C0"}, "    PJID = 0x01070000, KM107\n"},
      {{"Identity=71"}, "    Reg[0018] = 0x71\n    No_Matched_PJID.\n"},
      {{"Identity=FF", "ExtIdHigh=35", "ExtIdLow=96", "ExtVersion=02"},
       "    ProjectID = 0x01080200\n    PJID = 0x01080200, KM108\n"},
      {{"Identity=FF", "ExtIdHigh=36", "ExtIdLow=01"},
       "    ProjectID = 0x01090000\n    PJID = 0x01090000, KM109\n"},
      {{"Identity=FF", "ExtIdHigh=35", "ExtIdLow=01"},
       "    ProjectID = 0x35010000\n    PJID = 0x35010000, KM3501\n"},
      {{"Identity=FF", "ExtIdHigh=12", "ExtIdLow=34", "ExtVersion=05"},
       "    ProjectID = 0x12340500\n    PJID = 0x12340500, KM1234\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.board[0]);
    Program p;
    SimBoard board(p);
    board.Init(c.board);
    board.LoadFirmware(Firmware(0x0E010300));
    p.Settings(std::string(kBoardIds) + "DbgMsg=1\n");
    // The identity never stops a version query.
    EXPECT_EQ(board.Run({"/F0"}), 0x0E010300u);
    EXPECT_NE(p.out.find("    Found Target Device: \n" + c.lines), std::string::npos) << p.out;
  }
}

TEST(DeviceDiscovery, CableOrientationOfTheFamiliesWithAReversibleConnector) {
  struct Case {
    const char* identity;
    const char* orientation;
    bool flip;
  };
  const Case cases[] = {{"70", "0", true},
                        {"81", "F", true},
                        {"80", "1", false},
                        {"90", "0", false},
                        {"C0", "F", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.identity) + "/" + c.orientation);
    Program p;
    SimBoard board(p);
    board.Init(
        {std::string("Identity=") + c.identity, std::string("Orientation=") + c.orientation});
    board.LoadFirmware(Firmware(0x0E010300));
    p.Settings(std::string(kBoardIds) + "DbgMsg=1\n");
    const uint32_t version = board.Run({"/F0"});
    EXPECT_EQ(version, c.flip ? 0u : 0x0E010300u);
    EXPECT_EQ(Count(p.out, "    Please flip the USB-C cable and retry again.\n"), c.flip ? 1u : 0u)
        << p.out;
    // Orientation is read only where it means something.
    const bool read =
        Find(board.log, [](const auto& r) { return IsRegRead(r, 0x1005); }) < board.log.size();
    EXPECT_EQ(read, c.identity[0] == '7' || c.identity[0] == '8');
    if (c.flip) {
      // The record was filled before the check refused the device.
      EXPECT_NE(p.out.find("    PJID = 0x01030000, KM103\n"), std::string::npos);
      // The normal path reports the refusal as a failed search and leaves the device alone.
      p.Settings(std::string(kBoardIds) + "ReadVerOnly=1\n");
      EXPECT_EQ(board.Run(), 0u);
      EXPECT_NE(p.out.find("    Please flip the USB-C cable and retry "
                           "again.\nSearch_Fail\nReturn_Value = 0x0\n"),
                std::string::npos)
          << p.out;
    }
  }
}

TEST(DeviceDiscovery, FailedTransfersDuringTheSearch) {
  Program p;
  SimBoard board(p);
  board.Init();
  board.LoadFirmware(Firmware(0x0E010300));
  p.Settings(std::string(kBoardIds) + "DbgMsg=1\nUSBSetAddress=5\n");
  ASSERT_EQ(board.Run({"/F0"}), 0x0E010300u);
  const Log clean = board.log;
  ExpectPaced(clean);
  const size_t identity = Find(clean, [](const auto& r) { return IsRegRead(r, 0x0018); });
  const size_t version = Find(clean, [](const auto& r) { return r.setup.bRequest == 0xE2; });
  const size_t address = Find(clean, [](const auto& r) { return IsRegRead(r, 0x0021); });
  ASSERT_LT(address, clean.size());
  ExpectSetup(clean[identity], 0xC0, 0xE0, 0x1801, 0x0000, 1);
  ExpectSetup(clean[version], 0xC0, 0xE2, 0x0001, 0x0000, 4);
  EXPECT_EQ(clean[version].data, (std::vector<uint8_t>{0x0E, 0x01, 0x03, 0x00}));
  ExpectSetup(clean[address], 0xC0, 0xE0, 0x2101, 0x0000, 1);

  struct Case {
    size_t fail;
    uint32_t result;
    std::string lines;
  };
  const Case cases[] = {
      // A failed identity read counts as the oldest chip.
      {identity, 0x0E010300, "Read-Reg 0x0018 Fail\n    PJID = 0x01000000, KM100\n"},
      {version, 0, "Get_PD_FW_Version_FAIL.\n    Get_USB_Set_Address = 0x05\n"},
      // No address read: the address filter cannot pass.
      {address, 0,
       "Read-Reg 0x0021 Fail\n    Get_USB_Set_Address_Fail\n    Not_Target_USB_Address \nLoop = "
       "1\n    DeviceNotFound\n"},
  };
  // Bit 7 alone is no address.
  board.Init({"UsbAddress=80"});
  board.LoadFirmware(Firmware(0x0E010300));
  EXPECT_EQ(board.Run({"/F0"}), 0u);
  EXPECT_NE(p.out.find("    Get_USB_Set_Address_Fail\n    Not_Target_USB_Address \n"),
            std::string::npos)
      << p.out;
  for (const Case& c : cases) {
    SCOPED_TRACE(FailAt(c.fail));
    board.Init({FailAt(c.fail)});
    board.LoadFirmware(Firmware(0x0E010300));
    EXPECT_EQ(board.Run({"/F0"}), c.result);
    EXPECT_NE(p.out.find(c.lines), std::string::npos) << p.out;
    EXPECT_FALSE(board.log[c.fail].ok);
  }
}

}  // namespace
}  // namespace pdflash::test
