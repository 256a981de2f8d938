#pragma once
// The bundle signature: Ed25519 over a BLAKE3 digest of the version and root-hash texts.

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "core/result.hpp"
#include "manifest/manifest.hpp"
#include "signing/signing_key.hpp"

namespace srb {

// BLAKE3 (plain mode) of "sarn-runtime-bundle-v1\0", the version text and the root-hash text,
// each byte for byte with nothing between them.
std::array<unsigned char, 32> signing_digest(std::string_view version, std::string_view root_hash);

struct BundleSignature {
  std::string publisher_hex;  // the key's public half, 64 lower-case hex characters
  std::string signature_hex;  // R then S, 128 lower-case hex characters
};

// Signs the signing digest of the version and root hash; fails only when libcrypto cannot be
// loaded.
Result<BundleSignature> sign_manifest(const SigningKey& key, std::string_view version,
                                      std::string_view root_hash);

enum class RequireSignature { no, yes };

// Checks a manifest's signature fields against the caller's requirements. A manifest lacking
// either field is unsigned: accepted unless a publisher or a signature is required
// (SignatureRequired). Otherwise, in this order: publisher_hex then signature_hex must decode to
// 32 and 64 bytes and the publisher must be a curve point (MalformedSignatureField), the
// signature must verify (SignatureInvalid), and a required publisher must equal publisher_hex
// ignoring ASCII case (PublisherMismatch).
Result<void> check_bundle_signature(const BundleManifest& manifest,
                                    const std::optional<std::string>& require_publisher,
                                    RequireSignature require_signature);

}  // namespace srb
