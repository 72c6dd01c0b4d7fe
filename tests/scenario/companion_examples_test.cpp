// The example companion files on a virtual board, as a user tries them:
// pdsim loads and shows them, the tool reads and updates them.
#include "scenario/scenario_support.h"
#include "sim/pdsim.h"

namespace pdflash::test {
namespace {

std::vector<uint8_t> Example(const std::string& name) {
  for (const auto& f : fwgen::ExampleSet())
    if (f.name == name) return f.bytes;
  ADD_FAILURE() << name;
  return {};
}

std::string Pdsim(std::vector<std::string> args) {
  std::string out, err;
  EXPECT_EQ(sim::RunPdsim(args, out, err), 0) << err;
  return out;
}

TEST(CompanionExamples, ShownByPdsimAndReadByTheTool) {
  Rig r({"FlashSize=200000"});
  const std::string b = r.board.dir();
  for (const char* n : {"dp_64k.bin", "dp_96k.bin", "dp_128k.bin", "hub_dual.bin", "vmm6.bin"})
    WriteBytes(r.p.File(n), Example(n));
  Pdsim({"load", b, "0", r.p.File("hub_dual.bin")});
  Pdsim({"load", b, "40000", r.p.File("dp_128k.bin")});
  Pdsim({"load", b, "60000", r.p.File("dp_96k.bin")});
  Pdsim({"load", b, "100000", r.p.File("vmm6.bin")});
  r.board.Load(0x19FFF0, {0xFF, 0xFF});  // bank 1 holds no firmware
  const std::string shown = Pdsim({"show", b});
  EXPECT_THAT(shown, HasSubstr("  DP copy at 040000: KMDPA 128 KiB, valid, version 06.01.01.00\n"));
  EXPECT_THAT(shown, HasSubstr("  DP copy at 060000: KMDPA 96 KiB, valid, version 06.01.00.00\n"));
  EXPECT_THAT(shown, HasSubstr("  hub header 1 at 0000: valid, chip 90, firmware 1 at 002000 "
                               "length 8000, version 0103\n"));
  EXPECT_THAT(shown, HasSubstr("  hub header 2 at 1000: valid, chip 90, firmware 2 at 010000 "
                               "length 8000, version 0103\n"));
  EXPECT_THAT(shown, HasSubstr("  hub backup header 1 at 1800: valid"));
  EXPECT_THAT(shown, HasSubstr("  VMM6 bank 0 at 100000: flags 5A A5, valid, version 1.02.003 v04\n"));

  // The 64 KiB file goes to the strapped pair; the 128 KiB copy stays.
  ASSERT_EQ(r.Run("HubPDShareSPI=1\nHub1Bin=hub_dual.bin\nPDDPShareSPI=1\nDP1Bin=dp_64k.bin\n"
                  "PDVMM6ShareSPI=1\nVMM6Bin=vmm6.bin\nSkipGPIO8Ctl=1\n",
                  Firmware(0xC800, 0x0E010200, 9)),
            1u)
      << r.p.out;
  const std::string after = Pdsim({"show", b});
  EXPECT_THAT(after, HasSubstr("  DP copy at 060000: KMDPB 64 KiB, valid, version 05.01.01.00\n"));
  EXPECT_THAT(after, HasSubstr("  DP copy at 070000: KMDPB 64 KiB, valid, version 05.01.01.00\n"));
  EXPECT_THAT(after, HasSubstr("  DP copy at 040000: KMDPA 128 KiB, valid"));
  EXPECT_THAT(after, HasSubstr("  VMM6 bank 0 at 100000: flags 00 00, not valid"));
  EXPECT_THAT(after, HasSubstr("  VMM6 bank 1 at 150000: flags 5A A5, valid, version 1.02.003 v04"));

  r.p.Settings("HubPDShareSPI=1\nHub1Bin=hub_dual.bin\nPDDPShareSPI=1\nDP1Bin=dp_64k.bin\n"
               "PDVMM6ShareSPI=1\nVMM6Bin=vmm6.bin\nSkipGPIO8Ctl=1\nReadVerOnly=1\nPD1Bin=new.bin\n" +
               std::string(kBoardIds));
  ASSERT_EQ(r.board.Run(), 1u) << r.p.out;
  EXPECT_THAT(r.p.out, HasSubstr("=      VMM6 FW Version:1.02.003 v04     =\n"));
  EXPECT_THAT(r.p.out, HasSubstr("=     DP FW Version is 05.01.01.00      =\n"));
  EXPECT_EQ(r.board.Run({"/F1"}), 0x0103u) << r.p.out;
}

}  // namespace
}  // namespace pdflash::test
