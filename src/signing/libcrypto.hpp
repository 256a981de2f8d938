#pragma once
// The few functions of OpenSSL's libcrypto that Ed25519 needs, loaded from the system's
// libcrypto.so.3 the first time a key is made or a signature made or checked. Most runs (path,
// an unsigned verify, a build without an identity) never need it, and linking it would make
// every start bind its thousands of symbols. OpenSSL's headers give the prototypes only.

#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include "core/result.hpp"
#include "signing/libcrypto_setup.hpp"

// Every function ed25519.cpp calls, each resolved by its own name.
// clang-format off
#define SRB_LIBCRYPTO_FUNCTIONS(X)                                                         \
  X(BN_CTX_end) X(BN_CTX_free) X(BN_CTX_get) X(BN_CTX_new) X(BN_CTX_start) X(BN_cmp)       \
  X(BN_is_one) X(BN_is_zero) X(BN_lebin2bn) X(BN_mod_add) X(BN_mod_exp) X(BN_mod_inverse)  \
  X(BN_mod_mul) X(BN_mod_sqr) X(BN_mod_sub) X(BN_rshift1) X(BN_set_bit) X(BN_set_word)     \
  X(BN_sub) X(BN_sub_word) X(BN_value_one) X(EVP_DigestSign) X(EVP_DigestSignInit)         \
  X(EVP_DigestVerify) X(EVP_DigestVerifyInit) X(EVP_MD_CTX_free) X(EVP_MD_CTX_new)         \
  X(EVP_PKEY_free) X(EVP_PKEY_get_raw_public_key) X(EVP_PKEY_new_raw_private_key)          \
  X(EVP_PKEY_new_raw_public_key) X(OPENSSL_init_crypto)
// clang-format on

namespace srb {

// One pointer per function, named as the function: `crypto.BN_CTX_new()`.
struct Libcrypto {
#define SRB_LIBCRYPTO_POINTER(name) decltype(&::name) name = nullptr;
  SRB_LIBCRYPTO_FUNCTIONS(SRB_LIBCRYPTO_POINTER)
#undef SRB_LIBCRYPTO_POINTER
};

// The loaded functions. The first call loads the library, once per process, and every call
// returns what it found: the same table, or Io with ELIBACC ("Can not access a needed shared
// library") when the library or one of its functions is missing. The library stays loaded.
Result<const Libcrypto*> libcrypto();

// The file name libcrypto() loads, "libcrypto.so.3" unless changed here before its first call;
// later changes have no effect. Tests name a library that does not exist to see the failure.
void set_libcrypto_soname(const char* soname);

}  // namespace srb
