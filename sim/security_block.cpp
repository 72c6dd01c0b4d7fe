#include "sim/security_block.h"

#include <gcrypt.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/bytes.h"

namespace pdflash::sim {

namespace {

using Bytes32 = std::array<uint8_t, 32>;

constexpr uint8_t kEccOn = 0x01, kShaOn = 0x02, kTrngOn = 0x04;
constexpr uint8_t kShaDone = 0x04;
constexpr uint8_t kInstallBusy = 0x40;
constexpr uint64_t kEccUs = 1500;
constexpr uint64_t kShaBlockUs = 1500;
constexpr uint64_t kFirmwareUs = 500000;

constexpr uint32_t kHeaderAddress = 0x4F000;
constexpr uint32_t kDataStart = 0x50000;
constexpr uint32_t kSignatureAddress = 0x4F040;
constexpr char kTitle[] = "ECDSA IMAGE V0.1";

// libgcrypt wants one initialisation per process before any use.
void InitGcrypt() {
  static const bool ready = [] {
    gcry_check_version(nullptr);
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    return true;
  }();
  (void)ready;
}

struct Mpi {
  gcry_mpi_t m = nullptr;
  Mpi() : m(gcry_mpi_new(0)) {}
  explicit Mpi(const uint8_t* be, size_t n = 32) { gcry_mpi_scan(&m, GCRYMPI_FMT_USG, be, n, nullptr); }
  explicit Mpi(gcry_mpi_t owned) : m(owned) {}
  ~Mpi() { gcry_mpi_release(m); }
  Mpi(const Mpi&) = delete;
  Mpi& operator=(const Mpi&) = delete;
  // The low 256 bits, most significant byte first.
  Bytes32 Out() const {
    Bytes32 b{};
    unsigned char* buf = nullptr;
    size_t n = 0;
    if (gcry_mpi_aprint(GCRYMPI_FMT_USG, &buf, &n, m) == 0) {
      const size_t take = std::min<size_t>(n, 32);
      std::memcpy(b.data() + 32 - take, buf + n - take, take);
      gcry_free(buf);
    }
    return b;
  }
};

struct Point {
  gcry_mpi_point_t p = gcry_mpi_point_new(0);
  ~Point() { gcry_mpi_point_release(p); }
};

// The curve and its group order.
class P256 {
 public:
  P256() {
    InitGcrypt();
    gcry_mpi_ec_new(&ctx_, nullptr, "NIST P-256");
    n_ = gcry_mpi_ec_get_mpi("n", ctx_, 1);
  }
  ~P256() {
    gcry_mpi_release(n_);
    gcry_ctx_release(ctx_);
  }
  P256(const P256&) = delete;
  P256& operator=(const P256&) = delete;

  gcry_mpi_t n() const { return n_; }

  // The affine result of k*P (mult) or P+Q (add); zeros for the point at infinity.
  void Mult(const uint8_t* px, const uint8_t* py, const uint8_t* k, Bytes32& x, Bytes32& y) {
    Point a, r;
    Set(a, px, py);
    Mpi scalar(k);
    gcry_mpi_ec_mul(r.p, scalar.m, a.p, ctx_);
    Affine(r, x, y);
  }
  void Add(const uint8_t* px, const uint8_t* py, const uint8_t* qx, const uint8_t* qy, Bytes32& x,
           Bytes32& y) {
    Point a, b, r;
    Set(a, px, py);
    Set(b, qx, qy);
    gcry_mpi_ec_add(r.p, a.p, b.p, ctx_);
    Affine(r, x, y);
  }
  void MultG(const Bytes32& k, Bytes32& x, Bytes32& y) {
    Point r;
    gcry_mpi_point_t g = gcry_mpi_ec_get_point("g", ctx_, 1);
    Mpi scalar(k.data());
    gcry_mpi_ec_mul(r.p, scalar.m, g, ctx_);
    gcry_mpi_point_release(g);
    Affine(r, x, y);
  }

 private:
  static void Set(Point& pt, const uint8_t* x, const uint8_t* y) {
    Mpi mx(x), my(y), one(gcry_mpi_set_ui(nullptr, 1));
    gcry_mpi_point_set(pt.p, mx.m, my.m, one.m);
  }
  void Affine(Point& pt, Bytes32& x, Bytes32& y) {
    Mpi ax, ay;
    if (gcry_mpi_ec_get_affine(ax.m, ay.m, pt.p, ctx_) != 0) {
      x.fill(0);
      y.fill(0);
      return;
    }
    x = ax.Out();
    y = ay.Out();
  }

  gcry_ctx_t ctx_ = nullptr;
  gcry_mpi_t n_ = nullptr;
};

Bytes32 Sha256(const uint8_t* data, size_t n) {
  InitGcrypt();
  Bytes32 d{};
  gcry_md_hash_buffer(GCRY_MD_SHA256, d.data(), data, n);
  return d;
}

// The standard verification over a digest, with the key as x then y.
bool EcdsaValid(const uint8_t* digest, const uint8_t* key, const uint8_t* r, const uint8_t* s) {
  InitGcrypt();
  uint8_t q[65];
  q[0] = 0x04;
  std::memcpy(q + 1, key, 64);
  gcry_sexp_t sig = nullptr, data = nullptr, pub = nullptr;
  bool ok = gcry_sexp_build(&sig, nullptr, "(sig-val(ecdsa(r%b)(s%b)))", 32, r, 32, s) == 0 &&
            gcry_sexp_build(&data, nullptr, "(data(flags raw)(value %b))", 32, digest) == 0 &&
            gcry_sexp_build(&pub, nullptr, "(public-key(ecc(curve \"NIST P-256\")(q %b)))", 65,
                            q) == 0 &&
            gcry_pk_verify(sig, data, pub) == 0;
  gcry_sexp_release(sig);
  gcry_sexp_release(data);
  gcry_sexp_release(pub);
  return ok;
}

uint8_t EntrySum(const uint8_t* e) {
  uint8_t sum = 0;
  for (int i = 0; i < 16; ++i) sum = static_cast<uint8_t>(sum + e[i]);
  return sum;
}

bool ParseHexBytes(const std::string& text, std::vector<uint8_t>& out) {
  if (text.size() % 2) return false;
  out.clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    uint32_t v = 0;
    if (!ParseHex(text.substr(i, 2), v)) return false;
    out.push_back(static_cast<uint8_t>(v));
  }
  return true;
}

}  // namespace

SecurityBlock::SecurityBlock(PartHost& host, Clock& clock, SpiPorts& spi,
                             const SecurityConfig& config)
    : SimPart(host), clock_(clock), spi_(spi), config_(config) {
  ParseHexBytes(config_.TrngSeed, seed_);
  install_state_ = static_cast<uint8_t>(config_.ScyState);
}

PartClaims SecurityBlock::Claims() const {
  PartClaims c;
  c.register_commands = {0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C};
  c.registers = {{reg::kEccA, 0x09FF},
                 {reg::kShaBlock, 0x0A67},
                 {reg::kInstallState, reg::kInstallState},
                 {reg::kVerifyTrace, 0x2EBF}};
  // Engine windows lose their contents with power; the install state is
  // saved as the block's own entry.
  for (uint32_t a = reg::kEccA; a <= 0x09FF; ++a) c.transient.push_back(static_cast<uint16_t>(a));
  for (uint32_t a = reg::kShaBlock; a <= 0x0A67; ++a)
    c.transient.push_back(static_cast<uint16_t>(a));
  for (uint32_t a = reg::kVerifyTrace; a <= 0x2EBF; ++a)
    c.transient.push_back(static_cast<uint16_t>(a));
  c.transient.push_back(reg::kInstallState);
  return c;
}

const std::vector<uint8_t>& SecurityBlock::FlashBytes() {
  SpiNorFlash* f = spi_.Selected();
  return f ? f->Data() : spi_.Flash().Data();
}

// ---------------------------------------------------------------- registers

uint8_t SecurityBlock::ReadRegister(uint16_t a) {
  const uint64_t now = clock_.NowUs();
  switch (a) {
    case reg::kEccStatus:
      return ecc_ready_ && !config_.EccStall && now >= ecc_ready_at_ ? 0x01 : 0x00;
    case reg::kShaControl: {
      const uint8_t v = static_cast<uint8_t>(host_.Memory(a) & ~kShaDone);
      return sha_ready_ && !config_.ShaStall && now >= sha_ready_at_ ? v | kShaDone : v;
    }
    case reg::kVerifyStatus:
      if (verify_pending_ && now >= verify_ready_at_) {
        verify_pending_ = false;
        host_.Memory(a) = verify_result_;
      }
      return host_.Memory(a);
    case reg::kInstallState:
      return InstallState();
    default:
      break;
  }
  if (a >= reg::kShaDigest && a < reg::kShaDigest + 32) RefreshDigest();
  return host_.Memory(a);
}

void SecurityBlock::WriteRegister(uint16_t a, uint8_t v) {
  switch (a) {
    case reg::kEccCommand:
      host_.Memory(a) = v;
      EccCommand(v);
      return;
    case reg::kEccStatus:
    case reg::kInstallState:
    case reg::kVerifyStatus:
      return;  // the firmware's, not the host's
    case reg::kShaControl:
      ShaControl(v);
      return;
    case reg::kTrngTrigger:
      // A new draw on the falling edge of the trigger.
      if (v & 1) {
        trng_armed_ = true;
      } else if (trng_armed_) {
        trng_armed_ = false;
        if (Enabled(kTrngOn)) DrawTrng();
      }
      host_.Memory(a) = v;
      return;
    default:
      if (a >= reg::kShaDigest && a < reg::kShaDigest + 32) return;
      if (a >= reg::kTrngOut && a < reg::kTrngOut + 4) return;
      host_.Memory(a) = v;
  }
}

void SecurityBlock::EccCommand(uint8_t code) {
  ecc_ready_ = false;
  if (!Enabled(kEccOn)) return;
  uint8_t* a = &host_.Memory(reg::kEccA);  // the windows are contiguous memory
  const uint8_t* A = a;
  const uint8_t* B = a + 0x20;
  const uint8_t* C = a + 0x40;
  const uint8_t* D = a + 0x60;
  Bytes32 x{}, y{};
  P256 curve;
  switch (code) {
    case 0:
      break;
    case 1:
      curve.Mult(A, B, C, x, y);
      break;
    case 2:
      curve.Add(A, B, C, D, x, y);
      break;
    case 3:
    case 4:
    case 6: {
      Mpi u(A), v(B), w;
      if (code == 3) gcry_mpi_addm(w.m, u.m, v.m, curve.n());
      if (code == 4) gcry_mpi_subm(w.m, u.m, v.m, curve.n());
      if (code == 6) gcry_mpi_mulm(w.m, u.m, v.m, curve.n());
      x = w.Out();
      break;
    }
    case 5: {
      Mpi u(A), w;
      if (!gcry_mpi_invm(w.m, u.m, curve.n())) gcry_mpi_set_ui(w.m, 0);
      x = w.Out();
      break;
    }
    default:
      return;  // unknown command: never ready
  }
  if (code != 0) {
    std::memcpy(&host_.Memory(reg::kEccResultX), x.data(), 32);
    if (code <= 2) std::memcpy(&host_.Memory(reg::kEccResultY), y.data(), 32);
  }
  ecc_ready_ = true;
  ecc_ready_at_ = clock_.NowUs() + kEccUs;
}

void SecurityBlock::ShaControl(uint8_t v) {
  host_.Memory(reg::kShaControl) = static_cast<uint8_t>(v & ~kShaDone);
  if (!Enabled(kShaOn)) {
    sha_ready_ = false;
    return;
  }
  if (v == 0) {
    sha_reset_ = true;
    sha_ready_ = false;
  } else if (v == 1 && sha_reset_) {
    sha_reset_ = false;
    sha_stream_.clear();
    digest_stale_ = true;
    sha_ready_ = true;
    sha_ready_at_ = clock_.NowUs() + kShaBlockUs;
  } else if (v == 2) {
    const uint8_t* block = &host_.Memory(reg::kShaBlock);
    sha_stream_.insert(sha_stream_.end(), block, block + 64);
    digest_stale_ = true;
    sha_ready_ = true;
    sha_ready_at_ = clock_.NowUs() + kShaBlockUs;
  }
}

// The engine only compresses. When the blocks are a message padded as the
// standard says, the chaining value is that message's SHA-256; otherwise the
// library offers no raw compression, so a value that no correctly padded
// message would give stands in for it.
void SecurityBlock::RefreshDigest() {
  if (!digest_stale_) return;
  digest_stale_ = false;
  const std::vector<uint8_t>& b = sha_stream_;
  Bytes32 d{};
  if (!b.empty()) {
    const size_t len = b.size();
    uint64_t bits = 0;
    for (size_t i = len - 8; i < len; ++i) bits = bits << 8 | b[i];
    const uint64_t m = bits / 8;
    bool padded = bits % 8 == 0 && m + 9 <= len && (m + 9 + 63) / 64 * 64 == len && b[m] == 0x80;
    for (size_t i = m + 1; padded && i < len - 8; ++i) padded = b[i] == 0;
    if (padded) {
      d = Sha256(b.data(), m);
    } else {
      d = Sha256(b.data(), len);
      d[31] ^= 0xA5;
    }
  }
  std::memcpy(&host_.Memory(reg::kShaDigest), d.data(), 32);
}

void SecurityBlock::DrawTrng() {
  uint8_t out[4];
  if (seed_.empty()) {
    InitGcrypt();
    gcry_randomize(out, sizeof out, GCRY_STRONG_RANDOM);
  } else {
    // A seeded generator for repeatable boards: the hash of seed and draw count.
    std::vector<uint8_t> in = seed_;
    for (int s = 24; s >= 0; s -= 8) in.push_back(static_cast<uint8_t>(trng_draws_ >> s));
    const Bytes32 h = Sha256(in.data(), in.size());
    std::memcpy(out, h.data(), 4);
  }
  ++trng_draws_;
  std::memcpy(&host_.Memory(reg::kTrngOut), out, 4);
}

// ---------------------------------------------------------------- firmware commands

bool SecurityBlock::RegisterCommand(uint8_t sub, uint16_t address, const SetupPacket& s,
                                    uint8_t* data) {
  if (address != 0 || s.bmRequestType != 0x40) return false;
  const uint16_t expected = sub == 0x07 || sub == 0x08 ? 8 : 32;
  if (s.wLength != expected) return false;
  switch (sub) {
    case 0x07:  // region set: the next run starts afresh
      sha_ready_ = false;
      return true;
    case 0x08:
      HashRegion(data);
      return true;
    case 0x0A:
      Verify(data);
      return true;
    case 0x0C:
      Install(data);
      return true;
    default:  // signing and the SHA challenge: accepted, nothing the tool relies on
      return true;
  }
}

void SecurityBlock::HashRegion(const uint8_t* payload) {
  const uint32_t start = Be32(payload), end = Be32(payload + 4);
  const std::vector<uint8_t>& f = FlashBytes();
  if (start > end || end > f.size()) return;  // never done
  const Bytes32 d = Sha256(f.data() + start, end - start);
  std::memcpy(&host_.Memory(reg::kShaDigest), d.data(), 32);
  digest_stale_ = false;
  host_.Memory(reg::kEngineEnable) |= kShaOn;
  sha_ready_ = true;
  sha_ready_at_ = clock_.NowUs() + kFirmwareUs;
}

InstallCode SecurityBlock::JudgeImage(uint32_t start, uint32_t end, uint32_t signature) {
  const std::vector<uint8_t>& f = FlashBytes();
  if (f.size() < kDataStart) return InstallCode::BadHeader;
  const uint8_t* h = f.data() + kHeaderAddress;
  if (std::memcmp(h, kTitle, 16) != 0 || start != kDataStart || signature != kSignatureAddress ||
      Be32(h + 48) != start || Be32(h + 52) != end || Be32(h + 56) != signature || end < start ||
      end > f.size() || end - start > 0x100000)
    return InstallCode::BadHeader;
  for (int i = 0; i < 5; ++i) {
    const uint8_t* e = h + 256 + 16 * i;
    if (std::any_of(e, e + 16, [](uint8_t b) { return b != 0; }) && EntrySum(e) != 0xFF)
      return InstallCode::BadHeader;
  }
  const Bytes32 digest = Sha256(f.data() + start, end - start);
  if (std::memcmp(digest.data(), h + 192, 32) != 0) return InstallCode::DataDigest;
  const uint8_t* sig = f.data() + signature;
  if (!EcdsaValid(digest.data(), h + 128, sig, sig + 32)) return InstallCode::Signature;
  const Bytes32 key_hash = Sha256(h + 128, 64);
  std::vector<uint8_t> trusted;
  if (std::memcmp(key_hash.data(), h + 224, 32) != 0 ||
      (ParseHexBytes(config_.ScyKeyHash, trusted) && trusted.size() == 32 &&
       std::memcmp(trusted.data(), key_hash.data(), 32) != 0))
    return InstallCode::KeyHash;
  for (int j = 0; j < 16; ++j) {
    const uint8_t* e = h + 512 + 16 * j;
    const uint32_t from = Be32(e), len = Be32(e + 8);
    if (len == 0) continue;
    if (EntrySum(e) != 0xFF || from < start || from > end || len > end - from)
      return InstallCode::CopyOutside;
  }
  return InstallCode::Ok;
}

void SecurityBlock::Verify(const uint8_t* payload) {
  const uint32_t start = Be32(payload), end = Be32(payload + 4), signature = Be32(payload + 8);
  host_.Memory(reg::kVerifyStatus) = 0;
  verify_pending_ = true;
  verify_ready_at_ = clock_.NowUs() + kFirmwareUs;
  const std::vector<uint8_t>& f = FlashBytes();
  const InstallCode code = JudgeImage(start, end, signature);
  verify_result_ = code == InstallCode::Ok || code == InstallCode::KeyHash ||
                           code == InstallCode::CopyOutside
                       ? 0x01
                       : static_cast<uint8_t>(0x02 << static_cast<int>(code));
  if (f.size() < kDataStart || end < start || end > f.size()) return;
  // What the firmware's own verification went through, for diagnosis.
  const uint8_t* h = f.data() + kHeaderAddress;
  const uint8_t* sig = f.data() + std::min<uint32_t>(signature, static_cast<uint32_t>(f.size()) - 64);
  const Bytes32 digest = Sha256(f.data() + start, end - start);
  std::memcpy(&host_.Memory(reg::kShaDigest), digest.data(), 32);
  digest_stale_ = false;
  P256 curve;
  Mpi r(sig), s(sig + 32), e(digest.data()), w, u1, u2;
  if (!gcry_mpi_invm(w.m, s.m, curve.n())) gcry_mpi_set_ui(w.m, 0);
  gcry_mpi_mulm(u1.m, e.m, w.m, curve.n());
  gcry_mpi_mulm(u2.m, r.m, w.m, curve.n());
  Bytes32 p1x, p1y, p2x, p2y, qx, qy;
  curve.MultG(u1.Out(), p1x, p1y);
  const Bytes32 u2b = u2.Out();
  curve.Mult(h + 128, h + 160, u2b.data(), p2x, p2y);
  curve.Add(p1x.data(), p1y.data(), p2x.data(), p2y.data(), qx, qy);
  // r, s, the key, then w, u1, u2 and the point they give.
  uint8_t* trace = &host_.Memory(reg::kVerifyTrace);
  std::memcpy(trace, sig, 64);
  std::memcpy(trace + 64, h + 128, 64);
  const Bytes32 rest[] = {w.Out(), u1.Out(), u2b, qx, qy};
  trace += 128;
  for (const Bytes32& v : rest) {
    std::memcpy(trace, v.data(), 32);
    trace += 32;
  }
}

void SecurityBlock::Install(const uint8_t* payload) {
  if (InstallState() >= 0x01 && InstallState() <= 0x7F) return;  // busy: ignored
  const uint32_t start = Be32(payload), end = Be32(payload + 4), signature = Be32(payload + 8);
  install_result_ = static_cast<uint8_t>(0x80 | static_cast<uint8_t>(JudgeImage(start, end, signature)));
  install_state_ = kInstallBusy;
  install_busy_ = true;
  install_done_at_ = clock_.NowUs() + uint64_t{config_.ScyInstallSeconds} * 1000000;
}

uint8_t SecurityBlock::InstallState() {
  if (install_busy_ && clock_.NowUs() >= install_done_at_) {
    install_busy_ = false;
    install_state_ = install_result_;
  }
  return install_state_;
}

// ---------------------------------------------------------------- power and state

void SecurityBlock::Restart() {
  ecc_ready_ = sha_ready_ = sha_reset_ = trng_armed_ = verify_pending_ = false;
  host_.Memory(reg::kEngineEnable) = 0;
}

void SecurityBlock::SaveState(StateEntries& out) const {
  out.emplace_back("ScyState", HexText(install_state_, 2));
  if (install_busy_) {
    const uint64_t now = clock_.NowUs();
    const uint64_t left = install_done_at_ > now ? install_done_at_ - now : 0;
    out.emplace_back("ScyBusyMs", HexText(static_cast<uint32_t>(left / 1000), 1));
    out.emplace_back("ScyResult", HexText(install_result_, 2));
  }
  out.emplace_back("EngineEnable", HexText(host_.Memory(reg::kEngineEnable), 2));
  out.emplace_back("TrngDraws", HexText(trng_draws_, 1));
}

void SecurityBlock::LoadState(const StateEntries& entries) {
  for (const auto& [key, text] : entries) {
    uint32_t v = 0;
    if (!ParseHex(text, v)) continue;
    if (key == "ScyState") install_state_ = static_cast<uint8_t>(v);
    if (key == "ScyResult") install_result_ = static_cast<uint8_t>(v);
    if (key == "EngineEnable") host_.Memory(reg::kEngineEnable) = static_cast<uint8_t>(v);
    if (key == "TrngDraws") trng_draws_ = v;
    if (key == "ScyBusyMs") {
      install_busy_ = true;
      install_done_at_ = clock_.NowUs() + uint64_t{v} * 1000;
    }
  }
}

std::string DescribeSecurityZone(const std::vector<uint8_t>& flash, uint32_t install_state) {
  char buf[200];
  std::string out = "  security zone: ";
  if (flash.size() < kDataStart || std::memcmp(flash.data() + kHeaderAddress, kTitle, 16) != 0) {
    out += "no image";
  } else {
    const uint8_t* h = flash.data() + kHeaderAddress;
    int blocks = 0;
    for (int i = 0; i < 5; ++i)
      if (Be32(h + 256 + 16 * i + 8) != 0) ++blocks;
    std::snprintf(buf, sizeof buf, "image \"%.16s\", date %02X%02X-%02X-%02X, %d block%s, data %06X-%06X",
                  reinterpret_cast<const char*>(h), h[60], h[61], h[62], h[63], blocks,
                  blocks == 1 ? "" : "s", Be32(h + 48), Be32(h + 52));
    out += buf;
  }
  const char* what = install_state == 0                             ? "none"
                     : install_state < 0x80                         ? "busy"
                     : (install_state & 0x3F) == 0                  ? "installed"
                                                                    : "refused";
  std::snprintf(buf, sizeof buf, "; last install %02X (%s", install_state, what);
  out += buf;
  if (install_state >= 0x80 && (install_state & 0x3F)) {
    std::snprintf(buf, sizeof buf, ", code %u", install_state & 0x3F);
    out += buf;
  }
  return out + ")\n";
}

}  // namespace pdflash::sim
