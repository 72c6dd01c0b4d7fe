#include "flash/verified.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "flash/parts.h"
#include "flash/spi.h"

namespace pdflash {

namespace {

constexpr uint32_t kChunk = 64;
constexpr uint32_t kEraseCheck = 32;
constexpr uint32_t kProgressStep = 0x1000;

std::unique_ptr<uint8_t[]> Allocate(uint32_t size) {
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[size]);
}

uint32_t EraseFailed(Output& out) {
  LogPrint(out, "\n=======================\n");
  LogPrint(out, "=   SeRdCmp_FAIL.   =\n");
  LogPrint(out, "=======================\n\n");
  return 0;
}

uint32_t WriteFailed(Output& out) {
  LogPrint(out, "\n=======================\n");
  LogPrint(out, "=    WrRdCmp_FAIL.    =\n");
  LogPrint(out, "=======================\n\n");
  return 0;
}

}  // namespace

uint32_t VerifiedSectorErase(Device& dev, uint8_t row, uint32_t address, uint8_t verbose) {
  auto buffer = Allocate(0x1000);
  if (!buffer) return 0;
  const FlashPart& cmd = FlashRow(row);
  if (!SpiCommand(dev, cmd.WriteEnable)) return EraseFailed(dev.out);
  if (!SpiSectorErase(dev, cmd.SectorErase, address)) return EraseFailed(dev.out);
  if (!SpiWaitReady(dev, cmd.ReadStatus, true)) {
    LogPrint(dev.out, "SeRdCmp_Wait_Fail\n");
    return EraseFailed(dev.out);
  }
  if (!SpiReadData(dev, cmd.Read, address, 0, kEraseCheck, buffer.get())) {
    LogPrint(dev.out, "SeRdCmp_Rd_Error\n");
    return EraseFailed(dev.out);
  }
  // The sector start is enough to tell a refused erase from a done one.
  for (uint32_t i = 0; i < kEraseCheck; ++i) {
    if (buffer[i] != 0xFF) {
      LogPrint(dev.out, "  Compare_Data_Error_at_%06X, Tx_%02X != Rx_%02X\n", address + i, 0xFF,
               buffer[i]);
      LogPrint(dev.out, "SeRdCmp_Cmp_Error\n");
      return EraseFailed(dev.out);
    }
  }
  if (verbose) LogPrint(dev.out, "    =   SeRdCmp_PASS.   =\n");
  return 1;
}

uint32_t VerifiedWrite(Device& dev, uint8_t row, uint32_t address, uint32_t offset, uint32_t length,
                       const uint8_t* buffer, uint8_t verbose) {
  if (length > kMaxVerifiedWrite) {
    LogPrint(dev.out, "WrRdCmp_Length_Over.\n");
    return 0;
  }
  auto readback = Allocate(std::max<uint32_t>(length, 1));
  if (!readback) return WriteFailed(dev.out);
  const FlashPart& cmd = FlashRow(row);
  const uint8_t* src = buffer + offset;

  for (uint32_t done = 0; done < length;) {
    const uint32_t c = std::min(kChunk, length - done);
    if (!SpiCommand(dev, cmd.WriteEnable)) return WriteFailed(dev.out);
    const uint32_t written = SpiWriteData(dev, cmd.PageProgram, address + done, offset + done,
                                          static_cast<uint16_t>(c), buffer);
    const uint32_t ready = SpiWaitReady(dev, cmd.ReadStatus, false);
    if (done % kProgressStep == 0 && verbose) {
      // The tail of a short write has fewer than four bytes to show.
      uint8_t head[4] = {};
      std::memcpy(head, src + done, std::min<uint32_t>(4, length - done));
      LogPrint(dev.out, "    TxDataBuf[0x%06X]: %02X,%02X,%02X,%02X\n", address + done, head[0],
               head[1], head[2], head[3]);
    }
    if (!written) {
      LogPrint(dev.out, "WrRdCmp_Wr_Error\n");
      return WriteFailed(dev.out);
    }
    if (!ready) {
      LogPrint(dev.out, "WrRdCmp_Wt_Error\n");
      return WriteFailed(dev.out);
    }
    done += c;
    if (done % kProgressStep == 0) LogPrint(dev.out, "\r    Writing...%02d%%", done * 100 / length);
  }
  LogPrint(dev.out, "%s", kWipeLine);

  std::memset(readback.get(), 0xFF, length);
  for (uint32_t done = 0; done < length;) {
    const uint32_t c = std::min(kChunk, length - done);
    if (!SpiReadData(dev, cmd.Read, address + done, done, static_cast<uint16_t>(c),
                     readback.get())) {
      LogPrint(dev.out, "WrRdCmp_Rd_Error\n");
      return WriteFailed(dev.out);
    }
    done += c;
    if (done % kProgressStep == 0)
      LogPrint(dev.out, "\r    Checking...%02d%%", done * 100 / length);
  }
  LogPrint(dev.out, "%s", kWipeLine);

  // Every differing 4 KiB boundary is reported so a bad region shows its extent.
  bool same = length > 0;
  for (uint32_t i = 0; i < length; ++i) {
    if (src[i] == readback[i]) continue;
    if (same || i % kProgressStep == 0)
      LogPrint(dev.out, "  Compare_Error_at_SPI_%06X, Tx_%02X != Rx_%02X\n", address + i, src[i],
               readback[i]);
    same = false;
  }
  if (!same) {
    LogPrint(dev.out, "WrRdCmp_Cmp_Error\n");
    return WriteFailed(dev.out);
  }
  if (verbose) LogPrint(dev.out, "    =    WrRdCmp_PASS.    =\n");
  return 1;
}

namespace {

bool Distinctive(const uint8_t* b) {
  return b[0] != 0 && b[0] != 0xFF && b[1] != 0 && b[1] != 0xFF && b[2] != 0 && b[2] != 0xFF;
}

uint32_t DetectFlashSize(Device& dev, const RunSettings& s, uint8_t* head) {
  if (head[0] == 0xFF && head[1] == 0xFF && head[2] == 0xFF && head[3] == 0xFF) {
    // A blank start cannot mirror anything; give it a marker first.
    LogPrint(dev.out, "    Write_TEST_For_Check_Size.\n");
    static constexpr uint8_t kMarker[4] = {'T', 'E', 'S', 'T'};
    WriteFlashStatus(dev, s, 0, 0, 0);
    VerifiedWrite(dev, 0, 0, 0, sizeof kMarker, kMarker, 0);
    if (!SpiReadData(dev, 0x03, 0, 0, 4, head)) {
      LogPrint(dev.out, "    ChkSize_Read_Fail.\n");
      return 0;
    }
  }
  LogPrint(dev.out, "    SPI[0x000000] = %02X,%02X,%02X,%02X, (0 KByte)\n", head[0], head[1],
           head[2], head[3]);
  uint32_t size_kb = 0;
  for (uint32_t k = 0; k < 8; ++k) {
    const uint32_t p = 0x10000u << k;
    uint8_t b[4] = {};
    SpiReadData(dev, 0x03, p, 0, 4, b);
    if (p == 0x10000)
      LogPrint(dev.out, "    SPI[0x%06X] = %02X,%02X,%02X,%02X, (%d KByte, %d Kbit)\n", p, b[0],
               b[1], b[2], b[3], p >> 10, p >> 7);
    else if (p < 0x100000)
      LogPrint(dev.out, "    SPI[0x%06X] = %02X,%02X,%02X,%02X, (%d KByte, %d Mbit)\n", p, b[0],
               b[1], b[2], b[3], p >> 10, p >> 17);
    else
      LogPrint(dev.out, "    SPI[0x%06X] = %02X,%02X,%02X,%02X, (%d MByte, %d Mbit)\n", p, b[0],
               b[1], b[2], b[3], p >> 20, p >> 17);
    if (size_kb == 0 && Distinctive(head) && b[0] == head[0] && b[1] == head[1] && b[2] == head[2])
      size_kb = p >> 10;
  }
  if (size_kb == 0) return 0;
  if (size_kb < 1024)
    LogPrint(dev.out, "    FlashSize_%d KByte\n", size_kb);
  else
    LogPrint(dev.out, "    FlashSize_%d MByte\n", size_kb >> 10);
  return 0;
}

}  // namespace

uint32_t CheckFlashSize(Device& dev, const RunSettings& s, uint32_t size, uint32_t base,
                        uint8_t verbose) {
  uint8_t b[4] = {};
  if (!SpiReadData(dev, 0x03, base, 0, 4, b)) {
    LogPrint(dev.out, "    ChkSize_Read_Fail.\n");
    return 0;
  }
  if (size == 0) return DetectFlashSize(dev, s, b);

  if (verbose)
    LogPrint(dev.out, "    SPI_%X = %02X,%02X,%02X,%02X\n", base, b[0], b[1], b[2], b[3]);
  uint32_t result = 1;
  if (Distinctive(b)) {
    // A smaller part wraps addresses, so B + S/2 would show the data at B.
    const uint32_t half = base + size / 2;
    uint8_t c[4] = {};
    if (!SpiReadData(dev, 0x03, half, 0, 4, c)) {
      LogPrint(dev.out, "    ChkSize_Read_Fail.\n");
      return 0;
    }
    if (verbose)
      LogPrint(dev.out, "\t SPI_%X = %02X,%02X,%02X,%02X\n", half, c[0], c[1], c[2], c[3]);
    result = (b[0] != c[0] || b[1] != c[1] || b[2] != c[2]) ? 1 : 0;
  } else {
    LogPrint(dev.out, "    ChkSize_Data_All_%02X.\n", b[0]);
  }
  if (verbose) {
    if (result)
      LogPrint(dev.out, "    FlashSize_%X_OK\n", size);
    else
      LogPrint(dev.out, "    FlashSize_%X_NG\n", size);
  }
  return result;
}

}  // namespace pdflash
