#include "device/challenge.h"
#include "sim_support.h"

namespace pdflash::sim::test {
namespace {

using pdflash::test::WriteBytes;

constexpr uint32_t kV1 = 0x0E010203;
constexpr uint32_t kV2 = 0x0E010204;
constexpr uint64_t kSecond = 1000000;

uint16_t PidOf(const UsbDeviceInfo& info) {
  return Le16(&info.descriptor[10]);
}

TEST(SimModes, JumpToRomDropsTheDeviceAndBringsItBackUnderRomIds) {
  Board b;
  WriteBytes(b.dir / "flash.bin", FlashWith(0x80000, {{0x20000, PdImage(0xC800, kV1)}}));
  SimBus& bus = b.Run();
  auto d = b.Open();
  EXPECT_EQ(Version(*d), kV1);

  ASSERT_TRUE(Vdr(*d, 0xA0));
  EXPECT_EQ(bus.Enumerate().size(), 1u) << "0xA0 alone only prepares the jump";
  ASSERT_TRUE(Vdr(*d, 0xB0));
  EXPECT_TRUE(bus.Enumerate().empty());
  EXPECT_FALSE(ReadReg(*d, 0x0018));
  b.clock.Advance(kSecond - 1);
  EXPECT_TRUE(bus.Enumerate().empty());
  b.clock.Advance(1);
  const auto list = bus.Enumerate();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(PidOf(list[0]), 0x1107);
  EXPECT_FALSE(ReadReg(*d, 0x0018)) << "a handle from before the restart stays dead";
  std::array<uint8_t, 18> desc{};
  EXPECT_FALSE(d->ReadDeviceDescriptor(desc));

  auto rom = b.Open();
  EXPECT_EQ(ReadReg(*rom, 0x00F7).value() & 0x80, 0);
  EXPECT_EQ(Version(*rom), 0x35000100u);

  // 0xB0 alone restarts into the firmware of the valid copy.
  ASSERT_TRUE(Vdr(*rom, 0xB0));
  b.clock.Advance(kSecond);
  ASSERT_EQ(bus.Enumerate().size(), 1u);
  EXPECT_EQ(PidOf(bus.Enumerate()[0]), 0x0107);
  auto app = b.Open();
  EXPECT_EQ(Version(*app), kV1);
  EXPECT_EQ(ReadReg(*app, 0x00F7).value() & 0x80, 0x80);

  // Identity C0 takes no direct jump.
  EXPECT_FALSE(Vdr(*app, 0xC0));
  EXPECT_EQ(bus.Enumerate().size(), 1u);
}

TEST(SimModes, FamiliesEightAndAJumpWithC0Only) {
  for (const char* identity : {"81", "A0"}) {
    Board b(std::string("[Device]\nIdentity=") + identity + "\n");
    SimBus& bus = b.Run();
    auto d = b.Open();
    EXPECT_FALSE(Vdr(*d, 0xA0)) << identity;
    EXPECT_EQ(bus.Device(0).CurrentMode(), Mode::App);
    ASSERT_TRUE(Vdr(*d, 0xC0));
    EXPECT_EQ(bus.Device(0).CurrentMode(), Mode::Rom);
    b.clock.Advance(kSecond);
    ASSERT_EQ(bus.Enumerate().size(), 1u);
    EXPECT_EQ(PidOf(bus.Enumerate()[0]), 0x1107) << identity;
  }
}

TEST(SimModes, RestartStartsTheFirstValidCopy) {
  auto broken = PdImage(0xC800, kV1);
  broken[0x3000] ^= 0x01;
  struct Case {
    const char* name;
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> parts;
    Mode mode;
    uint32_t version;
    std::optional<uint32_t> copy;
  } cases[] = {
      {"both copies valid",
       {{0x20000, PdImage(0xC800, kV1)}, {0x30000, PdImage(0xC800, kV2)}},
       Mode::App,
       kV1,
       0x20000},
      {"copy 1 broken",
       {{0x20000, broken}, {0x30000, PdImage(0x10000, kV2)}},
       Mode::App,
       kV2,
       0x30000},
      {"32 KiB copy 2 only", {{0x28000, PdImage(0x8000, kV2)}}, Mode::App, kV2, 0x28000},
      {"48 KiB copy 1", {{0x20000, PdImage(0xC000, kV1)}}, Mode::App, kV1, 0x20000},
      {"marker missing",
       {{0x20000,
         [] {
           auto i = PdImage(0x8000, kV1);
           i[0] = 0x03;
           StampCrc16(i.data(), 0x8000);
           return i;
         }()}},
       Mode::Rom,
       0x35000100,
       std::nullopt},
      {"blank", {}, Mode::Rom, 0x35000100, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Board b("[Device]\nMode=Rom\n");
    WriteBytes(b.dir / "flash.bin", FlashWith(0x80000, c.parts));
    SimBus& bus = b.Run();
    auto d = b.Open();
    ASSERT_TRUE(Vdr(*d, 0xB0));
    b.clock.Advance(kSecond);
    EXPECT_EQ(bus.Device(0).CurrentMode(), c.mode);
    EXPECT_EQ(bus.Device(0).BootedCopy(), c.copy);
    auto again = b.Open();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(Version(*again), c.version);
  }
}

TEST(SimModes, RunningVersionStaysUntilTheNextRestart) {
  Board b;
  WriteBytes(b.dir / "flash.bin", FlashWith(0x80000, {{0x20000, PdImage(0x8000, kV1)}}));
  SimBus& bus = b.Run();
  auto d = b.Open();
  // Identity C0 may rewrite its flash while the firmware runs.
  ASSERT_TRUE(SpiCommand(*d, 0x06));
  ASSERT_TRUE(SpiSectorErase(*d, 0x20000));
  b.clock.Advance(40000);
  EXPECT_EQ(Version(*d), kV1);
  ASSERT_TRUE(Vdr(*d, 0xB0));
  b.clock.Advance(kSecond);
  EXPECT_EQ(bus.Device(0).CurrentMode(), Mode::Rom) << "no valid copy left";
}

CoefficientSet ExampleSet(const std::string& key) {
  const std::string file = pdflash::test::ExampleChallengeFile();
  CoefficientSet set;
  const auto at = file.find("\n" + key + "=");
  if (at == std::string::npos) {
    ADD_FAILURE() << key << " missing in the example coefficients";
    return set;
  }
  const auto start = at + key.size() + 2;
  EXPECT_TRUE(ParseCoefficientSet(file.substr(start, file.find('\n', start) - start), set));
  return set;
}

TEST(SimModes, ChallengeGatesTheJumpsOfTheFirmware) {
  Board b("[Device]\nChallengeClient=1\n");
  WriteBytes(b.dir / "flash.bin", FlashWith(0x80000, {{0x20000, PdImage(0x8000, kV1)}}));
  SimBus& bus = b.Run();
  SimDevice& dev = bus.Device(0);
  auto d = b.Open();
  // The tool's own routine must give the answers the device expects.
  const CoefficientSet set = ExampleSet("Client1");

  EXPECT_EQ(Challenge16(*d, 0x000F), 0);
  ASSERT_TRUE(Vdr(*d, 0xA0));
  ASSERT_TRUE(Vdr(*d, 0xB0));
  EXPECT_EQ(dev.CurrentMode(), Mode::App) << "locked: the jump is ignored";
  EXPECT_EQ(bus.Enumerate().size(), 1u);

  const uint16_t first = Challenge16(*d, 0x000D).value();
  ASSERT_TRUE(ChallengeAnswer(*d, static_cast<uint16_t>(ComputeChallengeAnswer(set, first) ^ 1)));
  EXPECT_EQ(Challenge16(*d, 0x000F), 0) << "wrong answer";
  const uint16_t second = Challenge16(*d, 0x000D).value();
  EXPECT_NE(second, first) << "an answer uses the challenge up";
  ASSERT_TRUE(ChallengeAnswer(*d, ComputeChallengeAnswer(set, second)));
  const uint16_t counter = Challenge16(*d, 0x000F).value();
  EXPECT_NE(counter, 0);

  ASSERT_TRUE(ChallengeAnswer(*d, counter));  // sending the counter back locks
  EXPECT_EQ(Challenge16(*d, 0x000F), 0);
  ASSERT_TRUE(Vdr(*d, 0xA0));
  ASSERT_TRUE(Vdr(*d, 0xB0));
  EXPECT_EQ(dev.CurrentMode(), Mode::App);

  ASSERT_TRUE(ChallengeAnswer(*d, ComputeChallengeAnswer(set, Challenge16(*d, 0x000D).value())));
  ASSERT_TRUE(Vdr(*d, 0xA0));
  ASSERT_TRUE(Vdr(*d, 0xB0));
  EXPECT_EQ(dev.CurrentMode(), Mode::Rom);
  b.clock.Advance(kSecond);
  auto rom = b.Open();
  EXPECT_EQ(Challenge16(*rom, 0x000F), 0) << "a restart locks again";
  ASSERT_TRUE(Vdr(*rom, 0xB0)) << "ROM code has no gate";
  EXPECT_EQ(dev.CurrentMode(), Mode::App);
}

TEST(SimModes, OtherClientNumbersUseTheDefaultSet) {
  Board b("[Device]\nChallengeClient=5\n");
  b.Run();
  auto d = b.Open();
  const uint16_t c1 = Challenge16(*d, 0x000D).value();
  ASSERT_NE(ComputeChallengeAnswer(ExampleSet("Client1"), c1),
            ComputeChallengeAnswer(ExampleSet("Default"), c1));
  ASSERT_TRUE(ChallengeAnswer(*d, ComputeChallengeAnswer(ExampleSet("Client1"), c1)));
  EXPECT_EQ(Challenge16(*d, 0x000F), 0);
  const uint16_t c2 = Challenge16(*d, 0x000D).value();
  ASSERT_TRUE(ChallengeAnswer(*d, ComputeChallengeAnswer(ExampleSet("Default"), c2)));
  EXPECT_NE(Challenge16(*d, 0x000F), 0);
}

}  // namespace
}  // namespace pdflash::sim::test
