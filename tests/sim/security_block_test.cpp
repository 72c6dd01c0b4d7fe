// The security block at the register level: the SHA-256 of "abc", stalls,
// the random numbers and the zone description the board prints.
#include "sim/security_block.h"
#include "sim_support.h"

namespace pdflash::sim::test {
namespace {

Bytes Hex(const std::string& h) {
  Bytes b;
  for (size_t i = 0; i + 1 < h.size(); i += 2) b.push_back(uint8_t(std::stoul(h.substr(i, 2), nullptr, 16)));
  return b;
}

struct Regs {
  UsbDevice& d;
  bool Write(uint16_t a, Bytes v) {
    const uint8_t sub = v.size() == 1 ? 0x02 : 0x04;
    return d.ControlTransfer({0x40, 0xE0, uint16_t((a & 0xFF) << 8 | sub), uint16_t(a >> 8),
                              uint16_t(v.size())},
                             v.data());
  }
  Bytes Read(uint16_t a, uint16_t n) {
    Bytes b(n);
    EXPECT_TRUE(d.ControlTransfer(
        {0xC0, 0xE0, uint16_t((a & 0xFF) << 8 | (n == 1 ? 0x01 : 0x03)), uint16_t(a >> 8), n},
        b.data()));
    return b;
  }
  uint8_t Byte(uint16_t a) { return Read(a, 1)[0]; }
};

TEST(SimSecurity, ShaEngineCompressesHostPaddedBlocks) {
  Board board;
  board.Run();
  auto dev = board.Open();
  Regs r{*dev};
  auto hash_block = [&](Bytes block) {
    r.Write(reg::kEngineEnable, {0x02});
    r.Write(reg::kShaControl, {0});
    r.Write(reg::kShaControl, {1});
    board.clock.Advance(2000);
    EXPECT_EQ(r.Byte(reg::kShaControl) & 0x04, 0x04);
    r.Write(reg::kShaBlock, Bytes(block.begin(), block.begin() + 32));
    r.Write(reg::kShaBlock + 32, Bytes(block.begin() + 32, block.end()));
    r.Write(reg::kShaControl, {2});
    EXPECT_EQ(r.Byte(reg::kShaControl) & 0x04, 0);
    board.clock.Advance(2000);
    EXPECT_EQ(r.Byte(reg::kShaControl) & 0x04, 0x04);
    return r.Read(reg::kShaDigest, 32);
  };
  Bytes abc(64, 0);
  abc[0] = 'a', abc[1] = 'b', abc[2] = 'c', abc[3] = 0x80, abc[63] = 24;
  EXPECT_EQ(hash_block(abc),
            Hex("BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"));
  abc[63] = 32;  // a length the bytes do not fit
  EXPECT_NE(hash_block(abc),
            Hex("BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"));
}

TEST(SimSecurity, StalledEnginesAndOtherIdentitiesHaveNoAnswer) {
  Board stalled("[Device]\nEccStall=1\nShaStall=1\n");
  stalled.Run();
  auto dev = stalled.Open();
  Regs r{*dev};
  r.Write(reg::kEngineEnable, {0x03});
  r.Write(reg::kEccCommand, {0});
  r.Write(reg::kShaControl, {0});
  r.Write(reg::kShaControl, {1});
  stalled.clock.Advance(10000000);
  EXPECT_EQ(r.Byte(reg::kEccStatus), 0);
  EXPECT_EQ(r.Byte(reg::kShaControl) & 0x04, 0);

  Board other("[Device]\nIdentity=B0\n");
  other.Run();
  auto plain = other.Open();
  Regs p{*plain};
  Bytes payload(32, 0);
  EXPECT_FALSE(plain->ControlTransfer({0x40, 0xE0, 0x000C, 0, 32}, payload.data()));
  p.Write(reg::kEccStatus, {0x5A});
  EXPECT_EQ(p.Byte(reg::kEccStatus), 0x5A) << "plain memory without the block";
}

TEST(SimSecurity, SeededTrngRepeatsAcrossBoardsAndMovesOnAcrossRuns) {
  auto draws = [](Board& b, int n) {
    b.Run();
    auto dev = b.Open();
    Regs r{*dev};
    r.Write(reg::kEngineEnable, {0x04});
    Bytes all;
    for (int i = 0; i < n; ++i) {
      r.Write(reg::kTrngTrigger, {1});
      r.Write(reg::kTrngTrigger, {0});
      const Bytes b4 = r.Read(reg::kTrngOut, 4);
      all.insert(all.end(), b4.begin(), b4.end());
    }
    return all;
  };
  Board a("[Device]\nTrngSeed=C0FFEE\n"), b("[Device]\nTrngSeed=C0FFEE\n");
  const Bytes first = draws(a, 2);
  EXPECT_EQ(draws(b, 2), first);
  EXPECT_NE(Bytes(first.begin(), first.begin() + 4), Bytes(first.begin() + 4, first.end()));
  EXPECT_NE(draws(a, 2), first) << "the next run draws new numbers";
  Board random1, random2;
  EXPECT_NE(draws(random1, 4), draws(random2, 4));
}

TEST(SimSecurity, ZoneDescriptionNamesImageAndInstallResult) {
  std::vector<uint8_t> flash(0x80000, 0xFF);
  EXPECT_EQ(DescribeSecurityZone(flash, 0), "  security zone: no image; last install 00 (none)\n");
  const std::string title = "ECDSA IMAGE V0.1";
  std::copy(title.begin(), title.end(), flash.begin() + 0x4F000);
  uint8_t* h = flash.data() + 0x4F000;
  const uint8_t fields[] = {0, 5, 0, 0, 0, 5, 0x10, 0, 0, 4, 0xF0, 0x40, 0x20, 0x23, 0x08, 0x30};
  std::copy(std::begin(fields), std::end(fields), h + 48);
  std::fill(h + 256, h + 512, 0);
  h[256 + 10] = 0x10;
  EXPECT_EQ(DescribeSecurityZone(flash, 0x83),
            "  security zone: image \"ECDSA IMAGE V0.1\", date 2023-08-30, 1 block, data "
            "050000-051000; last install 83 (refused, code 3)\n");
}

}  // namespace
}  // namespace pdflash::sim::test
