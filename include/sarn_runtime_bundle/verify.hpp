#pragma once
// Checking a bundle in-process, as a launcher does before it uses one.

#include <filesystem>
#include <optional>
#include <string>

#include <sarn_runtime_bundle/manifest.hpp>
#include <sarn_runtime_bundle/result.hpp>

namespace sarn_runtime_bundle {

enum class RequireSignature { no, yes };

struct VerifyRequest {
  std::filesystem::path bundle_dir;
  std::optional<std::string> require_arch;       // the manifest's arch, byte for byte
  std::optional<std::string> require_publisher;  // public key, hexadecimal, either case
  RequireSignature require_signature = RequireSignature::no;
};

// Every listed file present with its digest, nothing unlisted, the root hash, the signature and
// the requirements. Returns the manifest as read, or the first failure found. Reads, never
// writes, and reads nothing outside `bundle_dir`: a link in the bundle that leads out of it
// counts as nothing there. An empty `bundle_dir` fails with an i/o error "Invalid argument
// (os error 22)", as the command line refuses an empty directory.
SARN_RUNTIME_BUNDLE_API Result<BundleManifest> verify_bundle(const VerifyRequest& request);

}  // namespace sarn_runtime_bundle
