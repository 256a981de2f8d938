#pragma once
// The verify command: check that a directory is an intact bundle. Reads, never writes.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/result.hpp"
#include "manifest/manifest.hpp"
#include "signing/signature.hpp"
#include "verify/checked.hpp"

namespace srb {

struct VerifyOptions {
  std::filesystem::path bundle_dir;
  std::optional<std::string> require_arch;
  std::optional<std::string> require_publisher;
  RequireSignature require_signature = RequireSignature::no;
  std::optional<std::string> require_version;  // the manifest's version, byte for byte
  // A text to look for in the listed files at `paths`, in the bytes the digest reads, so that a
  // caller learns something of those files' content without reading them a second time.
  struct Search {
    std::string text;
    std::vector<std::string> paths;
  };
  std::optional<Search> search{};
};

// What verify checked, as it saw it through the descriptors it opened (all closed by the time it
// returns): the manifest as read, bundle.toml's status, every directory of the payload, and each
// listed file with its status and first bytes.
struct VerifiedBundle {
  BundleManifest manifest;
  CheckedStatus manifest_file;
  std::vector<CheckedDirectory> directories;  // the bundle directory first
  std::vector<CheckedFile> files;             // in the manifest's order
};

// Returns what was checked, or the first failure found.
Result<VerifiedBundle> verify_bundle(const VerifyOptions& request);

}  // namespace srb
