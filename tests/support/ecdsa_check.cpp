#include "support/ecdsa_check.h"

#include <gcrypt.h>

#include <cstdio>
#include <cstring>

namespace pdflash::test {

namespace {

void Init() {
  static const bool ready = [] {
    gcry_check_version(nullptr);
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    return true;
  }();
  (void)ready;
}

}  // namespace

std::vector<uint8_t> Sha256Of(const uint8_t* data, size_t n) {
  Init();
  std::vector<uint8_t> d(32);
  gcry_md_hash_buffer(GCRY_MD_SHA256, d.data(), data, n);
  return d;
}

bool EcdsaP256Verifies(const std::vector<uint8_t>& message, const uint8_t* key, const uint8_t* r,
                       const uint8_t* s) {
  Init();
  uint8_t q[65] = {0x04};
  std::memcpy(q + 1, key, 64);
  gcry_sexp_t sig = nullptr, data = nullptr, pub = nullptr;
  const std::vector<uint8_t> digest = Sha256Of(message.data(), message.size());
  const bool ok =
      gcry_sexp_build(&sig, nullptr, "(sig-val(ecdsa(r%b)(s%b)))", 32, r, 32, s) == 0 &&
      gcry_sexp_build(&data, nullptr, "(data(flags rfc6979)(hash sha256 %b))", 32, digest.data()) == 0 &&
      gcry_sexp_build(&pub, nullptr, "(public-key(ecc(curve \"NIST P-256\")(q %b)))", 65, q) ==
          0 &&
      gcry_pk_verify(sig, data, pub) == 0;
  gcry_sexp_release(sig);
  gcry_sexp_release(data);
  gcry_sexp_release(pub);
  return ok;
}

std::vector<uint8_t> PublicKeyOf(const uint8_t* d) {
  Init();
  gcry_ctx_t ctx = nullptr;
  gcry_mpi_ec_new(&ctx, nullptr, "NIST P-256");
  gcry_mpi_t k = nullptr;
  gcry_mpi_scan(&k, GCRYMPI_FMT_USG, d, 32, nullptr);
  gcry_mpi_point_t g = gcry_mpi_ec_get_point("g", ctx, 1), p = gcry_mpi_point_new(0);
  gcry_mpi_ec_mul(p, k, g, ctx);
  gcry_mpi_t x = gcry_mpi_new(0), y = gcry_mpi_new(0);
  std::vector<uint8_t> out(64, 0);
  if (gcry_mpi_ec_get_affine(x, y, p, ctx) == 0) {
    size_t n = 0;
    uint8_t buf[32];
    gcry_mpi_print(GCRYMPI_FMT_USG, buf, 32, &n, x);
    std::memcpy(out.data() + 32 - n, buf, n);
    gcry_mpi_print(GCRYMPI_FMT_USG, buf, 32, &n, y);
    std::memcpy(out.data() + 64 - n, buf, n);
  }
  gcry_mpi_release(x);
  gcry_mpi_release(y);
  gcry_mpi_release(k);
  gcry_mpi_point_release(g);
  gcry_mpi_point_release(p);
  gcry_ctx_release(ctx);
  return out;
}

std::string HexOf(const uint8_t* p, size_t n) {
  std::string s;
  char b[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, "%02X", p[i]);
    s += b;
  }
  return s;
}

}  // namespace pdflash::test
