#include "image/base64.h"

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

}  // namespace pdflash
