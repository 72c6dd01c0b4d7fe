// The SPI flash layer: status writes, size detection, verified writes, waits.
#include "scenario/scenario_support.h"

namespace pdflash::test {
namespace {

using Wire = std::vector<std::pair<int, int>>;

Wire operator+(Wire a, const Wire& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Log FlashRequests(const Log& log) {
  return Requests(log, {0xC2, 0xC4, 0xD1, 0xD2, 0xD4, 0xD8, 0xDC});
}

uint64_t Gap(const Log& log, size_t i) {
  return log[i + 1].time_us - log[i].time_us;
}

// Every `request` is followed by its fixed pause (and the next one's 1 ms).
void ExpectPauseAfter(const Log& log, uint8_t request, uint64_t us) {
  for (size_t i = 0; i + 1 < log.size(); ++i)
    EXPECT_TRUE(log[i].setup.bRequest != request || Gap(log, i) == us) << "transfer " << i;
}

const std::string kWriteFail =
    "\n=======================\n=    WrRdCmp_FAIL.    =\n=======================\n\n";

TEST(DeviceFlash, StatusWriteVariantsOnTheWire) {
  const Wire we = {{0xD4, 0x06}}, vol = {{0xD4, 0x50}}, plain = {{0xD8, 0x0001}, {0xC2, 0x05}};
  const Wire w25x = {{0xD4, 0xAA}, {0xD4, 0x55}},
             sst = Wire{{0xD8, 0x0050}} + plain + Wire{{0xC2, 0x35}};
  const auto repair = [&](int to) { return we + Wire{{0xD8, to << 8 | 0x31}, {0xC2, 0x35}}; };
  const std::string type14 = "SPIFlashType=E\n";
  const struct {
    const char* key;
    std::string settings;
    Wire wire;
    uint32_t status1, status2;  // what a power cycle brings back afterwards
    std::string lines;
  } cases[] = {
      {"FlashStatus=1C", "", we + plain, 0, 0, "    SPI_Status_0 = 0x00\nReturn_Value = 0x1\n"},
      {"FlashStatus=1C", "SPIFlashType=A\n", w25x + we + plain, 0, 0,
       "    W25X_Additional_WriteEN_0xAA_0x55\n    SPI_Status_0 = 0x00\n"},
      {"FlashStatus=1C", "VolatileSRWrEn=1\n", vol + plain, 0x1C, 0, ""},
      {"FlashStatus2=42", type14, we + sst + repair(0), 0, 0,
       "    SST_Special_SPI_WriteEN_0x50\n    SPI_Status_0 = 0x00\n    StatusReg2 = 0x42\n"
       "    Write_StatusReg2_To_0x00\n    StatusReg2 = 0x00\nReturn_Value = 0x1\n"},
      // CMP and QE are cleared; of the lock bits only 0x18 is written back
      // (the part keeps its one-time bit 0x20 anyway).
      {"FlashStatus2=7A", type14, we + sst + repair(0x18), 0, 0x38,
       "    StatusReg2 = 0x7A\n    Write_StatusReg2_To_0x18\n    StatusReg2 = 0x38\n"},
      {"FlashStatus2=18", type14, we + sst, 0, 0x18, "    StatusReg2 = 0x18\nReturn_Value = 0x1\n"},
      {"FlashStatus=1C", type14 + "VolatileSRWrEn=1\n", vol + sst, 0x1C, 0, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.settings + c.key);
    Bench b({c.key}, "FuncTestOnly=90\n" + c.settings);
    EXPECT_EQ(b.Run(), 1u);
    EXPECT_TRUE(b.Has("Function_Test_0x90\n    Do_SPI_Write_Status_0x00\n"));
    EXPECT_TRUE(b.Has(c.lines));
    const Log wire = FlashRequests(b.board.log);
    EXPECT_EQ(Codes(wire), c.wire);
    for (const auto& r : wire) {
      const bool in = r.setup.bRequest == 0xC2;
      ExpectSetup(r, in ? 0xC0 : 0x40, r.setup.bRequest, r.setup.wValue, 0, in ? 1 : 0);
    }
    EXPECT_EQ(b.board.Config().FlashStatus, c.status1);
    EXPECT_EQ(b.board.Config().FlashStatus2, c.status2);
  }
  // A status write that does not get through still has its 100 ms; the
  // part reads back protected with its latch set, and a second try writes it.
  Bench b({"FlashStatus=1C"}, "FuncTestOnly=90\n");
  ASSERT_EQ(b.Run(), 1u);
  const size_t write = First(b.board.log, 0xD8);
  b.board.Init({"FlashStatus=1C", FailAt(write)});
  EXPECT_EQ(b.Run(), 1u);
  EXPECT_TRUE(b.Has("Write_Status_FAIL\n    SPI_Status_0 = 0x1E\n    SPI_Status_1 = 0x00\n"));
  ASSERT_LT(write + 1, b.board.log.size());
  EXPECT_EQ(Gap(b.board.log, write), 101000u);
  EXPECT_EQ(b.board.Config().FlashStatus, 0u);
}

TEST(DeviceFlash, SizeDetectionFindsTheFirstMirror) {
  // A blank part gets a marker, which complement protection (status register
  // 2 bit 6) keeps out unless the part is repaired first.
  const std::vector<uint8_t> head = {0x02, 0x11, 0x22, 0x33};
  const struct {
    const char* key;
    bool load;
    const char* size;  // FlashSize line; null: none
    std::string settings, lines;
  } cases[] = {{"FlashSize=10000", true, "64 KByte", "",
                "    SPI[0x010000] = 02,11,22,33, (64 KByte, 512 Kbit)\n"},
               {"FlashSize=100000", true, "1 MByte", "",
                "    SPI[0x080000] = FF,FF,FF,FF, (512 KByte, 4 Mbit)\n"
                "    SPI[0x100000] = 02,11,22,33, (1 MByte, 8 Mbit)\n"},
               {"FlashSize=800000", true, "8 MByte", "", ""},
               {"FlashSize=1000000", true, nullptr, "",
                "    SPI[0x800000] = FF,FF,FF,FF, (8 MByte, 64 Mbit)\n"},
               {"FlashSize=80000", false, "512 KByte", "",
                "    Write_TEST_For_Check_Size.\n\r                    \r\r                    \r"
                "    SPI[0x000000] = 54,45,53,54, (0 KByte)\n"},
               {"FlashStatus2=40", false, nullptr, "",
                "  Compare_Error_at_SPI_000000, Tx_54 != Rx_FF\nWrRdCmp_Cmp_Error\n" + kWriteFail +
                    "    SPI[0x000000] = FF,FF,FF,FF, (0 KByte)\n"},
               {"FlashStatus2=40", false, "512 KByte", "SPIFlashType=E\n",
                "    StatusReg2 = 0x40\n    Write_StatusReg2_To_0x00\n    StatusReg2 = 0x00\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines);
    Bench b({c.key}, "FuncTestOnly=91\n" + c.settings);
    if (c.load) b.board.Load(0, head);
    EXPECT_EQ(b.Run(), 0u);  // detection only reports
    EXPECT_TRUE(b.Has(c.lines));
    const std::string size = c.size ? "    FlashSize_" + std::string(c.size) + "\nReturn" : "";
    EXPECT_TRUE(c.size ? b.Has(size) : !b.Has("FlashSize_"));
    // The probes: four bytes at 0x10000 << k.
    const Log reads = Requests(b.board.log, {0xC4});
    ASSERT_GE(reads.size(), 9u);
    for (size_t k = 0; k < 8; ++k)
      ExpectSetup(reads[reads.size() - 8 + k], 0xC0, 0xC4, 0x0003,
                  static_cast<uint16_t>(0x100 << k), 4);
    const auto flash = b.board.Flash();
    std::vector<uint8_t> start = c.load ? head : std::vector<uint8_t>(4, 0xFF);
    if (!c.load && c.size) start = {'T', 'E', 'S', 'T'};
    EXPECT_EQ(std::vector<uint8_t>(flash.begin(), flash.begin() + 4), start);
  }
}

// An image of `size` bytes without 0xFF, downloaded to the start of the flash.
struct Download : Bench {
  Download(uint32_t size, const std::vector<std::string>& keys, const std::string& settings = "")
      : Bench(keys, "PD1Bin=image.bin\nDownloadImageOnly=1\n" + settings), image(size) {
    for (uint32_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(i % 251);
    WriteBytes(p.File("image.bin"), image);
  }
  // The flash holds the first `n` bytes of the image and is blank to its end.
  bool Holds(size_t n) const {
    const auto flash = board.Flash();
    const auto at = flash.begin() + static_cast<long>(n);
    return std::equal(image.begin(), image.begin() + static_cast<long>(n), flash.begin()) &&
           std::all_of(at, flash.begin() + static_cast<long>(image.size()),
                       [](uint8_t v) { return v == 0xFF; });
  }
  std::vector<uint8_t> image;
};

TEST(DeviceFlash, VerifiedWriteChunksAndWaits) {
  Download d(100, {}, "DbgMsg=1\n");
  EXPECT_EQ(d.Run(), 1u) << d.p.out;
  EXPECT_TRUE(d.Holds(100));
  // 64 bytes, then the 36 left; each chunk: write enable, program, two clean
  // status reads 5 ms apart; then the read-back in the same chunks.
  const Log log = FlashRequests(d.board.log);
  const size_t first = First(log, 0xDC) - 1;
  ASSERT_LT(first + 9, log.size());
  const Wire chunks = {{0xD4, 6},      {0xDC, 0x0002}, {0xC2, 5}, {0xC2, 5},      {0xD4, 6},
                       {0xDC, 0x4002}, {0xC2, 5},      {0xC2, 5}, {0xC4, 0x0003}, {0xC4, 0x4003}};
  EXPECT_EQ(Codes(log, first), chunks);
  ExpectSetup(log[first + 1], 0x40, 0xDC, 0x0002, 0x0000, 64);
  EXPECT_EQ(log[first + 2].data, std::vector<uint8_t>{0x00});
  EXPECT_EQ(Gap(log, first + 2), 6000u);
  EXPECT_EQ(log[first + 5].data, std::vector<uint8_t>(d.image.begin() + 64, d.image.end()));
  ExpectSetup(log[first + 9], 0xC0, 0xC4, 0x4003, 0x0000, 36);
  // The chip erase of this small part ends within its fixed pause: no count.
  EXPECT_FALSE(d.Has("Wait_Cnt"));
  // One data line for a write under 4 KiB, and no progress.
  EXPECT_TRUE(d.Has("    TxDataBuf[0x000000]: 00,01,02,03\n"));
  EXPECT_FALSE(d.Has("Writing..."));
  EXPECT_TRUE(
      d.Has("\r                    \r\r                    \r    =    WrRdCmp_PASS.    =\n"));
}

TEST(DeviceFlash, VerifiedWriteProgressAndCompareLines) {
  Download d(0x2000, {});
  EXPECT_EQ(d.Run(), 1u) << d.p.out;
  EXPECT_TRUE(d.Holds(0x2000));
  EXPECT_TRUE(
      d.Has("\r    Writing...50%\r    Writing...100%\r                    \r"
            "\r    Checking...50%\r    Checking...100%\r                    \r"));
  // A 50 KiB write ends between two 4 KiB marks: no 100 line.
  Download odd(0xC800, {});
  EXPECT_EQ(odd.Run(), 1u);
  EXPECT_TRUE(odd.Has("\r    Writing...88%\r    Writing...96%\r                    \r"));
  EXPECT_EQ(Count(odd.p.out, "\r    Writing..."), 12u);
  // A protected part takes nothing: one compare line for the first
  // difference and one for each further 4 KiB boundary.
  Download locked(0x2000, {"FlashStatus2=40"});
  EXPECT_EQ(locked.Run(), 0u);
  EXPECT_TRUE(
      locked.Has("\r                    \r  Compare_Error_at_SPI_000000, Tx_00 != Rx_FF\n"
                 "  Compare_Error_at_SPI_001000, Tx_50 != Rx_FF\nWrRdCmp_Cmp_Error\n" +
                 kWriteFail + "Download_Image_Fail\n"));
  EXPECT_EQ(Count(locked.p.out, "Compare_Error_at_SPI_"), 2u);
  EXPECT_TRUE(locked.Holds(0));
}

TEST(DeviceFlash, WaitForReadyCountsItsPolls) {
  // A 16 MiB chip erase outlasts the 8 s pause; every read but the last waits.
  Download big(100, {"FlashSize=1000000"});
  EXPECT_EQ(big.Run(), 1u) << big.p.out;
  const Log& log = big.board.log;
  const size_t erase = First(log, 0xD1), check = First(log, 0xC4, erase);
  ASSERT_LT(check, log.size());
  for (size_t i = erase + 1; i < check; ++i) ASSERT_EQ(log[i].setup.bRequest, 0xC2);
  ASSERT_GE(check - erase, 5u);
  char line[64];
  std::snprintf(line, sizeof line, "  Wait_Cnt = %zu, Sts = 0\n", check - erase - 2);
  EXPECT_TRUE(big.Has(line));
  // The empty second port never gets ready: three status writes (the last
  // read worked: a success), and a marker write whose wait gives up.
  Bench b;
  b.Settings("FuncTestOnly=81\n");
  EXPECT_EQ(b.Run(), 1u);
  EXPECT_TRUE(b.Has("    ZIRUR_2nd_SPI_Test, Function: 0x81\n    Select_2nd_SPI\n"));
  EXPECT_EQ(b.board.Register(0x2BFD), 1u);
  b.Settings("FuncTestOnly=90\n");
  EXPECT_EQ(b.Run(), 1u);
  EXPECT_TRUE(b.Has("    SPI_Status_1 = 0xFF\n    SPI_Status_2 = 0xFF\nReturn_Value = 0x1\n"));
  EXPECT_EQ(Requests(b.board.log, {0xD8}).size(), 3u);
  b.Settings("FuncTestOnly=91\n");
  EXPECT_EQ(b.Run(), 0u);
  EXPECT_TRUE(b.Has("  Wait_Cnt = 200, Sts = FF\nWrRdCmp_Wt_Error\n" + kWriteFail));
}

TEST(DeviceFlash, FailuresInTheMiddleOfAWrite) {
  Download clean(0x2000, {});
  ASSERT_EQ(clean.Run(), 1u);
  std::vector<size_t> programs;
  for (size_t i = 0; i < clean.board.log.size(); ++i)
    if (clean.board.log[i].setup.bRequest == 0xDC) programs.push_back(i);
  ASSERT_GE(programs.size(), 10u);
  const size_t readback = First(clean.board.log, 0xC4, programs.back());
  const struct {
    std::string key, lines;
    size_t written;  // bytes of the image in the flash afterwards
  } cases[] = {
      {FailAt(programs[0] - 1), "Write_Enable_FAIL\n" + kWriteFail + "Download_Image_Fail\n", 0},
      // The enable latch is still set when the program fails: the wait runs
      // anyway and never sees a ready part.
      {FailAt(programs[0]),
       "Write_Data_FAIL\n  Wait_Cnt = 200, Sts = 2\nWrRdCmp_Wr_Error\n" + kWriteFail, 0},
      {FailAt(readback), "Read_Data_FAIL\nWrRdCmp_Rd_Error\n" + kWriteFail, 0x2000},
      {FailAt(programs[9], "UnplugAtTransfer"),
       "Write_Data_FAIL\nRead_Status_FAIL\n  Wait_Cmd_Fail\nWrRdCmp_Wr_Error\n" + kWriteFail +
           "Download_Image_Fail\n",
       9 * 64}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    Download d(0x2000, {c.key});
    EXPECT_EQ(d.Run(), 0u);
    EXPECT_TRUE(d.Has(c.lines));
    EXPECT_TRUE(d.Holds(c.written));
    EXPECT_EQ(d.board.Config().mode, sim::Mode::Rom);
    ExpectPauseAfter(d.board.log, 0xDC, 6000);  // also after a program that failed
  }
}

TEST(DeviceFlash, UpdateRequestsOnTheWire) {
  // Sector erase and its slow wait, fixed pauses, and the pacing of all requests.
  Bench b({}, "PD1Bin=new.bin\n", 0x0E010300);
  WriteBytes(b.p.File("new.bin"), Firmware(0xC800, 0x0E010400));
  ASSERT_EQ(b.Run(), 1u) << b.p.out;
  const Log& log = b.board.log;
  for (size_t i = 1; i < log.size(); ++i) ASSERT_GE(Gap(log, i - 1), 1000u) << i;  // never back to back
  const size_t erase = First(log, 0xD2);
  ASSERT_LT(erase + 4, log.size());
  ExpectSetup(log[erase], 0x40, 0xD2, 0x0020, 0x0300, 0);
  // 40 ms of erase: busy at the first read, then 500 ms later two clean reads.
  EXPECT_EQ(log[erase + 1].data, std::vector<uint8_t>{0x03});
  EXPECT_EQ(Gap(log, erase + 1), 501000u);
  EXPECT_EQ(log[erase + 2].data, std::vector<uint8_t>{0x00});
  ExpectSetup(log[erase + 4], 0xC0, 0xC4, 0x0003, 0x0300, 32);
  ExpectPauseAfter(log, 0xDC, 6000);
  ExpectPauseAfter(log, 0xD8, 101000);
}

}  // namespace
}  // namespace pdflash::test
