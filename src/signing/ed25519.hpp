#pragma once
// Ed25519 (RFC 8032, pure form with SHA-512) on top of OpenSSL's libcrypto, plus the strict
// point decoding that OpenSSL does not expose. Each function fails with Io (ELIBACC) when
// libcrypto cannot be loaded (see libcrypto.hpp). OpenSSL fails in these calls only when memory
// runs out; the process then aborts rather than return a wrong key or answer.

#include <array>
#include <span>

#include "core/result.hpp"

namespace srb {

using PublicKey = std::array<unsigned char, 32>;
using Signature = std::array<unsigned char, 64>;

// The public key of a 32-byte secret (the seed): SHA-512, clamping, [a]B, point encoding.
Result<PublicKey> ed25519_public_key(std::span<const unsigned char, 32> seed);

// The deterministic signature of `message` under the seed's key.
Result<Signature> ed25519_sign(std::span<const unsigned char, 32> seed,
                               std::span<const unsigned char> message);

// True when the 32 bytes encode a curve point: y below p = 2^255 - 19, x recoverable from
// x^2 = (y^2 - 1) / (d y^2 + 1), and the sign bit clear when x = 0.
Result<bool> is_ed25519_point(std::span<const unsigned char, 32> encoded);

// Cofactorless verification: false unless the key is a point (as above), S is below the group
// order L, and the encoding of [S]B - [k]A equals R byte for byte. Small-order keys and R values
// are not refused for their order.
Result<bool> verify_ed25519(std::span<const unsigned char, 32> public_key,
                            std::span<const unsigned char> message,
                            std::span<const unsigned char, 64> signature);

}  // namespace srb
