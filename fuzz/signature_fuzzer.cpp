// The signature check on fuzzed version, root_hash, publisher_hex and signature_hex texts and
// requirements. Properties: a manifest missing either field passes exactly when nothing is
// required; the outcome never depends on the case of the hex fields; failures are only the
// four signature kinds. In "signed" mode the fields come from sign_manifest with a fixed key:
// the check must pass (also with the publisher required in upper case) and must fail once the
// version is changed.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "fuzz_check.hpp"
#include "signing/signature.hpp"

namespace {

using srb::RequireSignature;

std::string upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

const srb::SigningKey& fixed_key() {
  static const srb::SigningKey key = [] {
    std::array<unsigned char, 32> seed{};
    for (std::size_t i = 0; i < seed.size(); ++i)
      seed[i] = static_cast<unsigned char>(7 * i + 1);
    return srb::SigningKey::from_seed(seed).value();
  }();
  return key;
}

// Kind index and, for a malformed field, which field: what the case of hex digits may not change.
std::pair<std::size_t, std::string> outcome(const srb::Result<void>& result) {
  if (result) return {SIZE_MAX, ""};
  const auto* malformed = std::get_if<srb::MalformedSignatureField>(&result.error());
  return {result.error().index(), malformed ? malformed->field : ""};
}

bool is_signature_kind(const srb::BundleError& error) {
  return std::holds_alternative<srb::SignatureRequired>(error) ||
         std::holds_alternative<srb::MalformedSignatureField>(error) ||
         std::holds_alternative<srb::SignatureInvalid>(error) ||
         std::holds_alternative<srb::PublisherMismatch>(error);
}

void check_signed(srb::BundleManifest manifest) {
  const srb::BundleSignature signature =
      srb::sign_manifest(fixed_key(), manifest.version, manifest.root_hash).value();
  manifest.publisher_hex = signature.publisher_hex;
  manifest.signature_hex = upper(signature.signature_hex);
  FUZZ_CHECK(
      srb::check_bundle_signature(manifest, upper(signature.publisher_hex), RequireSignature::yes));
  manifest.version += 'x';
  const srb::Result<void> tampered =
      srb::check_bundle_signature(manifest, std::nullopt, RequireSignature::no);
  FUZZ_CHECK(!tampered && std::holds_alternative<srb::SignatureInvalid>(tampered.error()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const auto mode = in.ConsumeIntegral<std::uint8_t>();
  srb::BundleManifest manifest;
  manifest.version = in.ConsumeRandomLengthString(64);
  manifest.root_hash = in.ConsumeRandomLengthString(80);
  if (mode & 0x10) return check_signed(manifest), 0;

  if (mode & 1) manifest.publisher_hex = in.ConsumeRandomLengthString(80);
  if (mode & 2) manifest.signature_hex = in.ConsumeRandomLengthString(160);
  std::optional<std::string> require_publisher;
  if (mode & 4) require_publisher = in.ConsumeRandomLengthString(80);
  const RequireSignature require = (mode & 8) ? RequireSignature::yes : RequireSignature::no;

  const srb::Result<void> result =
      srb::check_bundle_signature(manifest, require_publisher, require);
  if (!manifest.publisher_hex || !manifest.signature_hex) {
    const bool required = require_publisher || require == RequireSignature::yes;
    FUZZ_CHECK(result.has_value() == !required);
    if (!result) FUZZ_CHECK(std::holds_alternative<srb::SignatureRequired>(result.error()));
    return 0;
  }
  if (!result) FUZZ_CHECK(is_signature_kind(result.error()));

  srb::BundleManifest shouted = manifest;
  shouted.publisher_hex = upper(*manifest.publisher_hex);
  shouted.signature_hex = upper(*manifest.signature_hex);
  FUZZ_CHECK(outcome(srb::check_bundle_signature(shouted, require_publisher, require)) ==
             outcome(result));
  return 0;
}
