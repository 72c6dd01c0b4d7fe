// The SPI flash layer as the whole program drives it: status-register writes
// of the flash function test, flash-size detection, the verified write loop
// of an image download, waits on a busy part, fixed delays on the clock and
// failures in the middle of a write.
#include <gtest/gtest.h>

#include <filesystem>

#include "scenario/device_scenario.h"

namespace pdflash::test {
namespace {

using Wire = std::vector<std::pair<int, int>>;

Log FlashRequests(const Log& log) {
  return Requests(log, {0xC2, 0xC4, 0xD1, 0xD2, 0xD4, 0xD8, 0xDC});
}

const std::string kWriteFail =
    "\n=======================\n=    WrRdCmp_FAIL.    =\n=======================\n\n";

TEST(DeviceFlash, StatusWriteVariantsOnTheWire) {
  struct Case {
    const char* what;
    std::vector<std::string> board;
    std::string settings;
    Wire wire;
    std::string lines;
    uint32_t status1, status2;  // what a power cycle brings back afterwards
  };
  const Wire plain = {{0xD4, 0x06}, {0xD8, 0x0001}, {0xC2, 0x05}};
  const Case cases[] = {
      {"row 0",
       {"FlashStatus=1C"},
       "",
       plain,
       "    Do_SPI_Write_Status_0x00\n    SPI_Status_0 = 0x00\nReturn_Value = 0x1\n",
       0,
       0},
      {"W25X",
       {"FlashStatus=1C"},
       "SPIFlashType=A\n",
       {{0xD4, 0xAA}, {0xD4, 0x55}, {0xD4, 0x06}, {0xD8, 0x0001}, {0xC2, 0x05}},
       "    W25X_Additional_WriteEN_0xAA_0x55\n    SPI_Status_0 = 0x00\n",
       0,
       0},
      {"volatile enable",
       {"FlashStatus=1C"},
       "VolatileSRWrEn=1\n",
       {{0xD4, 0x50}, {0xD8, 0x0001}, {0xC2, 0x05}},
       "",
       0x1C,
       0},
      {"SST with register 2 holding 42",
       {"FlashStatus=1C", "FlashStatus2=42"},
       "SPIFlashType=E\n",
       {{0xD4, 0x06},
        {0xD8, 0x0050},
        {0xD8, 0x0001},
        {0xC2, 0x05},
        {0xC2, 0x35},
        {0xD4, 0x06},
        {0xD8, 0x0031},
        {0xC2, 0x35}},
       "    SST_Special_SPI_WriteEN_0x50\n    SPI_Status_0 = 0x00\n    StatusReg2 = 0x42\n"
       "    Write_StatusReg2_To_0x00\n    StatusReg2 = 0x00\nReturn_Value = 0x1\n",
       0,
       0},
      // CMP and QE are cleared; of the lock bits only 0x18 is written back
      // (the part keeps its one-time bit 0x20 anyway).
      {"SST with register 2 holding 7A",
       {"FlashStatus2=7A"},
       "SPIFlashType=E\n",
       {{0xD4, 0x06},
        {0xD8, 0x0050},
        {0xD8, 0x0001},
        {0xC2, 0x05},
        {0xC2, 0x35},
        {0xD4, 0x06},
        {0xD8, 0x1831},
        {0xC2, 0x35}},
       "    StatusReg2 = 0x7A\n    Write_StatusReg2_To_0x18\n    StatusReg2 = 0x38\n",
       0,
       0x38},
      {"SST with clean register 2",
       {"FlashStatus2=18"},
       "SPIFlashType=E\n",
       {{0xD4, 0x06}, {0xD8, 0x0050}, {0xD8, 0x0001}, {0xC2, 0x05}, {0xC2, 0x35}},
       "    StatusReg2 = 0x18\nReturn_Value = 0x1\n",
       0,
       0x18},
      {"SST with the volatile enable",
       {"FlashStatus=1C"},
       "SPIFlashType=E\nVolatileSRWrEn=1\n",
       {{0xD4, 0x50}, {0xD8, 0x0050}, {0xD8, 0x0001}, {0xC2, 0x05}, {0xC2, 0x35}},
       "",
       0x1C,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Program p;
    SimBoard board(p);
    board.Init(c.board);
    p.Settings(std::string(kBoardIds) + "FuncTestOnly=90\n" + c.settings);
    EXPECT_EQ(board.Run(), 1u);
    EXPECT_NE(
        p.out.find("Device_Function_Test_0x90\nFunction_Test_0x90\n    Do_SPI_Write_Status_0x00\n"),
        std::string::npos)
        << p.out;
    EXPECT_NE(p.out.find(c.lines), std::string::npos) << p.out;
    const Log wire = FlashRequests(board.log);
    EXPECT_EQ(Codes(wire), c.wire);
    for (const auto& r : wire) {
      const bool in = r.setup.bRequest == 0xC2;
      ExpectSetup(r, in ? 0xC0 : 0x40, r.setup.bRequest, r.setup.wValue, 0, in ? 1 : 0);
    }
    // Cleared for the next run of the powered board; a write after the
    // volatile enable is gone after a power cycle.
    board.Inspect([](sim::SimBus& bus) { EXPECT_EQ(bus.Device(0).Flash().LiveStatus1(), 0u); });
    EXPECT_EQ(board.Config().FlashStatus, c.status1);
    EXPECT_EQ(board.Config().FlashStatus2, c.status2);
    std::filesystem::remove(board.dir() + "/" + sim::kStateFile);
    board.Inspect(
        [&](sim::SimBus& bus) { EXPECT_EQ(bus.Device(0).Flash().LiveStatus1(), c.status1); });
    // A status write is given 100 ms whatever happens; the next request then
    // waits its own millisecond.
    for (size_t i = 0; i + 1 < board.log.size(); ++i)
      if (board.log[i].setup.bRequest == 0xD8) {
        EXPECT_EQ(board.log[i + 1].time_us - board.log[i].time_us, 101000u);
      }
    ExpectPaced(board.log);
    // No switch to ROM code for a function test.
    EXPECT_EQ(board.Config().mode, sim::Mode::App);
  }

  // A status write that does not get through still costs its 100 ms; the
  // part reads back protected with its latch set, and the next attempt
  // writes it.
  Program p;
  SimBoard board(p);
  board.Init({"FlashStatus=1C"});
  p.Settings(std::string(kBoardIds) + "FuncTestOnly=90\n");
  ASSERT_EQ(board.Run(), 1u);
  const size_t write = Find(board.log, [](const auto& r) { return r.setup.bRequest == 0xD8; });
  board.Init({"FlashStatus=1C", FailAt(write)});
  EXPECT_EQ(board.Run(), 1u);
  EXPECT_NE(p.out.find("Write_Status_FAIL\n    SPI_Status_0 = 0x1E\n    SPI_Status_1 = "
                       "0x00\nReturn_Value = 0x1\n"),
            std::string::npos)
      << p.out;
  ASSERT_LT(write + 1, board.log.size());
  EXPECT_FALSE(board.log[write].ok);
  EXPECT_EQ(board.log[write + 1].time_us - board.log[write].time_us, 101000u);
  EXPECT_EQ(board.Config().FlashStatus, 0u);
}

TEST(DeviceFlash, SizeDetectionFindsTheFirstMirror) {
  const std::vector<uint8_t> head = {0x02, 0x11, 0x22, 0x33};
  struct Case {
    const char* what;
    std::vector<std::string> board;
    std::string settings;
    bool load;
    std::string lines;
    const char* size;  // FlashSize line; null: none
  };
  const Case cases[] = {
      {"64 KiB",
       {"FlashSize=10000"},
       "",
       true,
       "    SPI[0x010000] = 02,11,22,33, (64 KByte, 512 Kbit)\n",
       "    FlashSize_64 KByte\n"},
      {"256 KiB",
       {"FlashSize=40000"},
       "",
       true,
       "    SPI[0x020000] = FF,FF,FF,FF, (128 KByte, 1 Mbit)\n",
       "    FlashSize_256 KByte\n"},
      {"1 MiB",
       {"FlashSize=100000"},
       "",
       true,
       "    SPI[0x000000] = 02,11,22,33, (0 KByte)\n"
       "    SPI[0x010000] = FF,FF,FF,FF, (64 KByte, 512 Kbit)\n"
       "    SPI[0x020000] = FF,FF,FF,FF, (128 KByte, 1 Mbit)\n"
       "    SPI[0x040000] = FF,FF,FF,FF, (256 KByte, 2 Mbit)\n"
       "    SPI[0x080000] = FF,FF,FF,FF, (512 KByte, 4 Mbit)\n"
       "    SPI[0x100000] = 02,11,22,33, (1 MByte, 8 Mbit)\n"
       "    SPI[0x200000] = 02,11,22,33, (2 MByte, 16 Mbit)\n"
       "    SPI[0x400000] = 02,11,22,33, (4 MByte, 32 Mbit)\n"
       "    SPI[0x800000] = 02,11,22,33, (8 MByte, 64 Mbit)\n",
       "    FlashSize_1 MByte\n"},
      {"8 MiB", {"FlashSize=800000"}, "", true, "", "    FlashSize_8 MByte\n"},
      {"16 MiB: no mirror in reach",
       {"FlashSize=1000000"},
       "",
       true,
       "    SPI[0x800000] = FF,FF,FF,FF, (8 MByte, 64 Mbit)\n",
       nullptr},
      {"blank part gets a marker",
       {},
       "",
       false,
       "    Write_TEST_For_Check_Size.\n\r                    \r\r                    \r"
       "    SPI[0x000000] = 54,45,53,54, (0 KByte)\n",
       "    FlashSize_512 KByte\n"},
      // Complement protection covers the whole array: the marker cannot be
      // written and nothing can be told ...
      {"protected blank part",
       {"FlashStatus2=40"},
       "",
       false,
       "  Compare_Error_at_SPI_000000, Tx_54 != Rx_FF\nWrRdCmp_Cmp_Error\n" + kWriteFail +
           "    SPI[0x000000] = FF,FF,FF,FF, (0 KByte)\n",
       nullptr},
      // ... unless the part's status register 2 is repaired first.
      {"protected blank part, repaired",
       {"FlashStatus2=40"},
       "SPIFlashType=E\n",
       false,
       "    StatusReg2 = 0x40\n    Write_StatusReg2_To_0x00\n    StatusReg2 = 0x00\n",
       "    FlashSize_512 KByte\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Program p;
    SimBoard board(p);
    board.Init(c.board);
    if (c.load) board.Load(0, head);
    p.Settings(std::string(kBoardIds) + "FuncTestOnly=91\n" + c.settings);
    // Detection only reports.
    EXPECT_EQ(board.Run(), 0u);
    EXPECT_NE(p.out.find(c.lines), std::string::npos) << p.out;
    if (c.size)
      EXPECT_NE(p.out.find(std::string(c.size) + "Return_Value = 0x0\n"), std::string::npos)
          << p.out;
    else
      EXPECT_EQ(p.out.find("FlashSize_"), std::string::npos) << p.out;
    // The probes: four bytes at 0x10000 << k.
    const Log reads = Requests(board.log, {0xC4});
    ASSERT_GE(reads.size(), 9u);
    for (size_t k = 0; k < 8; ++k)
      ExpectSetup(reads[reads.size() - 8 + k], 0xC0, 0xC4, 0x0003,
                  static_cast<uint16_t>(0x100 << k), 4);
    const auto flash = board.Flash();
    std::vector<uint8_t> start = c.load ? head : std::vector<uint8_t>(4, 0xFF);
    if (!c.load && c.size) start = {'T', 'E', 'S', 'T'};
    EXPECT_EQ(std::vector<uint8_t>(flash.begin(), flash.begin() + 4), start);
  }
}

// An image of `size` bytes with no 0xFF in it.
std::vector<uint8_t> Image(uint32_t size) {
  std::vector<uint8_t> image(size);
  for (uint32_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(i % 251);
  return image;
}

struct DownloadRun {
  DownloadRun(uint32_t size, std::vector<std::string> keys, const std::string& settings = "")
      : board(p), image(Image(size)) {
    board.Init(keys);
    WriteBytes(p.File("image.bin"), image);
    p.Settings(std::string(kBoardIds) + "PD1Bin=image.bin\nDownloadImageOnly=1\n" + settings);
  }
  bool Written() const {
    const auto flash = board.Flash();
    return std::equal(image.begin(), image.end(), flash.begin());
  }
  Program p;
  SimBoard board;
  std::vector<uint8_t> image;
};

TEST(DeviceFlash, VerifiedWriteChunksAndWaits) {
  DownloadRun run(100, {}, "DbgMsg=1\n");
  EXPECT_EQ(run.board.Run(), 1u) << run.p.out;
  EXPECT_TRUE(run.Written());
  const Log& log = run.board.log;
  ExpectPaced(log);

  // 64 bytes, then the 36 left; each chunk: write enable, program, two clean
  // status reads 5 ms apart.
  const size_t first = Find(log, [](const auto& r) { return r.setup.bRequest == 0xDC; });
  ASSERT_LT(first + 8, log.size());
  ExpectSetup(log[first - 1], 0x40, 0xD4, 0x0006, 0, 0);
  ExpectSetup(log[first], 0x40, 0xDC, 0x0002, 0x0000, 64);
  ExpectSetup(log[first + 1], 0xC0, 0xC2, 0x0005, 0, 1);
  EXPECT_EQ(log[first + 1].data, std::vector<uint8_t>{0x00});
  ExpectSetup(log[first + 2], 0xC0, 0xC2, 0x0005, 0, 1);
  ExpectSetup(log[first + 3], 0x40, 0xD4, 0x0006, 0, 0);
  ExpectSetup(log[first + 4], 0x40, 0xDC, 0x4002, 0x0000, 36);
  EXPECT_EQ(log[first + 4].data, std::vector<uint8_t>(run.image.begin() + 64, run.image.end()));
  // The program is given 5 ms, the status poll waits 5 ms between reads.
  EXPECT_EQ(log[first + 1].time_us - log[first].time_us, 6000u);
  EXPECT_EQ(log[first + 2].time_us - log[first + 1].time_us, 6000u);
  // Read-back in the same chunks, then nothing more.
  ExpectSetup(log[first + 7], 0xC0, 0xC4, 0x0003, 0x0000, 64);
  ExpectSetup(log[first + 8], 0xC0, 0xC4, 0x4003, 0x0000, 36);
  EXPECT_EQ(FlashRequests(log).back().time_us, log[first + 8].time_us);
  // Before it: status 0, chip erase with its fixed pause, blank check.
  const Wire before =
      Codes(FlashRequests(Log(log.begin(), log.begin() + static_cast<long>(first) - 1)));
  const size_t erase = Find(log, [](const auto& r) { return r.setup.bRequest == 0xD1; });
  ExpectSetup(log[erase], 0x40, 0xD1, 0x00C7, 0, 0);
  EXPECT_GE(log[erase + 1].time_us - log[erase].time_us, 8000000u);
  ASSERT_FALSE(before.empty());
  EXPECT_EQ(before.front(), (std::pair<int, int>{0xD4, 0x06}));
  EXPECT_EQ(before.back(), (std::pair<int, int>{0xC4, 0x0003}));

  // One data line for a write under 4 KiB and no progress at all.
  EXPECT_EQ(Count(run.p.out, "    TxDataBuf[0x"), 1u);
  EXPECT_NE(run.p.out.find("    TxDataBuf[0x000000]: 00,01,02,03\n"), std::string::npos);
  EXPECT_EQ(run.p.out.find("Writing..."), std::string::npos);
  EXPECT_NE(run.p.out.find(
                "\r                    \r\r                    \r    =    WrRdCmp_PASS.    =\n"),
            std::string::npos);
}

TEST(DeviceFlash, VerifiedWriteProgressAndCompareLines) {
  DownloadRun run(0x2000, {});
  EXPECT_EQ(run.board.Run(), 1u) << run.p.out;
  EXPECT_TRUE(run.Written());
  EXPECT_NE(run.p.out.find("\r    Writing...50%\r    Writing...100%\r                    \r"
                           "\r    Checking...50%\r    Checking...100%\r                    \r"),
            std::string::npos)
      << run.p.out;

  // A 50 KiB write ends between two 4 KiB marks: no 100 line.
  DownloadRun odd(0xC800, {});
  EXPECT_EQ(odd.board.Run(), 1u);
  EXPECT_NE(odd.p.out.find("\r    Writing...88%\r    Writing...96%\r                    \r"),
            std::string::npos);
  EXPECT_EQ(Count(odd.p.out, "\r    Writing..."), 12u);

  // A protected part takes nothing: one compare line for the first
  // difference and one for each further 4 KiB boundary.
  DownloadRun locked(0x2000, {"FlashStatus2=40"});
  EXPECT_EQ(locked.board.Run(), 0u);
  EXPECT_NE(locked.p.out.find("\r                    \r"
                              "  Compare_Error_at_SPI_000000, Tx_00 != Rx_FF\n"
                              "  Compare_Error_at_SPI_001000, Tx_50 != Rx_FF\n"
                              "WrRdCmp_Cmp_Error\n" +
                              kWriteFail + "Download_Image_Fail\n"),
            std::string::npos)
      << locked.p.out;
  EXPECT_EQ(Count(locked.p.out, "Compare_Error_at_SPI_"), 2u);
  const auto flash = locked.board.Flash();
  EXPECT_TRUE(
      std::all_of(flash.begin(), flash.begin() + 0x2000, [](uint8_t b) { return b == 0xFF; }));
}

TEST(DeviceFlash, WaitForReadyCountsItsPolls) {
  // A 16 MiB chip erase outlasts the fixed 8 s pause: slow polls, then the count.
  DownloadRun big(100, {"FlashSize=1000000"});
  EXPECT_EQ(big.board.Run(), 1u) << big.p.out;
  const Log& log = big.board.log;
  const size_t erase = Find(log, [](const auto& r) { return r.setup.bRequest == 0xD1; });
  const size_t check = Find(
      log, [](const auto& r) { return r.setup.bRequest == 0xC4; }, erase);
  ASSERT_LT(check, log.size());
  const size_t reads = check - erase - 1;
  for (size_t i = erase + 1; i < check; ++i) {
    ASSERT_EQ(log[i].setup.bRequest, 0xC2);
    if (i + 1 < check) {
      EXPECT_EQ(log[i + 1].time_us - log[i].time_us, 501000u);
    }
  }
  EXPECT_GE(reads, 4u);
  // Every read but the last is followed by a wait: that is the count.
  char line[64];
  std::snprintf(line, sizeof line, "  Wait_Cnt = %zu, Sts = 0\n", reads - 1);
  EXPECT_NE(big.p.out.find(line), std::string::npos) << big.p.out;
  // The short erase of the default part does not print the count.
  DownloadRun small(100, {});
  EXPECT_EQ(small.board.Run(), 1u);
  EXPECT_EQ(small.p.out.find("Wait_Cnt"), std::string::npos) << small.p.out;
}

TEST(DeviceFlash, EmptySecondPortNeverGetsReady) {
  Program p;
  SimBoard board(p);
  board.Init();
  auto test = [&](const char* number) {
    p.Settings(std::string(kBoardIds) + "FuncTestOnly=" + number + "\n");
    return board.Run();
  };
  // The port without a part reads as a floating line.
  EXPECT_EQ(test("81"), 1u);
  EXPECT_NE(p.out.find("    ZIRUR_2nd_SPI_Test, Function: 0x81\n    Select_2nd_SPI\n"),
            std::string::npos);
  EXPECT_EQ(board.Register(0x2BFD), 1u);

  // Three status writes that never read back as written: the last read
  // worked, so the result is still a success.
  EXPECT_EQ(test("90"), 1u);
  EXPECT_NE(p.out.find("    SPI_Status_0 = 0xFF\n    SPI_Status_1 = 0xFF\n    SPI_Status_2 = "
                       "0xFF\nReturn_Value = 0x1\n"),
            std::string::npos)
      << p.out;
  EXPECT_EQ(Requests(board.log, {0xD8}).size(), 3u);

  // The marker write waits for a ready that never comes: 200 polls.
  EXPECT_EQ(test("91"), 0u);
  EXPECT_NE(p.out.find("  Wait_Cnt = 200, Sts = FF\nWrRdCmp_Wt_Error\n" + kWriteFail),
            std::string::npos)
      << p.out;
  const Log polls = Requests(board.log, {0xC2});
  ASSERT_EQ(polls.size(), 3u + 200u);
  EXPECT_EQ(polls.back().time_us - polls[3].time_us, 199u * 6000u);

  EXPECT_EQ(test("80"), 1u);
  EXPECT_EQ(board.Register(0x2BFD), 0u);
  EXPECT_EQ(test("91"), 0u);
  EXPECT_NE(p.out.find("    FlashSize_512 KByte\n"), std::string::npos) << p.out;
}

TEST(DeviceFlash, FailuresInTheMiddleOfAWrite) {
  DownloadRun clean(0x2000, {});
  ASSERT_EQ(clean.board.Run(), 1u);
  const Log log = clean.board.log;
  const size_t program = Find(log, [](const auto& r) { return r.setup.bRequest == 0xDC; });
  const size_t tenth = [&] {
    size_t at = program;
    for (int k = 0; k < 9; ++k)
      at = Find(
          log, [](const auto& r) { return r.setup.bRequest == 0xDC; }, at + 1);
    return at;
  }();
  size_t readback = 0;
  for (size_t i = 0; i < log.size(); ++i)
    if (log[i].setup.bRequest == 0xDC) readback = i;
  readback = Find(
      log, [](const auto& r) { return r.setup.bRequest == 0xC4; }, readback);

  struct Case {
    const char* what;
    std::string key;
    std::string lines;
    size_t written;  // bytes of the image in the flash afterwards
  };
  const Case cases[] = {
      {"write enable", FailAt(program - 1),
       "Write_Enable_FAIL\n" + kWriteFail + "Download_Image_Fail\n", 0},
      // The enable latch is still set when the program fails: the wait runs
      // anyway and never sees a ready part.
      {"program", FailAt(program),
       "Write_Data_FAIL\n  Wait_Cnt = 200, Sts = 2\nWrRdCmp_Wr_Error\n" + kWriteFail, 0},
      {"read-back", FailAt(readback),
       "Read_Data_FAIL\nWrRdCmp_Rd_Error\n" + kWriteFail + "Download_Image_Fail\n", 0x2000},
      {"unplugged", UnplugAt(tenth),
       "Write_Data_FAIL\nRead_Status_FAIL\n  Wait_Cmd_Fail\nWrRdCmp_Wr_Error\n" + kWriteFail +
           "Download_Image_Fail\n",
       9 * 64},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DownloadRun run(0x2000, {c.key});
    EXPECT_EQ(run.board.Run(), 0u);
    EXPECT_NE(run.p.out.find(c.lines), std::string::npos) << run.p.out;
    const auto flash = run.board.Flash();
    EXPECT_TRUE(std::equal(run.image.begin(), run.image.begin() + static_cast<long>(c.written),
                           flash.begin()));
    EXPECT_TRUE(std::all_of(flash.begin() + static_cast<long>(c.written), flash.begin() + 0x2000,
                            [](uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(run.board.Config().mode, sim::Mode::Rom);
    // A program request is given its 5 ms whether it got through or not.
    for (size_t i = 0; i + 1 < run.board.log.size(); ++i) {
      if (run.board.log[i].setup.bRequest == 0xDC) {
        EXPECT_EQ(run.board.log[i + 1].time_us - run.board.log[i].time_us, 6000u);
      }
    }
  }
}

TEST(DeviceFlash, UpdateRequestsOnTheWire) {
  // The firmware update uses every flash request but the chip erase; check
  // the sector erase's shape, the slow wait after it and the pacing of all.
  Program p;
  SimBoard board(p);
  board.Init();
  board.LoadFirmware(Firmware(0x0E010300));
  const auto image = Firmware(0x0E010400);
  WriteBytes(p.File("new.bin"), image);
  p.Settings(std::string(kBoardIds) + "PD1Bin=new.bin\n");
  ASSERT_EQ(board.Run(), 1u) << p.out;
  const Log& log = board.log;
  ExpectPaced(log);
  const size_t erase = Find(log, [](const auto& r) { return r.setup.bRequest == 0xD2; });
  ASSERT_LT(erase + 3, log.size());
  ExpectSetup(log[erase], 0x40, 0xD2, 0x0020, 0x0300, 0);
  // 40 ms of erase: busy at the first read, then 500 ms later two clean reads.
  EXPECT_EQ(log[erase + 1].data, std::vector<uint8_t>{0x03});
  EXPECT_EQ(log[erase + 2].time_us - log[erase + 1].time_us, 501000u);
  EXPECT_EQ(log[erase + 2].data, std::vector<uint8_t>{0x00});
  ExpectSetup(log[erase + 4], 0xC0, 0xC4, 0x0003, 0x0300, 32);
  for (size_t i = 0; i + 1 < log.size(); ++i) {
    const uint64_t gap = log[i + 1].time_us - log[i].time_us;
    if (log[i].setup.bRequest == 0xDC) {
      EXPECT_EQ(gap, 6000u);
    } else if (log[i].setup.bRequest == 0xD8) {
      EXPECT_EQ(gap, 101000u);
    }
  }
}

}  // namespace
}  // namespace pdflash::test
