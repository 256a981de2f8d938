#pragma once
// The bundle signature: Ed25519 over a BLAKE3 digest of the version and root-hash texts.

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "cli/result.hpp"
#include "manifest/manifest.hpp"
#include "signing/signing_key.hpp"

namespace srb {

// BLAKE3 of "sarn-runtime-bundle-v1\0", the version text and the root-hash text.
std::array<unsigned char, 32> signing_digest(std::string_view version, std::string_view root_hash);

struct BundleSignature {
  std::string publisher_hex;
  std::string signature_hex;
};
BundleSignature sign_manifest(const SigningKey& key, std::string_view version,
                              std::string_view root_hash);

enum class RequireSignature { no, yes };

// Checks a manifest's signature fields against the caller's requirements. Fails with
// SignatureRequired, MalformedSignatureField, SignatureInvalid or PublisherMismatch.
Result<void> check_bundle_signature(const BundleManifest& manifest,
                                    const std::optional<std::string>& require_publisher,
                                    RequireSignature require_signature);

}  // namespace srb
