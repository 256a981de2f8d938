#pragma once
// Signing identities: JSON files holding an Ed25519 secret key.

#include <filesystem>
#include <string>

#include <sarn_runtime_bundle/result.hpp>

namespace sarn_runtime_bundle {

// Writes a fresh identity to `out` (mode 0600) and returns its public key as lower-case hex.
inline Result<std::string> generate_identity(const std::filesystem::path& out) {
  srb_error* error = nullptr;
  char* key = srb_identity_generate(out.native().data(), out.native().size(), &error);
  return detail::text_result(key, error);
}

// The public key of the identity file at `path`, as lower-case hex.
inline Result<std::string> identity_public_key(const std::filesystem::path& path) {
  srb_error* error = nullptr;
  char* key = srb_identity_public_key(path.native().data(), path.native().size(), &error);
  return detail::text_result(key, error);
}

}  // namespace sarn_runtime_bundle
