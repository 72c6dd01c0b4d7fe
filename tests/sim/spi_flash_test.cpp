#include "sim/spi_flash.h"

#include <gtest/gtest.h>

namespace pdflash::sim {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kSize = 0x10000;

struct FlashTest : ::testing::Test {
  VirtualClock clock;
  SpiNorFlash flash{clock, kSize};

  uint8_t Status() { return flash.Command({0x05}, 1)[0]; }
  void WriteEnable() { flash.Command({0x06}); }
  void Program(uint32_t a, Bytes data) {
    data.insert(data.begin(), {0x02, uint8_t(a >> 16), uint8_t(a >> 8), uint8_t(a)});
    flash.Select();
    for (uint8_t b : data) flash.Transfer(b);
    flash.Deselect();
  }
  Bytes Read(uint32_t a, size_t n) {
    return flash.Command({0x03, uint8_t(a >> 16), uint8_t(a >> 8), uint8_t(a)}, n);
  }
  // Write enable, the command, and time for it to finish.
  void Enabled(std::initializer_list<uint8_t> cmd, uint64_t wait_us = 200000) {
    WriteEnable();
    flash.Command(cmd);
    clock.Advance(wait_us);
  }
  void EnabledProgram(uint32_t a, const Bytes& data) {
    WriteEnable();
    Program(a, data);
    clock.Advance(SpiNorFlash::kPageProgramUs);
  }
};

TEST_F(FlashTest, ProgramOnlyClearsBitsAndEraseSetsThem) {
  EnabledProgram(0x1100, {0xF0, 0x0F, 0xAA});
  EnabledProgram(0x1100, {0x3C, 0xFF, 0x55});
  EXPECT_EQ(Read(0x1100, 3), (Bytes{0x30, 0x0F, 0x00}));
  EnabledProgram(0x0FFF, {0x00});
  EnabledProgram(0x2000, {0x00});
  Enabled({0x20, 0x00, 0x12, 0x34});  // any address inside the sector
  EXPECT_EQ(Read(0x0FFF, 2), (Bytes{0x00, 0xFF}));
  EXPECT_EQ(Read(0x1FFF, 2), (Bytes{0xFF, 0x00}));
  Enabled({0xC7});
  EXPECT_EQ(Read(0, kSize), Bytes(kSize, 0xFF));
}

TEST_F(FlashTest, PageProgramWrapsInsideItsPageAndAddressesWrapAtTheSize) {
  EnabledProgram(0x01FE, {0x11, 0x22, 0x33, 0x44});
  EXPECT_EQ(Read(0x01FE, 2), (Bytes{0x11, 0x22}));
  EXPECT_EQ(Read(0x0100, 3), (Bytes{0x33, 0x44, 0xFF}));
  Bytes long_data(300, 0x00);  // more than a page: the part keeps the last 256 bytes
  for (size_t i = 256; i < 300; ++i) long_data[i] = static_cast<uint8_t>(0xA0 + (i - 256));
  EnabledProgram(0x0300, long_data);
  EXPECT_EQ(Read(0x0300, 2), (Bytes{0xA0, 0xA1}));
  EXPECT_EQ(Read(0x0300 + 44, 1)[0], 0x00);
  EnabledProgram(kSize, {0x01});                       // lands at 0
  EXPECT_EQ(Read(kSize - 1, 2), (Bytes{0xFF, 0x01}));  // a read runs on across the end
}

TEST_F(FlashTest, WriteEnableLatchAndBusyFollowTheClock) {
  WriteEnable();
  EXPECT_EQ(Status(), 0x02);
  flash.Command({0x04});
  Program(0x40, {0x00});  // no write enable: ignored
  EXPECT_EQ(Status(), 0x00);
  EXPECT_EQ(Read(0x40, 1)[0], 0xFF);

  WriteEnable();
  Program(0x40, {0x12});
  EXPECT_EQ(Status(), 0x03);
  EXPECT_EQ(Read(0x40, 1)[0], 0xFF) << "a busy part does not answer reads";
  clock.Advance(SpiNorFlash::kPageProgramUs - 1);
  EXPECT_EQ(Status(), 0x03);
  clock.Advance(1);
  EXPECT_EQ(Status(), 0x00) << "WEL falls when the program ends";
  EXPECT_EQ(Read(0x40, 1)[0], 0x12);

  WriteEnable();
  flash.Command({0x20, 0x00, 0x00, 0x00});
  clock.Advance(SpiNorFlash::kSectorEraseUs - 1);
  WriteEnable();  // ignored while busy
  Program(0x80, {0x00});
  EXPECT_EQ(Status(), 0x03);
  clock.Advance(1);
  EXPECT_EQ(Status(), 0x00);
  EXPECT_EQ(Read(0x80, 1)[0], 0xFF);

  WriteEnable();
  flash.Command({0x60});
  EXPECT_EQ(flash.ChipEraseUs(), 125000u);  // 2 s per MiB
  clock.Advance(124999);
  EXPECT_TRUE(flash.Busy());
  clock.Advance(1);
  EXPECT_FALSE(flash.Busy());
}

TEST_F(FlashTest, ProtectBitsMakeEraseAndProgramDoNothingUntilCleared) {
  EnabledProgram(0x10, {0x00});
  Enabled({0x01, 0x1C}, SpiNorFlash::kStatusWriteUs);
  WriteEnable();
  Program(0x20, {0x00});
  EXPECT_EQ(Status(), 0x1C) << "not busy, WEL cleared";
  Enabled({0x20, 0, 0, 0});
  Enabled({0xC7});
  EXPECT_EQ(Read(0x10, 1)[0], 0x00);
  EXPECT_EQ(Read(0x20, 1)[0], 0xFF);
  flash.Command({0x01, 0x00});  // without write enable: ignored
  EXPECT_EQ(Status(), 0x1C);
  Enabled({0x01, 0x00}, SpiNorFlash::kStatusWriteUs);
  EnabledProgram(0x20, {0x00});
  EXPECT_EQ(Read(0x20, 1)[0], 0x00);

  // The volatile enable allows one status write, at once and without WEL.
  flash.Command({0x50});
  flash.Command({0x01, 0x0C});
  EXPECT_EQ(Status(), 0x0C);
  flash.Command({0x01, 0x1C});  // the enable was used up
  EXPECT_EQ(Status(), 0x0C);
}

}  // namespace
}  // namespace pdflash::sim
