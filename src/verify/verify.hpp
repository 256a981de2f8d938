#pragma once
// The verify command: check that a directory is an intact bundle. Reads, never writes.

#include <filesystem>
#include <optional>
#include <string>

#include "core/result.hpp"
#include "manifest/manifest.hpp"
#include "signing/signature.hpp"

namespace srb {

struct VerifyRequest {
  std::filesystem::path bundle_dir;
  std::optional<std::string> require_arch;
  std::optional<std::string> require_publisher;
  RequireSignature require_signature = RequireSignature::no;
  std::optional<std::string> require_version;  // the manifest's version, byte for byte
};

// Returns the manifest as read, or the first failure found.
Result<BundleManifest> verify_bundle(const VerifyRequest& request);

}  // namespace srb
