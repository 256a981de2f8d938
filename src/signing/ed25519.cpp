#include "signing/ed25519.hpp"

#include <openssl/bn.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

// Key derivation, signing and verification go through OpenSSL's EVP interface with a NULL
// digest, which is pure Ed25519. OpenSSL's verify already checks S < L and compares the encoding
// of [S]B - [k]A with R byte for byte, without any small-order test; its point decoder, though,
// lets x = 0 pass with the sign bit set, so every key first goes through is_ed25519_point, which
// follows RFC 8032 to the letter with BIGNUM arithmetic.

namespace srb {
namespace {

struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
struct BnCtxFree {
  void operator()(BN_CTX* ctx) const {
    BN_CTX_end(ctx);
    BN_CTX_free(ctx);
  }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;
using BnCtxPtr = std::unique_ptr<BN_CTX, BnCtxFree>;

// OpenSSL reports failure here only for an allocation that failed.
void require(bool ok) {
  if (!ok) std::abort();
}

PkeyPtr private_key(std::span<const unsigned char, 32> seed) {
  PkeyPtr key(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed.data(), seed.size()));
  require(key != nullptr);
  return key;
}

MdCtxPtr digest_context() {
  MdCtxPtr ctx(EVP_MD_CTX_new());
  require(ctx != nullptr);
  return ctx;
}

// x^2 = (y^2 - 1) / (d y^2 + 1) mod p with d = -121665 / 121666. The denominator never vanishes
// (d is not a square mod p), and x exists exactly when the right side is zero or a quadratic
// residue, which Euler's criterion tells: r^((p-1)/2) = 1.
bool has_x_coordinate(const BIGNUM* y, bool x_sign, const BIGNUM* p, BN_CTX* ctx) {
  BIGNUM* d = BN_CTX_get(ctx);
  BIGNUM* y2 = BN_CTX_get(ctx);
  BIGNUM* u = BN_CTX_get(ctx);
  BIGNUM* v = BN_CTX_get(ctx);
  BIGNUM* x2 = BN_CTX_get(ctx);
  BIGNUM* e = BN_CTX_get(ctx);
  require(e != nullptr);
  require(BN_set_word(v, 121666) && BN_mod_inverse(d, v, p, ctx) != nullptr &&
          BN_set_word(u, 121665) && BN_mod_mul(d, d, u, p, ctx) && BN_sub(d, p, d));
  require(BN_mod_sqr(y2, y, p, ctx) && BN_mod_sub(u, y2, BN_value_one(), p, ctx) &&
          BN_mod_mul(v, d, y2, p, ctx) && BN_mod_add(v, v, BN_value_one(), p, ctx) &&
          BN_mod_inverse(v, v, p, ctx) != nullptr && BN_mod_mul(x2, u, v, p, ctx));
  if (BN_is_zero(x2)) return !x_sign;
  require(BN_sub(e, p, BN_value_one()) && BN_rshift1(e, e) && BN_mod_exp(e, x2, e, p, ctx));
  return BN_is_one(e);
}

}  // namespace

PublicKey ed25519_public_key(std::span<const unsigned char, 32> seed) {
  const PkeyPtr key = private_key(seed);
  PublicKey public_key{};
  std::size_t length = public_key.size();
  require(EVP_PKEY_get_raw_public_key(key.get(), public_key.data(), &length) == 1 &&
          length == public_key.size());
  return public_key;
}

Signature ed25519_sign(std::span<const unsigned char, 32> seed,
                       std::span<const unsigned char> message) {
  const PkeyPtr key = private_key(seed);
  const MdCtxPtr ctx = digest_context();
  Signature signature{};
  std::size_t length = signature.size();
  require(EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
          EVP_DigestSign(ctx.get(), signature.data(), &length, message.data(), message.size()) ==
              1 &&
          length == signature.size());
  return signature;
}

bool is_ed25519_point(std::span<const unsigned char, 32> encoded) {
  // The encoding is y little-endian in bits 0..254 and the sign of x in bit 255.
  std::array<unsigned char, 32> y_bytes;
  std::copy(encoded.begin(), encoded.end(), y_bytes.begin());
  const bool x_sign = (y_bytes[31] & 0x80) != 0;
  y_bytes[31] &= 0x7F;

  BnCtxPtr ctx(BN_CTX_new());
  require(ctx != nullptr);
  BN_CTX_start(ctx.get());
  BIGNUM* p = BN_CTX_get(ctx.get());
  BIGNUM* y = BN_CTX_get(ctx.get());
  require(y != nullptr);
  require(BN_set_bit(p, 255) && BN_sub_word(p, 19) &&
          BN_lebin2bn(y_bytes.data(), y_bytes.size(), y) != nullptr);
  if (BN_cmp(y, p) >= 0) return false;
  return has_x_coordinate(y, x_sign, p, ctx.get());
}

bool verify_ed25519(std::span<const unsigned char, 32> public_key,
                    std::span<const unsigned char> message,
                    std::span<const unsigned char, 64> signature) {
  if (!is_ed25519_point(public_key)) return false;
  const PkeyPtr key(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, public_key.data(), public_key.size()));
  require(key != nullptr);
  const MdCtxPtr ctx = digest_context();
  require(EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) == 1);
  return EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), message.data(),
                          message.size()) == 1;
}

}  // namespace srb
