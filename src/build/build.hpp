#pragma once
// The build command: copy the host's loader and C runtime into a bundle directory and write its
// manifest last.

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "build/host_sources.hpp"
#include "core/result.hpp"
#include "manifest/manifest.hpp"

namespace srb {

struct BuildRequest {
  std::string version;
  std::filesystem::path out;
  std::filesystem::path from = "/";
  std::optional<std::string> arch;  // absent: the architecture the tool was built for
  std::optional<std::filesystem::path> identity;
  // Kept as text: a std::filesystem::path would split each into components that nothing reads.
  std::vector<std::string> includes;
};

// Builds the bundle and returns the manifest as written to bundle.toml.
// With `tables`, a build knows those architectures instead of the ones the program ships.
Result<BundleManifest> build_bundle(const BuildRequest& request,
                                    std::span<const HostSourceTable> tables = host_source_tables());

}  // namespace srb
