#pragma once
// Signing identities: JSON files holding an Ed25519 secret key.

#include <filesystem>
#include <string>

#include <sarn_runtime_bundle/result.hpp>

namespace sarn_runtime_bundle {

// Writes a fresh identity to `out` (mode 0600) and returns its public key as lower-case hex.
SARN_RUNTIME_BUNDLE_API Result<std::string> generate_identity(const std::filesystem::path& out);

// The public key of the identity file at `path`, as lower-case hex.
SARN_RUNTIME_BUNDLE_API Result<std::string> identity_public_key(const std::filesystem::path& path);

}  // namespace sarn_runtime_bundle
