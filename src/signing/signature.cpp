#include "signing/signature.hpp"

#include <vector>

#include "core/hex.hpp"
#include "manifest/digest.hpp"

// The signature binds the version tag and the root hash, nothing else: the root hash already
// covers every payload path and digest. Checking runs the cheap textual tests first, the
// publisher field completely before the signature field, then the point decoding, the
// signature equation, and last the caller's publisher requirement, so a wrong key is reported
// only for a signature that holds.

namespace srb {
namespace {

// The domain's trailing zero byte is part of it: 23 bytes.
constexpr std::string_view kSignatureDomain{"sarn-runtime-bundle-v1\0", 23};

Result<std::vector<unsigned char>> decode_field(std::string field, std::string_view text,
                                                std::size_t expected) {
  HexDecoded decoded = decode_hex(text);
  if (decoded.error)
    return MalformedSignatureField{.field = std::move(field), .detail = *decoded.error};
  if (decoded.bytes.size() != expected) {
    return MalformedSignatureField{.field = std::move(field),
                                   .detail = "expected " + std::to_string(expected) +
                                             " bytes, got " + std::to_string(decoded.bytes.size())};
  }
  return std::move(decoded.bytes);
}

bool equals_ignoring_ascii_case(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

std::array<unsigned char, 32> signing_digest(std::string_view version, std::string_view root_hash) {
  return blake3_of({kSignatureDomain, version, root_hash});
}

Result<BundleSignature> sign_manifest(const SigningKey& key, std::string_view version,
                                      std::string_view root_hash) {
  TRY_ASSIGN(const Signature signature, key.sign(signing_digest(version, root_hash)));
  return BundleSignature{.publisher_hex = encode_hex(key.public_key()),
                         .signature_hex = encode_hex(signature)};
}

Result<void> check_bundle_signature(const BundleManifest& manifest,
                                    const std::optional<std::string>& require_publisher,
                                    RequireSignature require_signature) {
  if (!manifest.publisher_hex || !manifest.signature_hex) {
    if (require_publisher || require_signature == RequireSignature::yes) {
      return SignatureRequired{};
    }
    return {};
  }
  TRY_ASSIGN(const auto publisher, decode_field("publisher_hex", *manifest.publisher_hex, 32));
  TRY_ASSIGN(const auto signature, decode_field("signature_hex", *manifest.signature_hex, 64));
  const std::span<const unsigned char, 32> public_key(publisher.data(), 32);
  TRY_ASSIGN(const bool is_point, is_ed25519_point(public_key));
  if (!is_point) {
    return MalformedSignatureField{.field = "publisher_hex",
                                   .detail = "signature error: Cannot decompress Edwards point"};
  }
  const auto digest = signing_digest(manifest.version, manifest.root_hash);
  TRY_ASSIGN(
      const bool valid,
      verify_ed25519(public_key, digest, std::span<const unsigned char, 64>(signature.data(), 64)));
  if (!valid) {
    return SignatureInvalid{};
  }
  if (require_publisher &&
      !equals_ignoring_ascii_case(*require_publisher, *manifest.publisher_hex)) {
    return PublisherMismatch{.required = *require_publisher, .publisher = *manifest.publisher_hex};
  }
  return {};
}

}  // namespace srb
