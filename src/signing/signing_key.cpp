#include "signing/signing_key.hpp"

// Not built yet: every entry point fails with ENOSYS ("Function not implemented").
namespace srb {

SigningKey SigningKey::from_seed(std::span<const unsigned char, 32>) { return SigningKey(); }
SigningKey::SigningKey(SigningKey&&) noexcept = default;
SigningKey& SigningKey::operator=(SigningKey&&) noexcept = default;
SigningKey::~SigningKey() = default;
Signature SigningKey::sign(std::span<const unsigned char>) const { return {}; }
}  // namespace srb
