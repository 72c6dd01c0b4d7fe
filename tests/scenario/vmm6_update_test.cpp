// The VMM6 firmware in the shared flash: the bank switch of the update, the
// refusals before anything is erased, GPIO8, the version reader and the
// backup inside the PD backup.
#include "scenario/scenario_support.h"

namespace pdflash::test {
namespace {

constexpr uint32_t kBank0 = 0x100000, kBank1 = 0x150000, kFlag = 0x4FFF0;

std::vector<uint8_t> Vmm6(uint8_t c, uint32_t seed = 4) {
  return fwgen::MakeVmm6Firmware({.c = c, .seed = seed});
}

struct VmmRig : Rig {
  // Banks holding an image (c = 1 in bank 0, 2 in bank 1) or no flag.
  VmmRig(bool bank0, bool bank1, std::vector<std::string> keys = {"FlashSize=200000"}) : Rig(keys) {
    if (board.Flash().size() < 0x200000) return;
    const std::vector<uint8_t> blank = {0xFF, 0xFF};
    bank0 ? board.Load(kBank0, Vmm6(1, 5)) : board.Load(kBank0 + kFlag, blank);
    bank1 ? board.Load(kBank1, Vmm6(2, 6)) : board.Load(kBank1 + kFlag, blank);
  }
  uint32_t Update(const std::vector<uint8_t>& file, const std::string& more = "") {
    WriteBytes(p.File("vmm6.bin"), file);
    return Run(more + "PDVMM6ShareSPI=1\nVMM6Bin=vmm6.bin\n", Firmware(0xC800, 0x0E010200, 9));
  }
};

TEST(Vmm6Update, BankStates) {
  for (const auto& [bank0, bank1, target, fin] :
       std::vector<std::tuple<bool, bool, uint32_t, int>>{{true, false, kBank1, 0},
                                                          {false, true, kBank0, 1},
                                                          {true, true, kBank0, 1},
                                                          {false, false, kBank1, 0}}) {
    SCOPED_TRACE(testing::Message() << bank0 << bank1);
    VmmRig r(bank0, bank1);
    const auto image = Vmm6(9);
    ASSERT_EQ(r.Update(image, "DbgMsg=1\n"), 1u) << r.p.out;
    const uint32_t old = target == kBank0 ? kBank1 : kBank0;
    // The new bank holds the image, the old one its image without its flag.
    auto expected = r.before;
    std::copy(image.begin(), image.end(), expected.begin() + target);
    expected[old + kFlag] = expected[old + kFlag + 1] = 0x00;
    const auto flash = r.board.Flash();
    EXPECT_TRUE(std::equal(flash.begin() + 0x40000, flash.end(), expected.begin() + 0x40000));
    EXPECT_TRUE(BothCopies(flash, Firmware(0xC800, 0x0E010200, 9)));
    EXPECT_THAT(r.p.out, HasSubstr(fin ? "    FIN:Set_BANK1_as_Backup (BANK0_Active)\n"
                                       : "    FIN:Set_BANK0_as_Backup (BANK1_Active)\n"));
    EXPECT_THAT(r.p.out, HasSubstr("    Update_Bank" + std::to_string(target == kBank0 ? 0 : 1) +
                                   ":" + Hex(target) + "~" + Hex(target + 0x50000) + "\n"));
    if (bank0 == bank1) {
      EXPECT_THAT(r.p.out, HasSubstr("    Error, Bank_Judge_Error_" + std::to_string(bank0) + "_" +
                                     std::to_string(bank1) + "\n"));
    }
    EXPECT_THAT(r.p.out, HasSubstr("=   VMM6_FW_Update_PASS.  =\n"));
  }
}

// A file that would leave no bootable bank, or a flash too small, is refused
// before GPIO8 or the flash is touched, and before the PD copies whichever of
// the two goes first.
TEST(Vmm6Update, RefusedBeforeAnythingChanges) {
  auto no_flag = Vmm6(9), zero_flag = Vmm6(9);
  no_flag[kFlag + 1] = 0xFF;
  zero_flag[kFlag] = 0x00;
  for (const uint32_t customer : {3u, 0u}) {
    for (const auto& [file, line, flash] :
         std::vector<std::tuple<std::vector<uint8_t>, std::string, const char*>>{
             {std::vector<uint8_t>(0x4FFF1, 0x5A), "VMM6FW_Size_4FFF1_Without_Bank_Flag.\n",
              "200000"},
             {no_flag, "VMM6FW_Bank_Flag_5A_FF_Invalid.\n", "200000"},
             {zero_flag, "VMM6FW_Bank_Flag_00_A5_Invalid.\n", "200000"},
             {std::vector<uint8_t>(0x100001, 0x5A), "VMM6FW_Size_1024K_Over.\n", "200000"},
             {Vmm6(9), "Flash_Size_Incefficient_2MB.\n", "100000"}}) {
      SCOPED_TRACE(testing::Message() << customer << line);
      VmmRig r(true, false, {std::string("FlashSize=") + flash});
      r.p.build.CustomerCode = customer;
      EXPECT_EQ(r.Update(file, "SkipGPIO8Ctl=1\n"), 0u);
      EXPECT_THAT(r.p.out, HasSubstr("Protection : " + line));
      EXPECT_THAT(r.p.out, ::testing::Not(HasSubstr("Skip_GPIO8_Low_2")));
      EXPECT_TRUE(r.Untouched());
    }
  }
  // The PD file is checked before the bank switch that comes first.
  VmmRig r(true, false);
  auto pd = Firmware(0xC800, 0x0E010200, 9);
  pd[0x100] ^= 1;
  WriteBytes(r.p.File("vmm6.bin"), Vmm6(9));
  EXPECT_EQ(r.Run("PDVMM6ShareSPI=1\nVMM6Bin=vmm6.bin\n", pd), 0u);
  EXPECT_THAT(r.p.out, HasSubstr("Protection: Bin_CRC16="));
  EXPECT_TRUE(r.Untouched());
}

// A bank flag that cannot be read is a read failure, never a judged flag:
// before the erase the active bank stays whole, after the write its flag stays.
TEST(Vmm6Update, UnreadFlagIsAReadFailure) {
  size_t before_erase = 0, new_flag = 0, old_flag = 0;
  {
    VmmRig probe(false, true);
    ASSERT_EQ(probe.Update(Vmm6(9), "SkipGPIO8Ctl=1\n"), 1u) << probe.p.out;
    const Log& log = probe.board.log;
    const size_t erase = Find(log, [](const auto& r) {
      return r.setup.bRequest == kSectorErase && FlashAddress(r.setup) == kBank0;
    });
    ASSERT_LT(erase, log.size());
    for (size_t i = 0; i < log.size(); ++i) {
      if (log[i].setup.bRequest != kReadData) continue;
      const uint32_t a = FlashAddress(log[i].setup);
      if (a == kBank1 + kFlag) (i < erase ? before_erase : old_flag) = i;
      if (a == kBank0 + kFlag && i > erase) new_flag = i;
    }
    ASSERT_TRUE(before_erase != 0 && new_flag > erase && old_flag > new_flag);
  }
  for (const size_t at : {before_erase, new_flag, old_flag}) {
    SCOPED_TRACE(at);
    VmmRig r(false, true, {"FlashSize=200000", FailAt(at)});
    const auto before = r.board.Flash();
    EXPECT_EQ(r.Update(Vmm6(9), "SkipGPIO8Ctl=1\n"), 0u);
    EXPECT_THAT(r.p.out, HasSubstr("Protection : VMM6_Bank_Flag_Read_Fail.\n"));
    EXPECT_THAT(r.p.out, ::testing::Not(HasSubstr("_Invalid.\n")));
    EXPECT_THAT(r.p.out, ::testing::Not(HasSubstr("Not_Cleared")));
    EXPECT_THAT(r.p.out, HasSubstr("=   VMM6_FW_Update_FAIL.  =\n"));
    const auto after = r.board.Flash();
    // Untouched from the active bank on, or from the bank being replaced on.
    const uint32_t kept = at == before_erase ? kBank0 : kBank1;
    if (at != old_flag) {
      EXPECT_TRUE(std::equal(before.begin() + kept, before.end(), after.begin() + kept));
    }
  }
}

TEST(Vmm6Update, Gpio8AndItsPause) {
  uint64_t took[2] = {};
  for (const bool skip : {false, true}) {
    SCOPED_TRACE(skip);
    VmmRig r(true, false);
    ASSERT_EQ(r.Update(Vmm6(9), skip ? "SkipGPIO8Ctl=1\n" : "DbgMsg=1\n"), 1u) << r.p.out;
    took[skip] = r.board.run_us;
    // GPIO8 writes after the update's flash size check are the update's own.
    size_t size_check = 0;
    for (size_t i : Where(r.board.log, {kReadData}))
      if (FlashAddress(r.board.log[i].setup) == kBank0 && !size_check) size_check = i;
    std::vector<size_t> writes;
    for (size_t i : RegisterWrites(r.board.log, 0x0002))
      if (i > size_check) writes.push_back(i);
    const std::string vmm = r.p.out.substr(r.p.out.find("\nVMM6_Update_Start...\n"));
    if (skip) {
      EXPECT_TRUE(writes.empty());
      EXPECT_THAT(r.p.out, HasSubstr("    Skip_GPIO8_Low_3\n"));
      EXPECT_THAT(vmm, HasSubstr("    Skip_GPIO8_Low_2\n"));
    } else {
      // GPIO8 enabled and driven low before the banks are judged.
      ASSERT_EQ(writes.size(), 1u);
      EXPECT_EQ(r.board.log[writes[0]].data[0] & 0x88, 0x80);
      EXPECT_THAT(vmm, HasSubstr("    GPIO8_Low\n\t -Sleep_3S_Start-\n\t -Sleep_3S_End-\n"));
    }
  }
  EXPECT_GE(took[0], took[1] + 3000000u);
}

TEST(Vmm6Version, ActiveBankDuringTheSearch) {
  for (const auto& [bank0, bank1, version, line] :
       std::vector<std::tuple<bool, bool, uint32_t, std::string>>{
           {false, true, 0x01020204, "=      VMM6 FW Version:1.02.002 v04     =\n"},
           {true, true, 0x01020104, "\t Error, Bank_Judge_Error_1_1\n"},
           {false, false, 0, "\t Error, Bank_Judge_Error_0_0\nGet_VMM_FW_Version_FAIL.\n"}}) {
    SCOPED_TRACE(line);
    VmmRig r(bank0, bank1);
    WriteBytes(r.p.File("vmm6.bin"), Vmm6(9));
    r.p.Settings("PDVMM6ShareSPI=1\nVMM6Bin=vmm6.bin\nPD1Bin=vmm6.bin\nSkipGPIO8Ctl=1\n" +
                 std::string(kBoardIds));
    EXPECT_EQ(r.board.Run({"/FV"}), version) << r.p.out;
    EXPECT_THAT(r.p.out, HasSubstr(line));
  }
}

TEST(Vmm6Backup, BothBanksInsideThePdBackup) {
  VmmRig r(true, false);
  WriteBytes(r.p.File("vmm6.bin"), Vmm6(9));
  ASSERT_EQ(r.Run("BackUpOnly=1\nPDVMM6ShareSPI=1\nVMM6Bin=vmm6.bin\n"), 1u) << r.p.out;
  EXPECT_THAT(r.p.out, HasSubstr("\nVMM6_Backup_Start...\n"));
  EXPECT_THAT(r.p.out,
              HasSubstr("\r    reading...99%\r                \r\n=========================="
                        "=\n=   VMM6_FW_Update_PASS.  =\n"));
  const auto file = ReadBytes(r.p.File("BackUpVMM6.bin"));
  EXPECT_TRUE(file == std::vector<uint8_t>(r.before.begin() + kBank0, r.before.end()));
  EXPECT_TRUE(r.Untouched());
}

}  // namespace
}  // namespace pdflash::test
