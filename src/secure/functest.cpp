#include "secure/functest.h"

#include <bit>
#include <cstring>

#include "device/challenge.h"
#include "device/mode.h"
#include "device/registers.h"
#include "flash/spi.h"
#include "flash/verified.h"
#include "image/checksum.h"
#include "ops/pd_backup.h"
#include "ops/unavailable.h"
#include "secure/base64_files.h"

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
      case 0x83:
      case 0x84:
      case 0x85:
      case 0x87:
      case 0x88:
      case 0x89:
      case 0x8A:
      case 0x8B:
      case 0x8C:
      case 0x8D:
        return NotAvailable(t, "Security_IC_Test");
      default:
        break;
    }
  }
  LogPrint(t.out, "dev_handle = %X\n", link && link->IsOpen() ? 1u : 0u);
  return 0;
}

}  // namespace pdflash
