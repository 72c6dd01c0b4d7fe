#include "image/hub_image.h"

#include <cstring>

#include "core/bytes.h"
#include "image/checksum.h"

namespace pdflash {

namespace {

void DumpHeader(Output& out, const char* label, const uint8_t* header) {
  LogPrint(out, "%s", label);
  HexDump(out, header, kHubHeaderSize);
}

}  // namespace

bool KnownHubChip(uint8_t code) {
  switch (code) {
    case 0x18:
    case 0x38:
    case 0x45:
    case 0x66:
    case 0x8C:
    case 0x90:
    case 0x95:
    case 0x98:
      return true;
    default:
      return false;
  }
}

HubVersionPointer HubFileVersionPointer(uint8_t chip) {
  // The image starts at 0x2000 of the file; the last family keeps a code
  // address, 0x1DFFC above the file offset.
  switch (chip) {
    case 0x18:
    case 0x95:
      return {0x8018, 2, 0x200D};
    case 0x38:
    case 0x45:
    case 0x90:
      return {0x8000, 2, 0x2004};
    default:  // 0x66, 0x8C, 0x98
      return {0x3F80, 3, 0u - 0x1DFFCu};
  }
}

uint32_t HubVersionPosition(const HubVersionPointer& rule, const uint8_t* pointer) {
  const uint32_t value = rule.bytes == 3 ? Le24(pointer) : Be16(pointer);
  return value + rule.add;
}

bool HubHeaderValid(Output& out, const uint8_t* header, uint8_t print) {
  return GetCrc8(out, header, kHubHeaderSize - 1, print) == header[kHubHeaderSize - 1] &&
         header[0] != 0x00;
}

HubFirmwareSpan HubHeaderFirmware(const uint8_t* h) {
  return {uint32_t{h[0x0C]} << 16 | uint32_t{h[0x04]} << 8 | h[0x05],
          uint32_t{h[0x0D]} << 16 | uint32_t{h[0x06]} << 8 | h[0x07]};
}

HubImageVersion FindHubImageVersion(std::span<const uint8_t> image, uint8_t chip,
                                    uint8_t header_byte2) {
  HubImageVersion v{HubImageVersionStatus::UnsupportedChip, 0, 0, 0, 0};
  // Inside the image the pointers sit 0x2000 lower than in a file; 0x8C and
  // 0x98 images are not read from the flash.
  HubVersionPointer rule{};
  switch (chip) {
    case 0x18:
    case 0x95:
      rule = {0x6018, 2, 0x0D};
      break;
    case 0x38:
    case 0x45:
    case 0x90:
      rule = {0x6000, 2, 0x04};
      break;
    case 0x66:
      rule = {0x1F80, 3, 0u - 0x1FFFCu};
      break;
    default:
      return v;
  }
  v.status = HubImageVersionStatus::OutsideImage;
  if (image.size() < rule.at + rule.bytes) return v;
  const uint32_t p = HubVersionPosition(rule, image.data() + rule.at);
  v.position = p;
  if (p < 4 || p > image.size() || image.size() - p < 2) return v;
  v.status = HubImageVersionStatus::Ok;
  // The flash reader adds the nibble: a carry reaches the high byte.
  v.version = uint32_t{Le16(image.data() + p)} + (header_byte2 >> 4);
  v.vid = Le16(image.data() + p - 4);
  v.pid = Le16(image.data() + p - 2);
  return v;
}

bool AddHubHeader2(Output& out, uint8_t* image, std::span<const CopyEntry> copies) {
  uint8_t* hd1 = image;
  if (hd1[0] != kHubMarker) {
    LogPrint(out, "        Chk:Data[0]_Not_0x05, Not Hub.\n");
    return false;
  }
  if (GetCrc8(out, hd1, 0x1F, out.set.DbgMsg) != hd1[0x1F]) {
    LogPrint(out, "        Chk:Data[0x20-1]_Not_Crc8.\n");
    return false;
  }
  // Header 2 goes where the image must still be blank.
  for (uint32_t i = kHubHeader2; i < kHubHeader2 + kHubHeaderSize; ++i) {
    if (image[i] != 0xFF) {
      LogPrint(out, "\t     Chk:Data[0x%X]_Is_%02X.\n", i, image[i]);
      return false;
    }
  }
  LogPrint(out, "        Add Hub_Header2_To_Buffer\n");
  if (out.set.DbgMsg) DumpHeader(out, "        OLD_HD1[0000]", hd1);

  hd1[0x1D] = kHubHeader2 / kHubHeaderSize;
  hd1[0x1F] = GetCrc8(out, hd1, 0x1F, out.set.DbgMsg);
  if (out.set.DbgMsg) DumpHeader(out, "        NEW_HD1[0000]", hd1);

  // Header 2: firmware 2 at 0x010000 (0x060000 for chip 0x66), same length.
  uint8_t* hd2 = image + kHubHeader2;
  std::memcpy(hd2, hd1, kHubHeaderSize);
  hd2[0x0C] = hd1[1] == 0x66 ? 0x06 : 0x01;
  hd2[0x04] = 0x00;
  hd2[0x05] = 0x00;
  hd2[0x1C] = 0x00;
  hd2[0x1D] = 0xFF;
  hd2[0x1F] = GetCrc8(out, hd2, 0x1F, out.set.DbgMsg);
  if (out.set.DbgMsg) DumpHeader(out, "        NEW_HD2[1000]", hd2);

  std::memcpy(image + kHubBackupHeader1, hd1, kHubHeaderSize);
  if (out.set.DbgMsg) DumpHeader(out, "        BUP_HD1[1800]", image + kHubBackupHeader1);

  if (hd1[1] == 0x66) LogPrint(out, "        Hub_KMHA, FW2_at_0x060000\n");

  const uint32_t min_copy = Be16(hd1 + 6) + 12u;
  LogPrint(out, "        -----------------------------------\n");
  LogPrint(out, "        - Hub_CopyLength_Must_Over_0x%04X -\n", min_copy);
  LogPrint(out, "        -----------------------------------\n");
  for (const CopyEntry& c : copies) {
    if ((c.To == 0x2000 || c.To == 0x10000) && c.Len < min_copy) {
      LogPrint(out, "        ###################################\n");
      LogPrint(out, "        ###################################\n");
      LogPrint(out, "        # WARNING: Hub_Copy_Length_ERROR! #\n");
      LogPrint(out, "        # WARNING: Hub_Copy_Length_ERROR! #\n");
      LogPrint(out, "        # WARNING: Hub_Copy_Length_ERROR! #\n");
      LogPrint(out, "        ###################################\n");
      LogPrint(out, "        ###################################\n");
    }
  }
  return true;
}

}  // namespace pdflash
