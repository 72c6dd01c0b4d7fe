#include <cstring>
#include <vector>

#include "core/files.h"
#include "core/output.h"
#include "device/controller.h"
#include "device/engine.h"
#include "image/ecdsa_image.h"
#include "image/hub_image.h"
#include "secure/ecdsa.h"

namespace pdflash {

namespace {

#include "secure/key_sets.inc"

constexpr uint32_t kCustomerSolk = 18;
// Room behind the data for the hub-header step, which reads a whole header area.
constexpr uint32_t kSlack = 0x2000;

// Fills the header; its result is the public-key hash's.
uint32_t BuildEcdsaHeader(Tool& t, Device& dev, uint32_t length, const uint8_t* digest,
                          const uint8_t* d, const uint8_t* r, const uint8_t* s,
                          const std::vector<EcdsaBlock>& blocks, uint8_t* out) {
  std::vector<uint8_t> h(kEcdsaHeaderSize, 0);
  StartEcdsaHeader(h.data(), length, t.clock.Local(), r, s);
  // The public key once more, straight on the engine; zeros if it will not answer.
  uint8_t x[32] = {}, y[32] = {};
  if (EccEngineInit(dev, false) == 1) {
    dev.WriteRegisterBlock(reg::kEccA, kP256G, 32, false);
    dev.WriteRegisterBlock(reg::kEccB, kP256G + 32, 32, false);
    dev.WriteRegisterBlock(reg::kEccC, d, 32, false);
    dev.WriteRegister(reg::kEccCommand, 1, false);
    bool ready = false;
    for (int i = 0; i < 1000 && !ready; ++i) {
      uint8_t v = 0;
      ready = dev.ReadRegister(reg::kEccStatus, v, false) == 1 && (v & 1);
    }
    if (ready) {
      dev.ReadRegisterBlock(reg::kEccResultX, x, 32, false);
      dev.ReadRegisterBlock(reg::kEccResultY, y, 32, false);
    } else {
      LogPrint(t.out, "## ECC_Mult_TOUT ##\n");
    }
  }
  std::memcpy(&h[ecdsa::kPublicKey], x, 32);
  std::memcpy(&h[ecdsa::kPublicKey + 32], y, 32);
  std::memcpy(&h[ecdsa::kDataDigest], digest, 32);
  const uint32_t result =
      Sha256FromBuffer(dev, &h[ecdsa::kPublicKey], 512, &h[ecdsa::kKeyDigest], false);

  LogPrint(t.out, "\n    ----- Source_FW_Info. -----\n");
  for (size_t i = 0; i < blocks.size(); ++i) {
    const EcdsaBlock& b = blocks[i];
    LogPrint(t.out, "    FW[%d]: %s\n", static_cast<int>(i), t.Sign[i].Bin.c_str());
    LogPrint(t.out, "           SPI_0x%06X ~ 0x%06X, Length=0x%06X, Ver=0x%X\n", b.start,
             b.start + b.length, b.length, t.Sign[i].BinVersion);
    PutEcdsaEntry(&h[ecdsa::kFirmwareTable + 16 * i], b.start, t.Sign[i].BinVersion, b.length);
  }
  LogPrint(t.out, "\n    ----- Copy_FW_Setting -----\n");
  for (size_t j = 0; j < t.Copy.size(); ++j) {
    const CopyEntry& c = t.Copy[j];
    if (c.Len == 0) continue;
    PutEcdsaEntry(&h[ecdsa::kCopyTable + 16 * j], c.From, c.To, c.Len);
    LogPrint(t.out, "    Copy[%d]: From_0x%06X_To_0x%08X, Length=0x%06X", static_cast<int>(j),
             c.From, c.To, c.Len);
    const CopyJudgement v = JudgeCopySource(c.From, c.Len, blocks);
    if (v.below_first) LogPrint(t.out, " --> Error_[0].\n");
    if (!v.found)
      LogPrint(t.out, " --> Error_[%d].\n", t.set.SignDeviceCnt);
    else if (v.overlaps)
      LogPrint(t.out, " --> Overlape. (FW[%d]).\n", v.block);
    else
      LogPrint(t.out, " --> OK. (FW[%d]).\n", v.block);
  }
  std::memcpy(out, h.data(), kEcdsaHeaderSize);
  return result;
}

}  // namespace

const uint8_t* SigningKey(const Tool& t) {
  return t.build.CustomerCode == kCustomerSolk ? kCustomerKey : kDefaultKey;
}

bool DevelopmentKeys() {
  return kDevelopmentKeySet;
}

uint32_t CreateEcdsaImage(Tool& t, Device& dev, uint8_t mode) {
  Output& out = t.out;
  const RunSettings& s = t.set;
  LogPrint(out, "    ZIRUR-Create_ECDSA_Image_From_FW, Mode: 0x%02X\n", mode);
  auto data = NewBuffer(kEcdsaMaxData + kSlack, 0);
  auto header = NewBuffer(kEcdsaHeaderSize, 0);
  if (!data || !header) return 0;
  LogPrint(out, t.build.CustomerCode == kCustomerSolk ? "\n##### ZE-SOLK KEY #####\n\n"
                                                      : "\n##### DEFAULT KEY #####\n\n");
  const uint8_t* d = SigningKey(t);
  if (!ChipHasSecurityIc(t.Pd[1].ChipCode())) {
    LogPrint(out, "Protection : Not_ZIRUR_Chip.\n");
    return 0;
  }
  if (s.SignDeviceCnt >= 6) {
    LogPrint(out, "    Total_Sign_Device_Over\n");
    return 0;
  }
  std::vector<EcdsaBlock> blocks;
  uint32_t o = 0;
  for (int i = 0; i < s.SignDeviceCnt; ++i) {
    FilePtr f(t.Open(t.Sign[i].Bin, "rb"));
    if (!f) {
      LogPrint(out, "    Sign [%d] Bin Open Error\n", i);
      return 0;
    }
    const int64_t size = FileLength(f.get());
    const uint32_t n = size < 0 ? 0 : static_cast<uint32_t>(size);
    LogPrint(out, "    FW_%d_Original_Length = 0x%X\n", i, n);
    if (size < 0 || uint64_t{o} + n > kEcdsaMaxData) {
      LogPrint(out, "    Sum_of_BinFile_Size_Over\n");
      return 0;
    }
    ReadFileAt(f.get(), 0, data.get() + o, n);
    AddHubHeader2(out, data.get() + o, t.Copy);
    const uint32_t rounded = RoundUp4K(n);
    if (rounded != n) LogPrint(out, "    FW_%d_Modified_Length = 0x%X\n", i, rounded);
    blocks.push_back({kEcdsaDataFlash + o, rounded});
    o += rounded;
  }
  const uint32_t length = o;
  uint8_t digest[32] = {}, k[32] = {}, r[32] = {}, sig_s[32] = {}, qx[32] = {}, qy[32] = {};
  const HashFile hash_file{t.cwd, s.HashFilePath};
  // Without the data's digest, signing would fall back on the hash file.
  const bool hashed =
      Sha256FromBuffer(dev, data.get(), uint64_t{length} * 8, digest, s.DbgMsg != 0) == 1;
  // The nonce stays empty: every signature draws a fresh one from the TRNG.
  const bool signed_ok =
      hashed && EcdsaSignP256(dev, hash_file, digest, d, k, r, sig_s, s.DbgMsg >= 2) == 1;
  std::memset(k, 0, sizeof k);
  EccPointMult(dev, kP256G, kP256G + 32, d, qx, qy, false);
  if (s.DbgMsg) {
    LogPrint(out, "    PUB_X");
    HexDump(out, qx, 32);
    LogPrint(out, "    PUB_Y");
    HexDump(out, qy, 32);
  }
  uint8_t q[64];
  std::memcpy(q, qx, 32);
  std::memcpy(q + 32, qy, 32);
  const bool verified = EcdsaVerifyP256(dev, hash_file, digest, q, r, sig_s, false) == 1;
  uint32_t result = BuildEcdsaHeader(t, dev, length, digest, d, r, sig_s, blocks, header.get());
  if (!signed_ok || !verified) result = 0;

  const LocalTime now = t.clock.Local();
  char name[64];
  FormatText(name, sizeof name, "ECDSAImg_%04d%02d%02d.bin", now.year, now.month, now.day);
  // A failed image must not replace a good one of the same day.
  StagedFile f(t.cwd, name);
  if (!f.Open()) {
    LogPrint(out, "  ECDSAImg_yyyymmdd.bin Open Error\n");
    return 0;
  }
  LogPrint(out, "    Output=%s, Size=%dKB\n", name, static_cast<int>((length + 4096) / 1024));
  f.Write(header.get(), kEcdsaHeaderSize);
  f.Write(data.get(), length);
  return PlaceOutput(out, f, result == 1) ? result : 0;
}

}  // namespace pdflash
