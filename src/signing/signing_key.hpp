#pragma once
// SigningKey: an Ed25519 key pair in memory. It is the one owner of the secret seed, cannot be
// copied, and wipes the seed when it is released or moved from.

#include <array>
#include <span>

#include "core/result.hpp"
#include "signing/ed25519.hpp"

namespace srb {

class SigningKey {
 public:
  // Derives the key pair from a 32-byte RFC 8032 secret (the seed); fails only when libcrypto
  // cannot be loaded.
  static Result<SigningKey> from_seed(std::span<const unsigned char, 32> seed);
  SigningKey(SigningKey&& other) noexcept;
  SigningKey& operator=(SigningKey&& other) noexcept;
  SigningKey(const SigningKey&) = delete;
  SigningKey& operator=(const SigningKey&) = delete;
  ~SigningKey();

  const PublicKey& public_key() const { return public_key_; }
  std::span<const unsigned char, 32> seed() const { return seed_; }
  // Pure Ed25519 (RFC 8032) signature of the message; deterministic.
  Result<Signature> sign(std::span<const unsigned char> message) const;

 private:
  SigningKey() = default;
  std::array<unsigned char, 32> seed_{};
  PublicKey public_key_{};
};

}  // namespace srb
