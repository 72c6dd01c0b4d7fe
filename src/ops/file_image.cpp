#include "ops/file_image.h"

#include <cstdio>

#include "app/log.h"
#include "core/bytes.h"
#include "image/checksum.h"

namespace pdflash {

FileRead ReadFirmwareFile(const Tool& t, const std::string& path, uint32_t capacity,
                          std::vector<uint8_t>& buffer, uint32_t& size) {
  buffer.assign(capacity, 0);
  size = 0;
  FILE* f = t.Open(path, "rb");
  if (!f) return FileRead::OpenFailed;
  std::fseek(f, 0, SEEK_END);
  const long length = std::ftell(f);
  std::fseek(f, 0, SEEK_SET);
  size = length < 0 ? 0 : static_cast<uint32_t>(length);
  if (length < 0 || static_cast<unsigned long>(length) > capacity) {
    std::fclose(f);
    return FileRead::TooLarge;
  }
  size = static_cast<uint32_t>(std::fread(buffer.data(), 1, size, f));
  std::fclose(f);
  return FileRead::Ok;
}

bool ImageCrcMatches(Tool& t, const std::vector<uint8_t>& image, uint32_t size) {
  const uint16_t crc = size >= 2 ? GetCrc16(image.data(), static_cast<int32_t>(size - 2)) : 0;
  if (size >= 2 && Le16(&image[size - 2]) == crc) return true;
  LogPrint(t, "Protection: Bin_CRC16=%04X\n", crc);
  return false;
}

}  // namespace pdflash
