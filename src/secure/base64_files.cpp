// The two line-by-line file procedures of the function tests: every line
// of the TextFilePath file is encoded to base64 or decoded from it and printed.
#include "secure/base64_files.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/files.h"
#include "image/base64.h"

namespace pdflash {

namespace {

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
    LogPrint(t.out, "%.*s", static_cast<int>(n), text + i);
  }
  LogPrint(t.out, "\n");
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
  LogPrint(t.out, "%s", title);
  LogPrint(t.out, "    Text File Path:  \"%s\"\n", t.set.TextFilePath.c_str());
  FilePtr f(t.Open(t.set.TextFilePath, "r"));
  if (!f) {
    LogPrint(t.out, "  Text File Open Error!\n");
    return 0;
  }
  std::vector<char> line(kLineBuffer, '\0');
  uint32_t total = 0;
  while (std::fgets(line.data(), kLineBuffer, f.get())) {
    const uint32_t n = static_cast<uint32_t>(PrintablePrefix(line.data()));
    LogPrint(t.out, "    Length = %d\n", static_cast<int>(n));
    if (n > 0) total += work(t, line.data(), n);
    std::fill(line.begin(), line.end(), '\0');
  }
  LogPrint(t.out, "    Final_Output_Length = %d\n", static_cast<int>(total));
  return 1;
}

}  // namespace

uint32_t TextFileToBase64(Tool& t) {
  return ProcessTextFile(t, "    Text File To Base64 Encode:\n", EncodeLine);
}

uint32_t Base64FileToText(Tool& t) {
  return ProcessTextFile(t, "    Base64 File To Text Decode:\n", DecodeLine);
}

}  // namespace pdflash
