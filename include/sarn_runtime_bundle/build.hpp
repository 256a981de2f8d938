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
inline Result<BundleManifest> build_bundle(const BuildRequest& request) {
  const std::string& out = request.out.native();
  const detail::Owned<srb_build_request> handle = detail::made(srb_build_request_new(
      request.version.data(), request.version.size(), out.data(), out.size()));
  srb_build_request* r = handle.get();
  const std::string& from = request.from.native();
  detail::copied(srb_build_request_set_from(r, from.data(), from.size()));
  if (request.arch)
    detail::copied(srb_build_request_set_arch(r, request.arch->data(), request.arch->size()));
  if (request.identity) {
    const std::string& identity = request.identity->native();
    detail::copied(srb_build_request_set_identity(r, identity.data(), identity.size()));
  }
  for (const std::filesystem::path& include : request.includes)
    detail::copied(
        srb_build_request_add_include(r, include.native().data(), include.native().size()));
  srb_error* error = nullptr;
  srb_manifest* manifest = srb_build(r, &error);
  return detail::manifest_result(manifest, error);
}

}  // namespace sarn_runtime_bundle
