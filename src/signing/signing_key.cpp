#include "signing/signing_key.hpp"

#include <algorithm>
#include <cstring>

// The seed is the only secret kept here; OpenSSL expands it (SHA-512, clamping) inside each
// call and clears its own copies. Whatever gives the seed up, a move or the destructor, wipes it.

namespace srb {

Result<SigningKey> SigningKey::from_seed(std::span<const unsigned char, 32> seed) {
  SigningKey key;
  std::copy(seed.begin(), seed.end(), key.seed_.begin());
  TRY_ASSIGN(key.public_key_, ed25519_public_key(key.seed_));
  return key;
}

SigningKey::SigningKey(SigningKey&& other) noexcept
    : seed_(other.seed_), public_key_(other.public_key_) {
  explicit_bzero(other.seed_.data(), other.seed_.size());
}

SigningKey& SigningKey::operator=(SigningKey&& other) noexcept {
  if (this != &other) {
    seed_ = other.seed_;
    public_key_ = other.public_key_;
    explicit_bzero(other.seed_.data(), other.seed_.size());
  }
  return *this;
}

SigningKey::~SigningKey() {
  explicit_bzero(seed_.data(), seed_.size());
}

Result<Signature> SigningKey::sign(std::span<const unsigned char> message) const {
  return ed25519_sign(seed_, message);
}

}  // namespace srb
