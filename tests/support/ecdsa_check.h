// An independent check of signed images: a standard P-256 ECDSA verifier and
// SHA-256 from a library, sharing nothing with the tool.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pdflash::test {

std::vector<uint8_t> Sha256Of(const uint8_t* data, size_t n);
// True when (r, s) verifies for SHA-256(message) with the key x|y (64 bytes).
bool EcdsaP256Verifies(const std::vector<uint8_t>& message, const uint8_t* key, const uint8_t* r,
                       const uint8_t* s);
// The public key x|y of a private scalar.
std::vector<uint8_t> PublicKeyOf(const uint8_t* d);
std::string HexOf(const uint8_t* p, size_t n);

}  // namespace pdflash::test
