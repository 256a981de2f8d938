#include "signing/ed25519.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "signing/libcrypto.hpp"

// Key derivation, signing and verification go through OpenSSL's EVP interface with a NULL
// digest, which is pure Ed25519. OpenSSL's verify already checks S < L and compares the encoding
// of [S]B - [k]A with R byte for byte, without any small-order test; its point decoder, though,
// lets x = 0 pass with the sign bit set, so every key first goes through is_ed25519_point, which
// follows RFC 8032 to the letter with BIGNUM arithmetic. libcrypto is loaded on the first call.

namespace srb {
namespace {

struct PkeyFree {
  const Libcrypto* crypto;
  void operator()(EVP_PKEY* key) const { crypto->EVP_PKEY_free(key); }
};
struct MdCtxFree {
  const Libcrypto* crypto;
  void operator()(EVP_MD_CTX* ctx) const { crypto->EVP_MD_CTX_free(ctx); }
};
struct BnCtxFree {
  const Libcrypto* crypto;
  void operator()(BN_CTX* ctx) const {
    crypto->BN_CTX_end(ctx);
    crypto->BN_CTX_free(ctx);
  }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;
using BnCtxPtr = std::unique_ptr<BN_CTX, BnCtxFree>;

// BIGNUM arithmetic fails only for an allocation that failed.
void require(bool ok) {
  if (!ok) std::abort();
}

// The EVP calls also fail when the loaded libcrypto offers no Ed25519: a configuration that
// activates only other providers (FIPS alone, say) in a program that loaded it that way. That is
// the library lacking what is needed, reported as when it cannot be loaded at all.
Result<void> ed25519_available(bool ok) {
  if (!ok) return Io{os_error(ELIBACC)};
  return {};
}

Result<PkeyPtr> private_key(const Libcrypto& c, std::span<const unsigned char, 32> seed) {
  PkeyPtr key(c.EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed.data(), seed.size()),
              PkeyFree{&c});
  TRY(ed25519_available(key != nullptr));
  return key;
}

MdCtxPtr digest_context(const Libcrypto& c) {
  MdCtxPtr ctx(c.EVP_MD_CTX_new(), MdCtxFree{&c});
  require(ctx != nullptr);
  return ctx;
}

// x^2 = (y^2 - 1) / (d y^2 + 1) mod p with d = -121665 / 121666. The denominator never vanishes
// (d is not a square mod p), and x exists exactly when the right side is zero or a quadratic
// residue, which Euler's criterion tells: r^((p-1)/2) = 1.
bool has_x_coordinate(const Libcrypto& c, const BIGNUM* y, bool x_sign, const BIGNUM* p,
                      BN_CTX* ctx) {
  BIGNUM* d = c.BN_CTX_get(ctx);
  BIGNUM* y2 = c.BN_CTX_get(ctx);
  BIGNUM* u = c.BN_CTX_get(ctx);
  BIGNUM* v = c.BN_CTX_get(ctx);
  BIGNUM* x2 = c.BN_CTX_get(ctx);
  BIGNUM* e = c.BN_CTX_get(ctx);
  require(e != nullptr);
  const BIGNUM* one = c.BN_value_one();
  require(c.BN_set_word(v, 121666) && c.BN_mod_inverse(d, v, p, ctx) != nullptr &&
          c.BN_set_word(u, 121665) && c.BN_mod_mul(d, d, u, p, ctx) && c.BN_sub(d, p, d));
  require(c.BN_mod_sqr(y2, y, p, ctx) && c.BN_mod_sub(u, y2, one, p, ctx) &&
          c.BN_mod_mul(v, d, y2, p, ctx) && c.BN_mod_add(v, v, one, p, ctx) &&
          c.BN_mod_inverse(v, v, p, ctx) != nullptr && c.BN_mod_mul(x2, u, v, p, ctx));
  if (c.BN_is_zero(x2)) return !x_sign;
  require(c.BN_sub(e, p, one) && c.BN_rshift1(e, e) && c.BN_mod_exp(e, x2, e, p, ctx));
  return c.BN_is_one(e);
}

bool is_point(const Libcrypto& c, std::span<const unsigned char, 32> encoded) {
  // The encoding is y little-endian in bits 0..254 and the sign of x in bit 255.
  std::array<unsigned char, 32> y_bytes;
  std::copy(encoded.begin(), encoded.end(), y_bytes.begin());
  const bool x_sign = (y_bytes[31] & 0x80) != 0;
  y_bytes[31] &= 0x7F;

  BnCtxPtr ctx(c.BN_CTX_new(), BnCtxFree{&c});
  require(ctx != nullptr);
  c.BN_CTX_start(ctx.get());
  BIGNUM* p = c.BN_CTX_get(ctx.get());
  BIGNUM* y = c.BN_CTX_get(ctx.get());
  require(y != nullptr);
  require(c.BN_set_bit(p, 255) && c.BN_sub_word(p, 19) &&
          c.BN_lebin2bn(y_bytes.data(), y_bytes.size(), y) != nullptr);
  if (c.BN_cmp(y, p) >= 0) return false;
  return has_x_coordinate(c, y, x_sign, p, ctx.get());
}

}  // namespace

Result<PublicKey> ed25519_public_key(std::span<const unsigned char, 32> seed) {
  TRY_ASSIGN(const Libcrypto* c, libcrypto());
  TRY_ASSIGN(const PkeyPtr key, private_key(*c, seed));
  PublicKey public_key{};
  std::size_t length = public_key.size();
  TRY(ed25519_available(c->EVP_PKEY_get_raw_public_key(key.get(), public_key.data(), &length) ==
                            1 &&
                        length == public_key.size()));
  return public_key;
}

Result<Signature> ed25519_sign(std::span<const unsigned char, 32> seed,
                               std::span<const unsigned char> message) {
  TRY_ASSIGN(const Libcrypto* c, libcrypto());
  TRY_ASSIGN(const PkeyPtr key, private_key(*c, seed));
  const MdCtxPtr ctx = digest_context(*c);
  Signature signature{};
  std::size_t length = signature.size();
  TRY(ed25519_available(
      c->EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
      c->EVP_DigestSign(ctx.get(), signature.data(), &length, message.data(), message.size()) ==
          1 &&
      length == signature.size()));
  return signature;
}

Result<bool> is_ed25519_point(std::span<const unsigned char, 32> encoded) {
  TRY_ASSIGN(const Libcrypto* c, libcrypto());
  return is_point(*c, encoded);
}

Result<bool> verify_ed25519(std::span<const unsigned char, 32> public_key,
                            std::span<const unsigned char> message,
                            std::span<const unsigned char, 64> signature) {
  TRY_ASSIGN(const Libcrypto* c, libcrypto());
  if (!is_point(*c, public_key)) return false;
  const PkeyPtr key(c->EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, public_key.data(),
                                                   public_key.size()),
                    PkeyFree{c});
  TRY(ed25519_available(key != nullptr));
  const MdCtxPtr ctx = digest_context(*c);
  TRY(ed25519_available(c->EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) ==
                        1));
  return c->EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), message.data(),
                             message.size()) == 1;
}

}  // namespace srb
