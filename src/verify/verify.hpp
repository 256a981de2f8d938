#pragma once
// The verify command: check that a directory is an intact bundle. Reads, never writes.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

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

// The first bytes of the listed files that `wanted` picks, read from the very descriptor verify
// digests, so that whoever judges them (a launcher choosing its loader by its ELF header) judges
// the file that was verified rather than whatever a second open would find.
struct FileHeads {
  std::function<bool(std::string_view path)> wanted;
  std::size_t size = 64;
  std::map<std::string, std::string, std::less<>> heads;  // bundle path -> up to `size` bytes
};

// Returns the manifest as read, or the first failure found. With `heads`, also fills in the
// first bytes of the files it wants.
Result<BundleManifest> verify_bundle(const VerifyRequest& request, FileHeads* heads = nullptr);

}  // namespace srb
