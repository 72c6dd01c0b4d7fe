#include "ops/hub.h"

#include <algorithm>
#include <span>
#include <vector>

#include "core/files.h"
#include "flash/spi.h"
#include "image/checksum.h"
#include "image/hub_image.h"

namespace pdflash {

namespace {

uint32_t HubFileVersionPosition(FILE* f, uint8_t chip) {
  const HubVersionPointer rule = HubFileVersionPointer(chip);
  uint8_t ptr[3];
  ReadFileAt(f, rule.at, ptr, rule.bytes);
  return HubVersionPosition(rule, ptr);
}

}  // namespace

uint32_t GetHubBinVersion(Tool& t, uint8_t h, bool* accepted) {
  if (accepted) *accepted = false;
  const uint8_t index = h & 0x0F;
  if (index == 0 || index >= t.Hub.size()) {
    LogPrint(t.out, "Illegal Parameter %X\n", h);
    return 0;
  }
  DeviceRecord& r = t.Hub[index];
  FilePtr f(t.Open(r.BinPath, "rb"));
  uint8_t head[3];
  ReadFileAt(f.get(), 0, head, sizeof head);
  r.BinVersion = 0;
  uint8_t low = 0, high = 0, nibble_byte = 0;
  if (head[0] == kHubMarker && KnownHubChip(head[1])) {
    const uint32_t p = HubFileVersionPosition(f.get(), head[1]);
    uint8_t v[2];
    if (ReadFileAt(f.get(), p, v, sizeof v) == sizeof v && accepted) *accepted = true;
    low = v[0];
    high = v[1];
    nibble_byte = head[2];
  } else {
    LogPrint(t.out, "    Hub Bin is %02X %02X\n", head[0], head[1]);
  }
  // The file reader ORs the header nibble in; the flash reader adds it.
  r.BinVersion = static_cast<uint32_t>(high << 8) | static_cast<uint32_t>(nibble_byte >> 4) | low;
  LogPrint(t.out, "%s", kBoxLine);
  LogPrint(t.out, "=       Hub[%d] Bin Version is %04X      =\n", h, r.BinVersion);
  LogPrint(t.out, "%s", kBoxLine);
  return r.BinVersion;
}

namespace {

void PrintHeaderRead(Tool& t, const char* label, uint32_t at, const uint8_t* h) {
  LogPrint(t.out, label, at);
  LogPrint(t.out, " = %02X,%02X,%02X,%02X,%02X,%02X,%02X,%02X-%02X,%02X,%02X,%02X\n", h[0], h[1],
           h[2], h[3], h[4], h[5], h[6], h[7], h[0x1C], h[0x1D], h[0x1E], h[0x1F]);
}

enum class HubRead { Found, TryOther, Stop };

// Reads firmware n (1 or 2) of `header` and takes its version into record r.
HubRead ReadHubFirmware(Tool& t, Device& dev, uint8_t h, uint8_t n, const uint8_t* header,
                        std::vector<uint8_t>& image, uint8_t verbose) {
  const HubFirmwareSpan fw = HubHeaderFirmware(header);
  if (verbose) LogPrint(t.out, "    Read_Firmware%d_Adr_Len = 0x%X, 0x%X\n", n, fw.address, fw.length);
  // The length comes from the flash: never more than the buffer holds.
  if (fw.length > image.size()) {
    LogPrint(t.out, "Protection : Hub_FW%d_Length_0x%X_Over_0x%X.\n", n, fw.length,
             static_cast<uint32_t>(image.size()));
    return HubRead::TryOther;
  }
  for (uint32_t o = 0; o < fw.length; o += 32) {
    const auto piece = static_cast<uint16_t>(std::min<uint32_t>(32, fw.length - o));
    if (SpiReadData(dev, 0x03, fw.address + o, o, piece, image.data()) != 1) {
      LogPrint(t.out, "Protection : SPI_Check_Read_Fail.\n");
      return HubRead::Stop;
    }
  }
  if (CheckCrc32(t.out, image.data(), fw.length, verbose) != 1) return HubRead::TryOther;
  const HubImageVersion v =
      FindHubImageVersion(std::span(image.data(), fw.length), header[1], header[2]);
  if (v.status == HubImageVersionStatus::UnsupportedChip) {
    LogPrint(t.out, "Protection : Not_Support_Flash_Type.\n");
    return HubRead::Stop;
  }
  if (v.status == HubImageVersionStatus::OutsideImage) {
    LogPrint(t.out, "Protection : Hub_Version_At_0x%X_Outside_FW%d.\n", v.position, n);
    return HubRead::Stop;
  }
  DeviceRecord& r = t.Hub[h];
  r.FwVersion = v.version;
  r.CurVid = v.vid;
  r.CurPid = v.pid;
  LogPrint(t.out, "    Get_Hub_%d_SPI_FW%d_Version = %04X\n", h, n, v.version);
  return HubRead::Found;
}

}  // namespace

uint32_t GetHubSpiVersion(Tool& t, Device& dev, uint8_t h, uint8_t selector, uint8_t verbose) {
  LogPrint(t.out, "\n    Hub%d_Get_SPI%d_Version_Start...\n", h, selector);
  if (h == 0 || h >= t.Hub.size()) {
    LogPrint(t.out, "Illegal Parameter %X\n", h);
    return 0;
  }
  std::vector<uint8_t> image(kHubFlashImageMax, 0);
  uint8_t hd1[kHubHeaderSize] = {}, backup[kHubHeaderSize] = {}, hd2[kHubHeaderSize] = {};
  t.Hub[h].FwVersion = 0;

  const uint32_t shift = h == 2 && t.set.Hub1Hub2ShareSPI ? kHubSecondHubShift : 0;
  const uint32_t read = SpiReadData(dev, 0x03, shift, 0, kHubHeaderSize, hd1);
  if (verbose) PrintHeaderRead(t, "    SPI_0000", 0, hd1);
  if (read != 1) {
    LogPrint(t.out, "    SPI_Read_Failed\n");
    return 0;
  }
  const uint8_t* header1 = hd1;
  if (!HubHeaderValid(t.out, hd1, verbose)) {
    const uint32_t at = kHubBackupHeader1 + shift;
    SpiReadData(dev, 0x03, at, 0, kHubHeaderSize, backup);
    if (verbose) PrintHeaderRead(t, "    SPI_%04X", at, backup);
    if (!HubHeaderValid(t.out, backup, verbose)) {
      LogPrint(t.out, "HD1_Not_Found\n");
      return 0;
    }
    header1 = backup;
  }
  bool hd2_valid = false;
  if (header1[0x1D] != 0xFF) {
    if (verbose) LogPrint(t.out, "    HD2_Exist...\n");
    const uint32_t at = uint32_t{header1[0x1D]} * kHubHeaderSize;
    SpiReadData(dev, 0x03, at, 0, kHubHeaderSize, hd2);
    if (verbose) PrintHeaderRead(t, "    SPI_%04X", at, hd2);
    hd2_valid = HubHeaderValid(t.out, hd2, verbose);
  }
  if (selector != 1) {
    const HubRead fw2 =
        hd2_valid ? ReadHubFirmware(t, dev, h, 2, hd2, image, verbose) : HubRead::TryOther;
    if (fw2 == HubRead::Found) return 1;
    if (fw2 == HubRead::Stop || selector == 2) return 0;
  }
  return ReadHubFirmware(t, dev, h, 1, header1, image, verbose) == HubRead::Found ? 1 : 0;
}

}  // namespace pdflash
