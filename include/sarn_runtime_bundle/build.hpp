#pragma once
// Building a bundle: the host's loader and C runtime copied into a directory with its manifest.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <sarn_runtime_bundle/manifest.hpp>
#include <sarn_runtime_bundle/result.hpp>

namespace sarn_runtime_bundle {

struct BuildRequest {
  std::string version;
  std::filesystem::path out;
  std::filesystem::path from = "/";  // the host root probed
  std::optional<std::string> arch;   // absent: the architecture the library was built for
  std::optional<std::filesystem::path> identity;  // sign with this identity file
  std::vector<std::filesystem::path> includes;    // extra shared objects for lib/
};

// Builds the bundle and returns the manifest as written to bundle.toml. A failed build leaves
// what it already wrote.
SARN_RUNTIME_BUNDLE_API Result<BundleManifest> build_bundle(const BuildRequest& request);

}  // namespace sarn_runtime_bundle
