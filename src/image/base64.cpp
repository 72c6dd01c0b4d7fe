#include "image/base64.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "app/log.h"
#include "image/file_bytes.h"

namespace pdflash {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

uint8_t SixBits(char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<uint8_t>(c - 'A');
  if (c >= 'a' && c <= 'z') return static_cast<uint8_t>(c - 'a' + 26);
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0' + 52);
  if (c == '+') return 62;
  if (c == '/') return 63;
  return 0;  // '=' and anything else
}

// Lines are read the way a 4096-byte fgets buffer reads them: at most 4095
// characters at a time.
constexpr int kLineBuffer = 4096;

// The printable ASCII prefix of a line: stops at the first byte that is a
// control character or not ASCII (as a signed char, below 0x20).
size_t PrintablePrefix(const char* line) {
  size_t n = 0;
  while (static_cast<signed char>(line[n]) >= 0x20) ++n;
  return n;
}

// "%s\n" of a text that may be longer than one message holds.
void PrintTextLine(Tool& t, const char* text, size_t len) {
  constexpr size_t kPiece = 400;
  for (size_t i = 0; i < len; i += kPiece) {
    const size_t n = len - i < kPiece ? len - i : kPiece;
    LogPrint(t, "%.*s", static_cast<int>(n), text + i);
  }
  LogPrint(t, "\n");
}

using LineWork = uint32_t (*)(Tool& t, const char* chars, uint32_t n);

uint32_t EncodeLine(Tool& t, const char* chars, uint32_t n) {
  // Sized per line: a line of more than 3072 bytes encodes to more than 4096 characters.
  std::string out(Base64EncodedLength(n), '\0');
  const uint32_t count = Base64Encode(reinterpret_cast<const uint8_t*>(chars), out.data(), n);
  PrintTextLine(t, out.data(), count);
  return count;
}

uint32_t DecodeLine(Tool& t, const char* chars, uint32_t n) {
  std::vector<uint8_t> out(Base64DecodedCapacity(n) + 1, 0);
  const uint32_t count = Base64Decode(chars, out.data(), n);
  // Printed as a C string: the bytes up to the first zero.
  PrintTextLine(t, reinterpret_cast<const char*>(out.data()),
                std::strlen(reinterpret_cast<const char*>(out.data())));
  return count;
}

uint32_t ProcessTextFile(Tool& t, const char* title, LineWork work) {
  LogPrint(t, "%s", title);
  LogPrint(t, "    Text File Path:  \"%s\"\n", t.set.TextFilePath.c_str());
  FilePtr f(t.Open(t.set.TextFilePath, "r"));
  if (!f) {
    LogPrint(t, "  Text File Open Error!\n");
    return 0;
  }
  std::vector<char> line(kLineBuffer, '\0');
  uint32_t total = 0;
  while (std::fgets(line.data(), kLineBuffer, f.get())) {
    const uint32_t n = static_cast<uint32_t>(PrintablePrefix(line.data()));
    LogPrint(t, "    Length = %d\n", static_cast<int>(n));
    if (n > 0) total += work(t, line.data(), n);
    std::fill(line.begin(), line.end(), '\0');
  }
  LogPrint(t, "    Final_Output_Length = %d\n", static_cast<int>(total));
  return 1;
}

}  // namespace

uint32_t Base64Encode(const uint8_t* input, char* output, uint32_t len) {
  if (len == 0 || input[0] == '-') return 0;
  uint32_t count = 0;
  for (uint32_t i = 0; i < len; i += 3) {
    const uint8_t b0 = input[i];
    const uint8_t b1 = i + 1 < len ? input[i + 1] : 0;
    const uint8_t b2 = i + 2 < len ? input[i + 2] : 0;
    output[count++] = kAlphabet[b0 >> 2];
    output[count++] = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
    output[count++] = kAlphabet[((b1 & 15) << 2) | (b2 >> 6)];
    output[count++] = kAlphabet[b2 & 63];
  }
  const uint32_t rest = len % 3;
  if (rest == 1) output[count - 2] = '=';
  if (rest != 0) output[count - 1] = '=';
  return count;
}

uint32_t Base64Decode(const char* input, uint8_t* output, uint32_t len) {
  if (len == 0) return 0;
  uint32_t count = 0;
  for (uint32_t i = 0; i < len; i += 4) {
    uint8_t s[4] = {0, 0, 0, 0};
    for (uint32_t k = 0; k < 4 && i + k < len; ++k) s[k] = SixBits(input[i + k]);
    output[count++] = static_cast<uint8_t>((s[0] << 2) | (s[1] >> 4));
    output[count++] = static_cast<uint8_t>((s[1] << 4) | (s[2] >> 2));
    output[count++] = static_cast<uint8_t>((s[2] << 6) | s[3]);
  }
  if (input[len - 1] == '=') --count;
  if (len >= 2 && input[len - 2] == '=') --count;
  return count;
}

uint32_t TextFileToBase64(Tool& t) {
  return ProcessTextFile(t, "    Text File To Base64 Encode:\n", EncodeLine);
}

uint32_t Base64FileToText(Tool& t) {
  return ProcessTextFile(t, "    Base64 File To Text Decode:\n", DecodeLine);
}

}  // namespace pdflash
