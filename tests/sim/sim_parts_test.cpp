// The virtual device's part models: the challenge coefficients and the wire
// side of the challenge, and the SPI ports as the wire sees them.
#include <tuple>

#include "sim/challenge_unit.h"
#include "sim_support.h"

namespace pdflash::sim::test {
namespace {

TEST(SimChallenge, CoefficientTextNeedsFiveHexFieldsInOrder) {
  ChallengeCoefficients set;
  ASSERT_TRUE(ParseChallengeCoefficients(" 0xF0F0 ,35,0F0F, a7 ,5A3C", set));
  EXPECT_EQ(std::tie(set.Mask1, set.Mult1, set.Mask2, set.Mult2, set.Add),
            std::make_tuple(0xF0F0, 0x0035, 0x0F0F, 0x00A7, 0x5A3C));
  for (const char* bad : {"1,2,3,4", "1,2,3,4,5,6", "1,2,,4,5", "1,2,3,4,10000", "1,2,3,4,5z", ""})
    EXPECT_FALSE(ParseChallengeCoefficients(bad, set)) << bad;

  TempDir dir;
  pdflash::test::WriteFile(dir / "c.ini",
                           "[Other]\nClient3=1,1,1,1,1\n[Challenge]\nClient3=3,3,3,3,3\n"
                           "Default=7,7,7,7,7\nClient2=2,2\n");
  std::string error;
  ASSERT_TRUE(LoadChallengeCoefficients(dir / "c.ini", 3, set, error)) << error;
  EXPECT_EQ(set.Add, 3);
  ASSERT_TRUE(LoadChallengeCoefficients(dir / "c.ini", 9, set, error)) << error;
  EXPECT_EQ(set.Add, 7) << "clients without an entry of their own use Default";
  EXPECT_FALSE(LoadChallengeCoefficients(dir / "c.ini", 2, set, error));
  EXPECT_EQ(error, "challenge coefficients '" + dir / "c.ini" +
                       "' [Challenge] Client2 is not MASK1,MULT1,MASK2,MULT2,ADD");
}

TEST(SimChallenge, WireUnlocksWithTheRightAnswerAndLocksWithTheCounter) {
  // The first challenges of device 1 follow from its fixed seed.
  Board b("[Device]\nChallengeClient=1\n");
  b.Run();
  auto d = b.Open();
  auto answer = [&](uint16_t a) { return Out(*d, 0xE0, 0x000E, {uint8_t(a >> 8), uint8_t(a)}); };
  EXPECT_EQ(In(*d, 0xE0, 0x000D, 2), (Bytes{0xE2, 0xAF}));
  EXPECT_EQ(In(*d, 0xE0, 0x000F, 2), (Bytes{0x00, 0x00}));
  ASSERT_TRUE(answer(0x8656));  // off by one: used up, still locked
  EXPECT_EQ(In(*d, 0xE0, 0x000F, 2), (Bytes{0x00, 0x00}));
  EXPECT_EQ(In(*d, 0xE0, 0x000D, 2), (Bytes{0x17, 0xB3}));
  ASSERT_TRUE(answer(0x5131));
  EXPECT_EQ(In(*d, 0xE0, 0x000F, 2), (Bytes{0x00, 0x01}));
  ASSERT_TRUE(answer(0x0001));
  EXPECT_EQ(In(*d, 0xE0, 0x000F, 2), (Bytes{0x00, 0x00})) << "the counter sent back locks";

  Bytes two(2);
  EXPECT_FALSE(d->ControlTransfer({0xC0, 0xE0, 0x010D, 0, 2}, two.data())) << "address not 0";
  Board none;
  none.Run();
  EXPECT_FALSE(none.Open()->ControlTransfer({0xC0, 0xE0, 0x000D, 0, 2}, two.data()))
      << "no client, no challenge";
}

bool RegWrite(UsbDevice& d, uint16_t address, uint8_t value) {
  return d.ControlTransfer({0x40, 0xE0, uint16_t(address << 8 | 0x02), uint16_t(address >> 8), 1},
                           &value);
}
uint8_t RegRead(UsbDevice& d, uint16_t address) {
  uint8_t value = 0xEE;
  EXPECT_TRUE(d.ControlTransfer(
      {0xC0, 0xE0, uint16_t(address << 8 | 0x01), uint16_t(address >> 8), 1}, &value));
  return value;
}

// One byte through the register SPI master: chip select low, direction, data, start.
void MasterByte(UsbDevice& d, bool out, uint8_t value = 0) {
  EXPECT_TRUE(RegWrite(d, 0x00F5, out ? 0xC0 : 0x40));
  if (out) {
    EXPECT_TRUE(RegWrite(d, 0x00F6, value));
  }
  EXPECT_TRUE(RegWrite(d, 0x00F0, 0x04));
}
// Flash byte 0x100 read through the register master.
uint8_t MasterRead(UsbDevice& d) {
  for (uint8_t byte : {0x03, 0x00, 0x01, 0x00}) MasterByte(d, true, byte);
  MasterByte(d, false);
  const uint8_t value = RegRead(d, 0x00F6);
  EXPECT_TRUE(RegWrite(d, 0x00F5, 0x00));  // chip select up
  return value;
}
// The same two bytes through the flash read request.
Bytes RequestRead(UsbDevice& d) {
  Bytes b(2, 0xEE);
  EXPECT_TRUE(d.ControlTransfer({0xC0, 0xC4, 0x0003, 0x0001, 2}, b.data()));
  return b;
}

TEST(SimSpiPorts, MasterAndRequestsReachThePortTheSelectPicks) {
  Board b("[Device]\nFlash2Size=10000\n");
  SimBus& bus = b.Run();
  bus.Device(0).Flash().ProgramImage(0x100, {0xA1, 0xA2});
  bus.Device(0).Flash2()->ProgramImage(0x100, {0xB1, 0xB2});
  auto d = b.Open();
  EXPECT_EQ(MasterRead(*d), 0x00) << "a disabled master clocks nothing in";
  ASSERT_TRUE(RegWrite(*d, 0x00F7, 0x01));
  EXPECT_EQ(RegRead(*d, 0x00F7), 0x81) << "bit 7: application firmware runs";
  EXPECT_EQ(MasterRead(*d), 0xA1);
  EXPECT_EQ(RequestRead(*d), (Bytes{0xA1, 0xA2}));
  ASSERT_TRUE(RegWrite(*d, 0x2BFD, 0x01));
  EXPECT_EQ(MasterRead(*d), 0xB1);
  EXPECT_EQ(RequestRead(*d), (Bytes{0xB1, 0xB2}));

  // A restart drops the master's enable and the port select.
  ASSERT_TRUE(Out(*d, 0xA0, 0) && Out(*d, 0xB0, 0));
  b.clock.Advance(1000000);
  d = b.Open();
  ASSERT_TRUE(d);
  EXPECT_EQ(RegRead(*d, 0x00F7), 0x00);
  EXPECT_EQ(RegRead(*d, 0x2BFD), 0x00);
  EXPECT_EQ(RequestRead(*d), (Bytes{0xA1, 0xA2}));

  Board one("[Device]\n");
  one.Run();
  auto o = one.Open();
  ASSERT_TRUE(RegWrite(*o, 0x2BFD, 0x01));
  EXPECT_EQ(RequestRead(*o), (Bytes{0xFF, 0xFF})) << "an empty port floats high";
}

}  // namespace
}  // namespace pdflash::sim::test
