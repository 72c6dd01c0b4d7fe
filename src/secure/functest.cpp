#include "secure/functest.h"

#include <bit>
#include <cstring>

#include "device/challenge.h"
#include "device/engine.h"
#include "device/mode.h"
#include "device/registers.h"
#include "flash/spi.h"
#include "flash/verified.h"
#include "image/checksum.h"
#include "image/ecdsa_image.h"
#include "ops/pd_backup.h"
#include "secure/base64_files.h"
#include "secure/ecdsa.h"

namespace pdflash {

namespace {

uint16_t HostToNet(uint16_t v) {
  if constexpr (std::endian::native == std::endian::little)
    return static_cast<uint16_t>((v << 8) | (v >> 8));
  return v;
}

// The same checksum computed twice: over the bytes, and over the header read
// as network-order words.
uint32_t Ipv4Test(Tool& t) {
  LogPrint(t.out, "---------- IPV4_Test ----------\n");
  const uint8_t header[20] = {0x45, 0x00, 0x00, 0x1C, 0x74, 0x68, 0x00, 0x00, 0x80, 0x11,
                              0x00, 0x00, 0xC0, 0xA8, 0x00, 0x01, 0xC0, 0xA8, 0x00, 0xC7};
  LogPrint(t.out, "    Test_a: 0x%X\n", CheckSum16(t.out, header, sizeof header));
  uint32_t sum = 0;
  for (size_t i = 0; i < sizeof header; i += 2) {
    uint16_t word;
    std::memcpy(&word, header + i, 2);
    sum += HostToNet(word);
  }
  if (t.set.DbgMsg) LogPrint(t.out, "    Temp1    CheckSum = 0x%X\n", sum);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  const uint32_t result = ~sum & 0xFFFF;
  if (t.set.DbgMsg) {
    LogPrint(t.out, "    Temp2    CheckSum = 0x%X\n", sum);
    LogPrint(t.out, "    Final    CheckSum = 0x%X\n", result);
  }
  LogPrint(t.out, "    Test_b: 0x%X\n\n", result);
  return 1;
}

uint32_t SelectSpiPort(Tool& t, Device& dev, uint8_t number) {
  LogPrint(t.out, "    ZIRUR_2nd_SPI_Test, Function: 0x%02X\n", number);
  const uint8_t second = number == 0x81 ? 1 : 0;
  LogPrint(t.out, second ? "    Select_2nd_SPI\n" : "    Select_1st_SPI\n");
  return dev.WriteRegister(reg::kSpiPortSelect, second, t.set.DbgMsg != 0);
}

uint32_t ReadThreeAddresses(Tool& t, Device& dev, uint8_t number) {
  LogPrint(t.out, "    ZIRUR_2nd_SPI_Test, Function: 0x%02X\n", number);
  uint32_t result = 0;
  for (uint32_t address : {0x000000u, 0x002111u, 0x021003u}) {
    uint8_t b[4] = {};
    result = SpiReadData(dev, 0x03, address, 0, 4, b);
    LogPrint(t.out, "\t Read_Addr_0x%06X = %02X,%02X,%02X,%02X\n", address, b[0], b[1], b[2], b[3]);
  }
  return result;
}

// The firmware hashes the region 0x020000-0x02C800 of the flash.
uint32_t HwShaTest(Tool& t, Device& dev, uint8_t number) {
  const uint8_t region[8] = {0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0xC8, 0x00};
  const bool dbg = t.set.DbgMsg != 0;
  if (number == 0x87) {
    LogPrint(t.out, "## ZIRUR_HW_SHA256_Set ##\n");
    return CallSha256Set(dev, region, sizeof region, dbg);
  }
  LogPrint(t.out, "## ZIRUR_HW_SHA256_EXE ##\n");
  CallSha256Exe(dev, region, sizeof region, dbg);
  for (int i = 0; i < 10; ++i) {
    t.clock.SleepMs(1000);
    uint8_t v = 0;
    if (dev.ReadRegister(reg::kShaControl, v, dbg) == 1 && (v & 0x04)) break;
  }
  uint8_t digest[32] = {};
  const uint32_t result = dev.ReadRegisterBlock(reg::kShaDigest, digest, 32, dbg);
  LogPrint(t.out, "SHA Result");
  HexDump(t.out, digest, 32);
  return result;
}

uint32_t HwVerifyTest(Tool& t, Device& dev, const uint8_t* descriptor) {
  const bool dbg = t.set.DbgMsg != 0;
  LogPrint(t.out, "## ZIRUR_HW_ECDSA_VERIFY_EXE ##\n");
  CallSha256Set(dev, descriptor, 8, dbg);
  CallEcdsaVerify(dev, descriptor, 32, dbg);
  uint8_t v = 0;
  uint32_t read = 0;
  for (int i = 0; i < 10; ++i) {
    t.clock.SleepMs(1000);
    read = dev.ReadRegister(reg::kFwVerifyStatus, v, dbg);
    if (read == 1 && v != 0) break;
  }
  if (v != 0)
    LogPrint(t.out, (v & 1) ? "    HW_ECDSA_VERIFY_SUCCESS.\n" : "    HW_ECDSA_VERIFY_Fail_%02X.\n", v);
  // No verdict counts as a failure too: the values show how far it got.
  if (read == 1 && (v & 1)) return 1;
  const struct {
    uint16_t at;
    const char* label;
  } windows[] = {{reg::kShaDigest, "      SHA"},  {0x2DA0, "    SIG_R"}, {0x2DC0, "    SIG_S"},
                 {0x2DE0, "    Pub_X"},         {0x2E00, "    Pub_Y"}, {0x2E20, "        W"},
                 {0x2E40, "       U1"},         {0x2E60, "       U2"}, {0x2E80, "       Qx"},
                 {0x2EA0, "       Qy"}};
  for (const auto& w : windows) {
    uint8_t b[32] = {};
    if (dev.ReadRegisterBlock(w.at, b, 32, false) != 1) continue;
    LogPrint(t.out, "%s", w.label);
    HexDump(t.out, b, 32);
  }
  return 0;
}

uint32_t HwInstallTest(Tool& t, Device& dev, const uint8_t* descriptor) {
  LogPrint(t.out, "## ZIRUR_SCY_UPD_TEST_EXE ##\n");
  uint8_t v = 0;
  uint32_t read = dev.ReadRegister(reg::kScyState, v, true);
  if (v >= 0x01 && v <= 0x7F) {
    LogPrint(t.out, "    SCY_UPD_FSM_Busy.\n");
    return 0;
  }
  CallScyUpdate(dev, descriptor, 32, t.set.DbgMsg != 0);
  for (int i = 0; i < 100; ++i) {
    t.clock.SleepMs(3000);
    read = dev.ReadRegister(reg::kScyState, v, true);
    if (read == 1 && (v & 0x80)) break;
  }
  return read;
}

uint32_t HwScyTest(Tool& t, Device& dev, uint8_t number) {
  const uint32_t start = TimeOfDaySeconds(t.out);
  uint8_t descriptor[32];
  EcdsaRegionDescriptor(kEcdsaDataFlash, 0x6F000, kEcdsaSignatureFlash, descriptor);
  uint32_t result = 0;
  if (number == 0x89)
    LogPrint(t.out, "## ZIRUR_HW_ECDSA_SIGN_EXE ##\n");
  else if (number == 0x8A)
    result = HwVerifyTest(t, dev, descriptor);
  else
    result = HwInstallTest(t, dev, descriptor);
  PrintUseTime(t.out, start);
  return result;
}

}  // namespace

uint32_t RunFunctionTest(Tool& t, Device* link, uint8_t number) {
  LogPrint(t.out, "Function_Test_0x%02X\n", number);
  switch (number) {
    case 0x01:
      return TextFileToBase64(t);
    case 0x02:
      return Base64FileToText(t);
    case 0x03:
      return Ipv4Test(t);
    case 0x04:
      return CoefficientTest(t.out, t.exe_dir, 3);
    default:
      break;
  }
  if (link != nullptr && number >= 0x80) {
    Device& dev = *link;
    switch (number) {
      case 0x80:
      case 0x81:
        return SelectSpiPort(t, dev, number);
      case 0x82:
        return ReadThreeAddresses(t, dev, number);
      case 0x86:
        return PdFlashDump2(t, dev, 1, 4, 0);
      case 0x90:
        return WriteFlashStatus(dev, t.set, 0, 0x00, 1);
      case 0x91:
        return CheckFlashSize(dev, t.set, 0, 0, 1);
      case 0x92:
        return MathChallenge(dev, t.exe_dir, t.set.NeedMathChallenge, t.set.DbgMsg);
      case 0x83: {
        uint8_t digest[32] = {};
        return Sha256FromBinFile(dev, HashFile{t.cwd, t.set.HashFilePath}, digest);
      }
      case 0x84:
        return CreateEcdsaImage(t, dev, 1);
      case 0x85:
        return DownloadEcdsaImage(t, dev, 1, 0);
      case 0x87:
      case 0x88:
        return HwShaTest(t, dev, number);
      case 0x89:
      case 0x8A:
      case 0x8B:
        return HwScyTest(t, dev, number);
      case 0x8C:
        return EraseScyZone(t, dev, 1, 0);
      case 0x8D:
        return UpdateEcdsaImage(t, dev, 1, 0);
      default:
        break;
    }
  }
  LogPrint(t.out, "dev_handle = %X\n", link && link->IsOpen() ? 1u : 0u);
  return 0;
}

}  // namespace pdflash
