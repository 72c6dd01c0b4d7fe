#include "device/engine.h"

#include <cstring>

#include "core/files.h"
#include "device/registers.h"

namespace pdflash {

const uint8_t kP256G[64] = {
    0x6B, 0x17, 0xD1, 0xF2, 0xE1, 0x2C, 0x42, 0x47, 0xF8, 0xBC, 0xE6, 0xE5, 0x63,
    0xA4, 0x40, 0xF2, 0x77, 0x03, 0x7D, 0x81, 0x2D, 0xEB, 0x33, 0xA0, 0xF4, 0xA1,
    0x39, 0x45, 0xD8, 0x98, 0xC2, 0x96, 0x4F, 0xE3, 0x42, 0xE2, 0xFE, 0x1A, 0x7F,
    0x9B, 0x8E, 0xE7, 0xEB, 0x4A, 0x7C, 0x0F, 0x9E, 0x16, 0x2B, 0xCE, 0x33, 0x57,
    0x6B, 0x31, 0x5E, 0xCE, 0xCB, 0xB6, 0x40, 0x68, 0x37, 0xBF, 0x51, 0xF5};

const uint8_t kP256N[32] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xBC, 0xE6, 0xFA, 0xAD, 0xA7, 0x17, 0x9E, 0x84, 0xF3, 0xB9, 0xCA, 0xC2, 0xFC, 0x63, 0x25, 0x51};

namespace {

constexpr int kPolls = 1000;
constexpr uint8_t kEccOn = 0x01, kShaOn = 0x02, kTrngOn = 0x04;
constexpr uint8_t kShaDone = 0x04;

enum EccCode : uint8_t { kReset = 0, kMult = 1, kAdd = 2, kModAdd = 3, kModSub = 4, kModInv = 5, kModMult = 6 };

bool Poll(Device& dev, uint16_t a, uint8_t bit, bool print) {
  for (int i = 0; i < kPolls; ++i) {
    uint8_t v = 0;
    if (dev.ReadRegister(a, v, print) == 1 && (v & bit)) return true;
  }
  return false;
}

void EnableEngine(Device& dev, uint8_t bit, bool print) {
  uint8_t v = 0;
  dev.ReadRegister(reg::kEngineEnable, v, print);
  dev.WriteRegister(reg::kEngineEnable, static_cast<uint8_t>(v | bit), print);
}

// One engine command: operands in A, B, C, D order, the command, the poll,
// the result windows. The result is the last read's.
uint32_t EccRun(Device& dev, EccCode code, const char* banner, const char* timeout,
                std::initializer_list<const uint8_t*> operands, uint8_t* x, uint8_t* y, bool print) {
  if (print) LogPrint(dev.out, "%s", banner);
  if (EccEngineInit(dev, print) != 1) return 0;
  uint16_t a = reg::kEccA;
  for (const uint8_t* op : operands) {
    dev.WriteRegisterBlock(a, op, 32, print);
    a = static_cast<uint16_t>(a + 32);
  }
  dev.WriteRegister(reg::kEccCommand, code, print);
  if (!Poll(dev, reg::kEccStatus, 0x01, print)) {
    LogPrint(dev.out, "%s", timeout);
    return 0;
  }
  uint32_t result = dev.ReadRegisterBlock(reg::kEccResultX, x, 32, print);
  if (y) result = dev.ReadRegisterBlock(reg::kEccResultY, y, 32, print);
  return result;
}

void Dump(Device& dev, const char* label, const uint8_t* v) {
  LogPrint(dev.out, "%s", label);
  HexDump(dev.out, v, 32);
}

void Pad(uint8_t* buffer, uint64_t n, uint64_t total) {
  buffer[n] = 0x80;
  const uint32_t bits = static_cast<uint32_t>(n * 8);  // only the low word is written
  for (int i = 0; i < 4; ++i) buffer[total - 1 - i] = static_cast<uint8_t>(bits >> (8 * i));
}

void PrintBuffer(Device& dev, const uint8_t* b, uint64_t total) {
  for (uint32_t o = 0; o <= 0x20 && o < total; o += 8)
    LogPrint(dev.out, "    Buf%02X = %02X %02X %02X %02X - %02X %02X %02X %02X\n", o, b[o], b[o + 1],
             b[o + 2], b[o + 3], b[o + 4], b[o + 5], b[o + 6], b[o + 7]);
}

// Feeds the padded buffer to the engine; "reading" lines every 1 KiB with `progress`.
uint32_t HashPadded(Device& dev, const uint8_t* b, uint64_t total, uint8_t* digest, bool progress,
                    bool print) {
  if (Sha256Initial(dev, false) != 1) {
    LogPrint(dev.out, "Initial Fail\n");
    return 0;
  }
  for (uint64_t o = 0; o < total; o += 64) {
    if (Sha256Update(dev, b + o, false) != 1) {
      LogPrint(dev.out, "Update Fail\n");
      return 0;
    }
    if (progress && (o + 64) % 1024 == 0)
      LogPrint(dev.out, "\r    reading...%02d%%", static_cast<int>((o + 64) * 100 / total));
  }
  if (progress) LogPrint(dev.out, "%s", kWipeLine);
  return dev.ReadRegisterBlock(reg::kShaDigest, digest, 32, print);
}

uint32_t Command(Device& dev, uint16_t code, const uint8_t* payload, uint32_t length,
                 uint32_t expected, bool print, const char* banner, const char* length_error,
                 const char* fail) {
  if (print) LogPrint(dev.out, "%s", banner);
  if (length != expected) {
    LogPrint(dev.out, "%s", length_error);
    return 0;
  }
  if (!dev.Send(req::kRegister, code, 0, static_cast<uint16_t>(length), payload)) {
    LogPrint(dev.out, "%s", fail);
    return 0;
  }
  return 1;
}

}  // namespace

uint32_t EccEngineInit(Device& dev, bool print) {
  EnableEngine(dev, kEccOn, print);
  dev.WriteRegister(reg::kEccCommand, kReset, print);
  if (!Poll(dev, reg::kEccStatus, 0x01, print)) {
    LogPrint(dev.out, "## ECDSA_IP_Initial_TOUT ##\n");
    return 0;
  }
  return 1;
}

uint32_t EccPointMult(Device& dev, const uint8_t* px, const uint8_t* py, const uint8_t* k,
                      uint8_t* x, uint8_t* y, bool print) {
  return EccRun(dev, kMult, "## ECC-Mult ##\n", "## ECC_Mult_TOUT ##\n", {px, py, k}, x, y, print);
}

uint32_t EccPointAdd(Device& dev, const uint8_t* px, const uint8_t* py, const uint8_t* qx,
                     const uint8_t* qy, uint8_t* x, uint8_t* y, bool print) {
  return EccRun(dev, kAdd, "## ECC-Add ##\n", "## ECC_Add_TOUT ##\n", {px, py, qx, qy}, x, y,
                print);
}

uint32_t ModAdd(Device& dev, const uint8_t* a, const uint8_t* b, uint8_t* out, bool print) {
  return EccRun(dev, kModAdd, "## Modul-Add ##\n", "## ECC_Mod_Add_TOUT ##\n", {a, b}, out,
                nullptr, print);
}

uint32_t ModSub(Device& dev, const uint8_t* a, const uint8_t* b, uint8_t* out, bool print) {
  return EccRun(dev, kModSub, "## Modul-Sub ##\n", "## ECC_Mod_Sub_TOUT ##\n", {a, b}, out,
                nullptr, print);
}

uint32_t ModInv(Device& dev, const uint8_t* a, uint8_t* out, bool print) {
  return EccRun(dev, kModInv, "## Modul-INV ##\n", "## ECC_Mod_INV_TOUT ##\n", {a}, out, nullptr,
                print);
}

uint32_t ModMult(Device& dev, const uint8_t* a, const uint8_t* b, uint8_t* out, bool print) {
  return EccRun(dev, kModMult, "## Modul-Mult ##\n", "## ECC_Mod_Mul_TOUT ##\n", {a, b}, out,
                nullptr, print);
}

// The private key, the nonce and every value that gives them away (d*r,
// d*r + e, the inverse nonce) never reach the output: the engine traffic of
// signing is not echoed, and `print` shows only the public values.
uint32_t EcdsaSignP256(Device& dev, const HashFile& file, uint8_t* digest, const uint8_t* d,
                       uint8_t* k, uint8_t* r, uint8_t* s, bool print) {
  Output& out = dev.out;
  LogPrint(out, "## ECDSA-sign_nistp256 ##\n");
  if (IsEmptyValue(digest)) Sha256FromBinFile(dev, file, digest);
  if (IsEmptyValue(digest)) {
    LogPrint(out, "In_Digest Error\n");
    return 0;
  }
  if (IsEmptyValue(k)) GetTrng(dev, k, 32, false);
  if (IsEmptyValue(k)) {
    LogPrint(out, "k Error\n");
    return 0;
  }
  uint8_t y1[32] = {};
  EccPointMult(dev, kP256G, kP256G + 32, k, r, y1, false);
  if (IsEmptyValue(r)) {
    LogPrint(out, "Out_Sig_r Error\n");
    return 0;
  }
  if (print) Dump(dev, "    SIG_R", r);
  if (IsEmptyValue(y1)) {
    LogPrint(out, "Qy Error\n");
    return 0;
  }
  uint8_t t1[32] = {}, t2[32] = {}, ki[32] = {};
  ModMult(dev, d, r, t1, false);
  if (IsEmptyValue(t1)) {
    LogPrint(out, "temp1 Error\n");
    return 0;
  }
  ModAdd(dev, t1, digest, t2, false);
  if (IsEmptyValue(t2)) {
    LogPrint(out, "temp2 Error\n");
    return 0;
  }
  if (print) Dump(dev, "    HASH ", digest);
  ModInv(dev, k, ki, false);
  if (IsEmptyValue(ki)) {
    LogPrint(out, "Qy2 Error\n");
    return 0;
  }
  const uint32_t result = ModMult(dev, ki, t2, s, false);
  std::memset(t1, 0, sizeof t1);
  std::memset(t2, 0, sizeof t2);
  std::memset(ki, 0, sizeof ki);
  if (IsEmptyValue(s)) {
    LogPrint(out, "Out_Sig_s Error\n");
    return 0;
  }
  if (print) Dump(dev, "    SIG_S", s);
  return result;
}

uint32_t EcdsaVerifyP256(Device& dev, const HashFile& file, uint8_t* digest, const uint8_t* q,
                         const uint8_t* r, const uint8_t* s, bool print) {
  Output& out = dev.out;
  LogPrint(out, "## ECDSA-verify_nistp256 ##\n");
  if (IsEmptyValue(digest)) Sha256FromBinFile(dev, file, digest);
  uint8_t w[32] = {}, u1[32] = {}, u2[32] = {};
  uint8_t p1x[32] = {}, p1y[32] = {}, p2x[32] = {}, p2y[32] = {}, px[32] = {}, py[32] = {};
  ModInv(dev, s, w, print);
  ModMult(dev, digest, w, u1, print);
  ModMult(dev, r, w, u2, print);
  EccPointMult(dev, kP256G, kP256G + 32, u1, p1x, p1y, print);
  EccPointMult(dev, q, q + 32, u2, p2x, p2y, print);
  const uint32_t last = EccPointAdd(dev, p1x, p1y, p2x, p2y, px, py, print);
  // Outside 1..n-1 the engine's arithmetic can still agree, e.g. for r = s = 0.
  static const uint8_t kZero[32] = {};
  auto in_range = [](const uint8_t* v) {
    return std::memcmp(v, kZero, 32) != 0 && std::memcmp(v, kP256N, 32) < 0;
  };
  const bool valid = last == 1 && in_range(r) && in_range(s) && std::memcmp(px, r, 32) == 0;
  LogPrint(out, "#####################\n");
  LogPrint(out, valid ? "## ECDSA_verify_OK ##\n" : "## ECDSA_verify_NG ##\n");
  LogPrint(out, "#####################\n");
  if (!valid) Dump(dev, "    u1   ", px);
  if (print) {
    Dump(dev, "     w", w);
    Dump(dev, "    Qx", p1x);
    Dump(dev, "    Qy", p1y);
    Dump(dev, "    Px", p2x);
    Dump(dev, "    Py", p2y);
    Dump(dev, "    u1", px);
    Dump(dev, "    u2", py);
  }
  return valid ? 1 : 0;
}

uint32_t GetTrng(Device& dev, uint8_t* out, uint32_t count, bool print) {
  if (print) LogPrint(dev.out, "## Get-TRNG ##");
  if (count == 0) return 0;
  uint32_t result = 0;
  for (uint32_t done = 0; done < count;) {
    const uint8_t n = static_cast<uint8_t>(count - done < 4 ? count - done : 4);
    dev.clock.BusyWaitUs(1000);
    uint8_t enable = 0;
    dev.ReadRegister(reg::kEngineEnable, enable, print);
    dev.WriteRegister(reg::kEngineEnable, static_cast<uint8_t>(enable | kTrngOn), print);
    dev.WriteRegister(reg::kTrngTrigger, 1, print);
    dev.WriteRegister(reg::kTrngTrigger, 0, print);
    dev.clock.BusyWaitUs(1000);
    result = dev.ReadRegisterBlockDescending(reg::kTrngTop, out + done, n, print);
    done += n;
  }
  return result;
}

uint32_t Sha256Initial(Device& dev, bool print) {
  if (print) LogPrint(dev.out, "## SHA256-Initial ##\n");
  EnableEngine(dev, kShaOn, print);
  dev.WriteRegister(reg::kShaControl, 0, print);
  dev.WriteRegister(reg::kShaControl, 1, print);
  if (!Poll(dev, reg::kShaControl, kShaDone, print)) {
    LogPrint(dev.out, "## SHA256_Init_Timeout ##\n");
    return 0;
  }
  return 1;
}

uint32_t Sha256Update(Device& dev, const uint8_t* block, bool print) {
  dev.WriteRegisterBlock(reg::kShaBlockLow, block, 32, print);
  dev.WriteRegisterBlock(reg::kShaBlockHigh, block + 32, 32, print);
  dev.WriteRegister(reg::kShaControl, 2, print);
  if (!Poll(dev, reg::kShaControl, kShaDone, print)) {
    LogPrint(dev.out, "## SHA256_Update_Timeout ##\n");
    return 0;
  }
  return 1;
}

uint64_t Sha256PaddedLength(uint64_t n) {
  uint64_t p = 64 - n % 64;
  if (p < 9) p += 64;
  return n + p;
}

uint32_t Sha256FromBuffer(Device& dev, const uint8_t* data, uint64_t bits, uint8_t* digest,
                          bool print) {
  LogPrint(dev.out, "## SHA256-Exec_From_Buffer ##\n");
  auto buffer = NewBuffer(kShaBufferSize, 0);
  if (!buffer) return 0;
  if (bits % 8 != 0) {
    LogPrint(dev.out, "    BinFile_Size_Error_1\n");
    return 0;
  }
  const uint64_t n = bits / 8;
  const uint64_t total = Sha256PaddedLength(n);
  if (total > kShaBufferSize) {
    LogPrint(dev.out, "    BinFile_Size_Error_2\n");
    return 0;
  }
  if (n >= 0xFFFB9) {
    LogPrint(dev.out, "    Add_Check_For_Compiler.\n");
    return 0;
  }
  if (n) std::memcpy(buffer.get(), data, n);
  Pad(buffer.get(), n, total);
  if (print) {
    LogPrint(dev.out, "    Modified_Length = 0x%X\n", static_cast<uint32_t>(total));
    PrintBuffer(dev, buffer.get(), total);
  }
  return HashPadded(dev, buffer.get(), total, digest, true, print);
}

uint32_t Sha256FromBinFile(Device& dev, const HashFile& file, uint8_t* digest) {
  Output& out = dev.out;
  LogPrint(out, "## SHA256-Calculate_From_BinFile ##\n");
  auto buffer = NewBuffer(kShaBufferSize, 0);
  if (!buffer) return 0;
  FilePtr f(OpenIn(file.folder, file.name, "rb"));
  if (!f) {
    LogPrint(out, "    Hash File Path Open Error\n");
    return 0;
  }
  const int64_t size = FileLength(f.get());
  LogPrint(out, "    DataBuffer Size = 0x%X\n", kShaBufferSize);
  LogPrint(out, "    Original Length = 0x%X\n", static_cast<uint32_t>(size < 0 ? 0 : size));
  if (size < 0 || size > static_cast<int64_t>(kShaBufferSize)) {
    LogPrint(out, "    BinFile Size Error 1\n");
    return 0;
  }
  const uint64_t n = static_cast<uint64_t>(size);
  ReadFileAt(f.get(), 0, buffer.get(), n);
  LogPrint(out, "    Example 3: Input File = %s\n", file.name.c_str());
  const uint64_t total = Sha256PaddedLength(n);
  if (total >= kShaBufferSize) {
    LogPrint(out, "    BinFile Size Error 2\n");
    return 0;
  }
  Pad(buffer.get(), n, total);
  LogPrint(out, "    Modified Length = 0x%X\n", static_cast<uint32_t>(total));
  PrintBuffer(dev, buffer.get(), total);
  const uint32_t result = HashPadded(dev, buffer.get(), total, digest, false, false);
  if (result != 1) return result;
  LogPrint(out, "SHA Result");
  HexDump(out, digest, 32);
  return result;
}

uint32_t CallSha256Set(Device& dev, const uint8_t* payload, uint32_t length, bool print) {
  return Command(dev, scy::kSha256Set, payload, length, 8, print, "    Call_SHA256-Set\n",
                 "    Set_Address_Error!!\n", "    Call_SHA256_Set_FAIL\n");
}

uint32_t CallSha256Exe(Device& dev, const uint8_t* payload, uint32_t length, bool print) {
  return Command(dev, scy::kSha256Exe, payload, length, 8, print, "    Call_SHA256-Exe\n",
                 "    Exe_Address_Error!!\n", "    Call_SHA256_Exe_FAIL\n");
}

uint32_t CallEcdsaSign(Device& dev, const uint8_t* payload, uint32_t length, bool print) {
  return Command(dev, scy::kEcdsaSign, payload, length, 32, print, "    Call_ECDSA-Sign\n",
                 "    Sign_Length_Error!!\n", "    Call_ECDSA_Sign_FAIL\n");
}

uint32_t CallEcdsaVerify(Device& dev, const uint8_t* payload, uint32_t length, bool print) {
  return Command(dev, scy::kEcdsaVerify, payload, length, 32, print, "    Call_ECDSA-Verify\n",
                 "    Sign_Length_Error!!\n ", "    Call_ECDSA_Verify_FAIL\n");
}

uint32_t CallShaChallenge(Device& dev, const uint8_t* payload, uint32_t length, bool print) {
  return Command(dev, scy::kShaChallenge, payload, length, 32, print, "\tCall-SHA_Challenge\n",
                 "\tSign_Length_Error!!\n", "  Call-SHA_Challenge_FAIL\n");
}

uint32_t CallScyUpdate(Device& dev, const uint8_t* payload, uint32_t length, bool print) {
  return Command(dev, scy::kScyUpdate, payload, length, 32, print, "\tCall-SCY_Update\n",
                 "\tSign_Length_Error!!\n", "  Call-SCY_Update_FAIL\n");
}

}  // namespace pdflash
