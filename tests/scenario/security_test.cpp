// Signed images end to end on the virtual security block: creation checked
// by an independent verifier, download, install and its outcomes, the zone
// erase, the engine timeouts and the function tests.
#include "core/bytes.h"
#include "device/engine.h"
#include "image/ecdsa_image.h"
#include "scenario/scenario_support.h"
#include "secure/ecdsa.h"
#include "support/ecdsa_check.h"

namespace pdflash::test {
namespace {

using ::testing::Not;

const char* const kImage = "ECDSAImg_20261206.bin";

std::string LowerHex(const uint8_t* b, size_t n) {
  std::string hex = HexOf(b, n);
  for (char& ch : hex) ch = static_cast<char>(std::tolower(ch));
  return hex;
}

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  return b;
}

struct SecureRig : Rig {
  explicit SecureRig(const std::vector<std::string>& keys = {}) : Rig(keys) {
    p.build.PermissionLevel = 0xF0;
  }
  // Signs the files given as name=bytes, with extra settings.
  uint32_t Create(const std::vector<std::vector<uint8_t>>& files, const std::string& extra = "") {
    std::string s = "CreateECDSASignOnly=1\nSignDeviceCnt=" + std::to_string(files.size()) + "\n";
    for (size_t i = 0; i < files.size(); ++i) {
      const std::string name = "fw" + std::to_string(i) + ".bin";
      WriteBytes(p.File(name), files[i]);
      s += "Sign" + std::to_string(i) + "Bin=" + name + "\nSign" + std::to_string(i) +
           "BinVersion=" + std::to_string(i + 1) + "0203\n";
    }
    return Run(extra + s);
  }
  uint32_t Update(const std::string& extra = "") {
    return Run(extra + "SCYUpdateOnly=1\nScyImgFilePath=" + kImage + "\n");
  }
  // Function test 0x85 writes the zone without installing.
  uint32_t Download() {
    return Run(std::string("FuncTestOnly=85\nScyImgFilePath=") + kImage + "\n");
  }
  std::vector<uint8_t> Image() { return ReadBytes(p.File(kImage)); }
};

// What anyone can check of an image with a standard library.
void ExpectSoundImage(const std::vector<uint8_t>& img, const uint8_t* private_key) {
  ASSERT_GE(img.size(), kEcdsaHeaderSize);
  const uint8_t* h = img.data();
  const std::vector<uint8_t> data(img.begin() + kEcdsaHeaderSize, img.end());
  EXPECT_EQ(Be32(h + 52), 0x50000u + data.size());
  EXPECT_EQ(std::vector<uint8_t>(h + 192, h + 224), Sha256Of(data.data(), data.size()));
  EXPECT_EQ(std::vector<uint8_t>(h + 224, h + 256), Sha256Of(h + 128, 64));
  EXPECT_EQ(std::vector<uint8_t>(h + 128, h + 192), PublicKeyOf(private_key));
  EXPECT_TRUE(EcdsaP256Verifies(data, h + 128, h + 64, h + 96));
  std::vector<uint8_t> other = data;
  other.push_back(0);
  EXPECT_FALSE(EcdsaP256Verifies(other, h + 128, h + 64, h + 96)) << "the verifier can say no";
  for (uint32_t e = 256; e < 768; e += 16) {
    unsigned sum = 0;
    for (int i = 0; i < 16; ++i) sum += h[e + i];
    if (sum) {
      EXPECT_EQ(sum % 256, 0xFFu) << e;
    }
  }
}

TEST(EcdsaImage, SignedImagesVerifyIndependentlyAndInstall) {
  SecureRig r;
  ToolFixture keys;
  const uint8_t* d = SigningKey(keys.t);
  ASSERT_EQ(r.Create({Pattern(5000, 1), Pattern(0x1000, 2)},
                     "Copy0From=51000\nCopy0To=2000\nCopy0Len=800\nCopy1From=50800\nCopy1Len=2000\n"
                     "Copy2From=40000\nCopy2Len=10\n"),
            1u)
      << r.p.out;
  EXPECT_TRUE(r.Untouched());
  for (const char* line :
       {"    ZIRUR-Create_ECDSA_Image_From_FW, Mode: 0x01\n", "\n##### DEFAULT KEY #####\n\n",
        "    FW_0_Original_Length = 0x1388\n", "    FW_0_Modified_Length = 0x2000\n",
        "## ECDSA_verify_OK ##\n", "    FW[1]: fw1.bin\n",
        "           SPI_0x052000 ~ 0x053000, Length=0x001000, Ver=0x20203\n",
        "    Copy[0]: From_0x051000_To_0x00002000, Length=0x000800 --> OK. (FW[0]).\n",
        "    Copy[1]: From_0x050800_To_0x00000000, Length=0x002000 --> Overlape. (FW[0]).\n",
        "    Copy[2]: From_0x040000_To_0x00000000, Length=0x000010 --> Error_[0].\n --> Error_[2].\n",
        "    Output=ECDSAImg_20261206.bin, Size=16KB\n"})
    EXPECT_THAT(r.p.out, HasSubstr(line));
  EXPECT_THAT(r.p.out, Not(HasSubstr("FW_1_Modified_Length")));
  const std::vector<uint8_t> first = r.Image();
  ASSERT_EQ(first.size(), 0x4000u);
  ExpectSoundImage(first, d);
  EXPECT_EQ(Be32(&first[256]), 0x50000u);
  EXPECT_EQ(Be32(&first[256 + 8]), 0x2000u);
  EXPECT_EQ(Be32(&first[272]), 0x52000u);
  EXPECT_EQ(first[60], 0x20);
  EXPECT_EQ(first[61], 0x26);

  // The nonce is fresh each time: the same key never repeats r.
  ASSERT_EQ(r.Create({Pattern(0x3000, 9)}), 1u);
  const std::vector<uint8_t> second = r.Image();
  ExpectSoundImage(second, d);
  EXPECT_NE(std::vector<uint8_t>(&first[64], &first[96]), std::vector<uint8_t>(&second[64], &second[96]));

  // Install: the zone holds the file and the firmware reports success.
  ASSERT_EQ(r.Update(), 1u) << r.p.out;
  EXPECT_THAT(r.p.out, HasSubstr("\nZIRUR[1]_ECDSA_Update_Start_0...\n"));
  EXPECT_THAT(r.p.out, HasSubstr("\r    waiting...4/200"));
  EXPECT_THAT(r.p.out, HasSubstr("=  ZIRUR-ECDSA_Update_PASS.  =\n==============================\n"));
  const auto flash = r.board.Flash();
  EXPECT_TRUE(std::equal(second.begin(), second.end(), flash.begin() + 0x4F000));
  EXPECT_EQ(r.board.Register(0x2BFE), 0x80);
}

TEST(EcdsaImage, InstallRefusesTamperedImagesWithTheFirmwaresCode) {
  SecureRig r;
  ASSERT_EQ(r.Create({Pattern(0x2000, 3)}), 1u);
  const std::vector<uint8_t> good = r.Image();
  ToolFixture keys;
  const std::vector<uint8_t> key = PublicKeyOf(SigningKey(keys.t));
  const std::string other_key(64, 'A');
  struct Case {
    const char* name;
    size_t flip;  // byte of the file to change; 0 = none
    std::string keys;
    const char* line;
  } cases[] = {
      {"data byte", 0x1800, "", "    Error_0x02\n"},
      {"signature r", 64 + 31, "", "    Error_0x03\n"},
      {"untrusted key", 0, "ScyKeyHash=" + other_key, "    Error_0x04\n"},
      {"trusted key", 0, "ScyKeyHash=" + HexOf(Sha256Of(key.data(), 64).data(), 32), nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SecureRig b(c.keys.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.keys});
    std::vector<uint8_t> img = good;
    if (c.flip) img[c.flip] ^= 0x01;
    WriteBytes(b.p.File(kImage), img);
    EXPECT_EQ(b.Update(), c.line ? 0u : 1u) << b.p.out;
    if (c.line) {
      EXPECT_THAT(b.p.out, HasSubstr(c.line));
      EXPECT_THAT(b.p.out, HasSubstr("=  ZIRUR-ECDSA_Update_FAIL.  =\n"));
    }
  }
}

TEST(EcdsaImage, UpdateChecksEverythingBeforeTheFlash) {
  SecureRig r;
  ASSERT_EQ(r.Create({Pattern(0x1000, 4)}), 1u);
  const std::vector<uint8_t> good = r.Image();
  auto with = [&](size_t at, uint8_t v) {
    std::vector<uint8_t> b = good;
    b[at] = v;
    return b;
  };
  const struct {
    const char* name;
    std::vector<uint8_t> file;
    const char* line;
  } cases[] = {
      {"4095 bytes", std::vector<uint8_t>(good.begin(), good.begin() + 4095),
       "Protection : ZIRUR_ECDSA_Size_3K_Over.\n"},
      {"title", with(15, '2'), "Protection : Title_Mismatch.\n"},
      {"start 0x000500", with(50, 0x05), "Protection : SPI-S_Mismatch.\n"},
      {"signature place", with(59, 0x44), "Protection : SIG-S_Mismatch.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(r.p.File(kImage), c.file);
    EXPECT_EQ(r.Update(), 0u);
    EXPECT_THAT(r.p.out, HasSubstr(c.line));
    EXPECT_THAT(r.p.out, HasSubstr("=  ZIRUR-ECDSA_Update_FAIL.  =\n"));
    EXPECT_TRUE(r.Untouched());
  }
  // A header-only image passes the size check and installs.
  ASSERT_EQ(r.Create({}), 1u);
  const std::vector<uint8_t> empty = r.Image();
  ASSERT_EQ(empty.size(), 4096u);
  EXPECT_EQ(Be32(&empty[52]), 0x50000u);
  EXPECT_EQ(std::vector<uint8_t>(&empty[192], &empty[224]), Sha256Of(nullptr, 0));
  EXPECT_EQ(r.Update(), 1u) << r.p.out;
}

// A larger image than the room above the zone would wrap round onto the PD
// copies: refused before the first erase, on a flash too small for it.
TEST(EcdsaImage, ImagesPastTheEndOfTheFlashAreRefused) {
  SecureRig r;
  ASSERT_EQ(r.Create({Pattern(0x40000, 2)}), 1u);
  const std::vector<uint8_t> img = r.Image();
  ASSERT_EQ(img.size(), 0x41000u);
  for (const bool update : {true, false}) {
    SCOPED_TRACE(update ? "update" : "download");
    EXPECT_EQ(update ? r.Update() : r.Download(), 0u);
    EXPECT_THAT(r.p.out, HasSubstr("Protection : Flash_Size_Incefficient_1024KB.\n"));
    EXPECT_TRUE(r.Untouched());
    EXPECT_FALSE(Sent(r.board.log, {kWriteStatus})) << "the protection stays on";

    SecureRig big({"FlashSize=100000"});
    WriteBytes(big.p.File(kImage), img);
    ASSERT_EQ(update ? big.Update() : big.Download(), 1u) << big.p.out;
    const auto flash = big.board.Flash();
    EXPECT_TRUE(std::equal(img.begin(), img.end(), flash.begin() + 0x4F000));
    EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + 0x4F000, big.before.begin()));
  }
}

TEST(EcdsaImage, InstallStateMachineOutcomes) {
  const struct {
    const char* name;
    std::vector<std::string> keys;
    std::string copy;
    const char* line;
  } cases[] = {
      {"busy before", {"ScyState=05"}, "", "    Protection: SCY_UPD_FSM_Busy.\n"},
      {"earlier result", {"ScyState=85"}, "", nullptr},
      {"never finishes", {"ScyInstallSeconds=FFFF"}, "", "    TimeOut_0xC8\n"},
      {"copy outside", {}, "Copy0From=40000\nCopy0Len=100\n", "    Error_0x05\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SecureRig r(c.keys);
    ASSERT_EQ(r.Create({Pattern(0x1000, 5)}, c.copy), 1u);
    EXPECT_EQ(r.Update(), c.line ? 0u : 1u) << r.p.out;
    if (c.line) {
      EXPECT_THAT(r.p.out, HasSubstr(c.line));
    }
  }
}

TEST(EcdsaImage, CutAtAnyTransferOfAnUpdateOrDownloadFails) {
  SecureRig r;
  ASSERT_EQ(r.Create({Pattern(0x1800, 6)}), 1u);
  const std::vector<uint8_t> img = r.Image();
  for (const bool update : {true, false}) {
    SCOPED_TRACE(update ? "update" : "download");
    ASSERT_EQ(update ? r.Update() : r.Download(), 1u);
    // From the operation's first flash transfer to its last, counted from 1.
    // A single failed transfer may be retried; a device that is gone from
    // then on must end in FAIL.
    const auto& log = r.board.log;
    const size_t total = log.size();
    const size_t first = Where(log, {kFlashCommand, kReadData}).at(0);
    ASSERT_GT(total, first + 100);
    size_t cuts = 0;
    for (size_t n = first; n <= total; n += (n < first + 10 || n + 10 > total) ? 1 : 29) {
      SecureRig c({"UnplugAtTransfer=" + sim::HexText(static_cast<uint32_t>(n), 1)});
      c.board.keep_log = false;
      WriteBytes(c.p.File(kImage), img);
      EXPECT_EQ(update ? c.Update() : c.Download(), 0u) << n;
      EXPECT_THAT(c.p.out, HasSubstr(update ? "=  ZIRUR-ECDSA_Update_FAIL.  =\n"
                                            : "=    ZIRUR-Image_DL_Fail.    =\n"))
          << n;
      ++cuts;
    }
    EXPECT_GT(cuts, 30u);
    if (!update) continue;
    // Gone at the first wait: the earlier run's result read before the request is no answer.
    auto state = [](const sim::TransferRecord& x) { return IsRegRead(x, 0x2BFE); };
    const size_t wait = Find(log, state, Find(log, state, Where(log, {kProgram}).back()) + 1);
    SecureRig gone({"ScyState=80", FailAt(wait, "UnplugAtTransfer")});
    WriteBytes(gone.p.File(kImage), img);
    EXPECT_EQ(gone.Update(), 0u);
    EXPECT_THAT(gone.p.out, HasSubstr("    TimeOut_0xC8\n"));
  }
}

// A stalled engine fails the creation and leaves the day's good image as it was.
TEST(EcdsaImage, StalledEnginesTimeOut) {
  SecureRig good;
  ASSERT_EQ(good.Create({Pattern(0x1000, 7)}), 1u);
  const std::vector<uint8_t> kept = good.Image();
  const struct {
    const char* key;
    std::vector<const char*> lines;
  } cases[] = {
      {"EccStall=1",
       {"## ECDSA-sign_nistp256 ##\n## ECDSA_IP_Initial_TOUT ##\n", "Out_Sig_r Error\n",
        "## ECDSA_verify_NG ##\n"}},
      {"ShaStall=1", {"## SHA256-Exec_From_Buffer ##\n## SHA256_Init_Timeout ##\nInitial Fail\n"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    SecureRig r({c.key});
    WriteBytes(r.p.File(kImage), kept);
    EXPECT_EQ(r.Create({Pattern(0x1000, 7)}), 0u);
    for (const char* line : c.lines) EXPECT_THAT(r.p.out, HasSubstr(line));
    EXPECT_EQ(r.Image(), kept);
  }
}

TEST(EcdsaImage, NoKeyMaterialAtAnyDebugLevel) {
  ToolFixture keys;
  const uint8_t* d = SigningKey(keys.t);
  SecureRig r;
  ASSERT_EQ(r.Create({Pattern(0x1000, 8)}, "DbgMsg=FF\n"), 1u);
  EXPECT_THAT(r.p.out, HasSubstr("    SIG_R = "));
  EXPECT_THAT(r.p.out, HasSubstr("    PUB_X = "));
  for (int chunk = 0; chunk < 4; ++chunk)
    EXPECT_THAT(r.p.out, Not(HasSubstr(LowerHex(d + 8 * chunk, 8))));
  for (const char* label : {"    K    ", "    TEMP1", "    TEMP2", "Write-reg_[0x0940]", "Read-reg [0x0A67]"})
    EXPECT_THAT(r.p.out, Not(HasSubstr(label)));
}

TEST(EcdsaImage, CreationNeedsLevelSAndTheZirurChip) {
  SecureRig r;
  r.p.build.PermissionLevel = 0xEF;
  EXPECT_EQ(r.Create({Pattern(0x1000, 1)}), 0u);
  EXPECT_THAT(r.p.out, HasSubstr("\nProtection: Insufficient_Permission_S.\n"));
  SecureRig big;
  EXPECT_EQ(big.Create({Pattern(0x80000, 1), Pattern(0x80001, 2)}), 0u);
  EXPECT_THAT(big.p.out, HasSubstr("    FW_1_Original_Length = 0x80001\n    Sum_of_BinFile_Size_Over\n"));
  EXPECT_THAT(big.p.out, Not(HasSubstr("ECDSA-sign")));
  EXPECT_FALSE(FileExists(big.p.File(kImage)));
}

TEST(EcdsaImage, DownloadEraseAndTheDeviceTests) {
  SecureRig r;
  ASSERT_EQ(r.Create({Pattern(5000 - 4096, 1)}), 1u);
  const std::vector<uint8_t> img = r.Image();
  // 0x8A then verifies the zone on the firmware.
  std::vector<uint8_t> five_k(img.begin(), img.end());
  five_k.resize(5000, 0);
  WriteBytes(r.p.File(kImage), five_k);
  ASSERT_EQ(r.Download(), 1u) << r.p.out;
  EXPECT_THAT(r.p.out, HasSubstr("=    ZIRUR-Image_DL_PASS.    =\n"));
  EXPECT_EQ(Where(r.board.log, {kSectorErase}).size(), 2u);
  auto flash = r.board.Flash();
  EXPECT_TRUE(std::equal(five_k.begin(), five_k.end(), flash.begin() + 0x4F000));
  EXPECT_EQ(r.board.Register(0x2BFE), 0x00);

  WriteFile(r.p.File("abc.txt"), "abc");
  EXPECT_EQ(r.Run("FuncTestOnly=83\nHashFilePath=abc.txt\n"), 1u);
  EXPECT_THAT(r.p.out, HasSubstr("    Original Length = 0x3\n    Example 3: Input File = abc.txt\n"
                                 "    Modified Length = 0x40\n    Buf00 = 61 62 63 80 - 00 00 00 00\n"));
  EXPECT_THAT(r.p.out, HasSubstr("    Buf20 = 00 00 00 00 - 00 00 00 00\nSHA Result"));
  EXPECT_THAT(r.p.out, HasSubstr("SHA Result = ba7816bf8f01cfea-414140de5dae2223-b00361a396177a9c-b410ff61f20015ad\n"));

  EXPECT_EQ(r.Run("FuncTestOnly=89\n"), 0u);
  EXPECT_THAT(r.p.out, HasSubstr("## ZIRUR_HW_ECDSA_SIGN_EXE ##\n    Use_Time = 0m 0s\n"));
  EXPECT_EQ(r.Run("FuncTestOnly=8E\n"), 0u);
  EXPECT_THAT(r.p.out, HasSubstr("Device_Function_Test_0x8E\nFunction_Test_0x8E\ndev_handle = 1\n"));

  // The firmware's own verification of the region 0x50000-0x6F000 fails:
  // the image covers less, so its addresses disagree.
  EXPECT_EQ(r.Run("FuncTestOnly=8A\n"), 0u);
  EXPECT_THAT(r.p.out, HasSubstr("    HW_ECDSA_VERIFY_Fail_04.\n      SHA = "));
  EXPECT_THAT(r.p.out, HasSubstr("       Qy = "));

  EXPECT_EQ(r.Run("FuncTestOnly=88\n"), 1u);
  const auto region = Sha256Of(flash.data() + 0x20000, 0xC800);
  std::string dump = " = ";
  for (int i = 0; i < 32; i += 8) {
    if (i) dump += '-';
    dump += LowerHex(&region[i], 8);
  }
  EXPECT_THAT(r.p.out, HasSubstr("SHA Result" + dump + "\n"));

  ASSERT_EQ(r.Run("FuncTestOnly=8C\n"), 1u) << r.p.out;
  EXPECT_THAT(r.p.out, HasSubstr("=   ZIRUR-ECDSA_Erase_PASS.  =\n"));
  EXPECT_EQ(Where(r.board.log, {kSectorErase}).size(), 49u);
  flash = r.board.Flash();
  EXPECT_TRUE(std::all_of(flash.begin() + 0x4F000, flash.begin() + 0x80000, [](uint8_t b) { return b == 0xFF; }));
  EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + 0x4F000, r.before.begin()));

  SecureRig busy({"ScyState=05"});
  EXPECT_EQ(busy.Run("FuncTestOnly=8B\n"), 0u);
  EXPECT_THAT(busy.p.out, HasSubstr("    Read-Reg 0x2BFE = 0x05\n    SCY_UPD_FSM_Busy.\n"));

  for (const char* test : {"FuncTestOnly=85\n", "FuncTestOnly=8C\n"}) {
    SecureRig other({"Identity=70"});
    WriteBytes(other.p.File(kImage), img);
    EXPECT_EQ(other.Run(std::string(test) + "ScyImgFilePath=" + kImage + "\n"), 0u);
    EXPECT_THAT(other.p.out, HasSubstr("Protection : Not_ZIRUR_Chip.\n"));
    EXPECT_TRUE(other.Untouched());
  }
}

// The engine driver on its own, through the device's registers.
TEST(CryptoEngine, PaddingNonceAndVerification) {
  SecureRig r;
  BoardOp op(r);
  ASSERT_TRUE(op.open);
  Device& dev = op.link;
  const size_t start = r.p.console.out.size();
  auto out = [&] { return r.p.console.out.substr(start); };
  uint8_t digest[32] = {};
  const std::vector<uint8_t> msg = Pattern(56, 3);
  const struct {
    uint64_t bits;
    const char* line;
  } pads[] = {{55 * 8, "    Modified_Length = 0x40\n"}, {56 * 8, "    Modified_Length = 0x80\n"},
              {12, "    BinFile_Size_Error_1\n"}};
  for (const auto& c : pads) {
    r.p.console.out.resize(start);
    const uint32_t ok = Sha256FromBuffer(dev, msg.data(), c.bits, digest, true);
    EXPECT_THAT(out(), HasSubstr(c.line));
    if (c.bits % 8 == 0) {
      EXPECT_EQ(ok, 1u);
      EXPECT_EQ(std::vector<uint8_t>(digest, digest + 32), Sha256Of(msg.data(), c.bits / 8));
    } else {
      EXPECT_EQ(ok, 0u);
    }
  }

  // A nonce whose first two bytes are zero is drawn whole, four bytes at a time.
  uint8_t d[32] = {}, k[32] = {0, 0, 0x12}, rr[32] = {}, ss[32] = {};
  d[31] = 0x2A;
  op.bus.ClearLog();
  ASSERT_EQ(EcdsaSignP256(dev, HashFile{}, digest, d, k, rr, ss, false), 1u);
  EXPECT_NE(k[2], 0x12);
  const std::vector<size_t> triggers = RegisterWrites(op.bus.Log(), 0x0A61);
  EXPECT_EQ(Taken(op.bus.Log(), triggers), (std::vector<uint8_t>{1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0}));
  uint8_t key[64];
  ASSERT_EQ(EccPointMult(dev, kP256G, kP256G + 32, d, key, key + 32, false), 1u);
  EXPECT_EQ(std::vector<uint8_t>(key, key + 64), PublicKeyOf(d));
  EXPECT_TRUE(EcdsaP256Verifies(std::vector<uint8_t>(msg.begin(), msg.end()), key, rr, ss));

  r.p.console.out.resize(start);
  EXPECT_EQ(EcdsaVerifyP256(dev, HashFile{}, digest, key, rr, ss, false), 1u);
  EXPECT_THAT(out(), HasSubstr("#####################\n## ECDSA_verify_OK ##\n"));
  rr[31] ^= 0x01;
  r.p.console.out.resize(start);
  EXPECT_EQ(EcdsaVerifyP256(dev, HashFile{}, digest, key, rr, ss, false), 0u);
  EXPECT_THAT(out(), HasSubstr("## ECDSA_verify_NG ##\n#####################\n    u1    = "));
  // Outside 1..n-1: the engine alone would agree to r = 0 with s = 0 or s = n.
  rr[31] ^= 0x01;
  const uint8_t zero[32] = {};
  for (const auto& [sig_r, sig_s] :
       {std::pair{zero, zero}, {zero, kP256N}, {rr, zero}, {kP256N, ss}})
    EXPECT_EQ(EcdsaVerifyP256(dev, HashFile{}, digest, key, sig_r, sig_s, false), 0u);
}

}  // namespace
}  // namespace pdflash::test
