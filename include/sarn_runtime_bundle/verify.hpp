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
  // The manifest's version, byte for byte, checked right after the arch: a launcher passes the
  // tag it resolved, so that a bundle copied under another version's tag is refused.
  std::optional<std::string> require_version;
};

namespace detail {

inline void require(srb_verify_request* request, const std::optional<std::string>& value,
                    int (*set)(srb_verify_request*, const char*, std::size_t)) {
  if (value) copied(set(request, value->data(), value->size()));
}

inline Owned<srb_verify_request> verify_request_handle(const VerifyRequest& request) {
  const std::string& dir = request.bundle_dir.native();
  Owned<srb_verify_request> handle = made(srb_verify_request_new(dir.data(), dir.size()));
  require(handle.get(), request.require_arch, srb_verify_request_require_arch);
  require(handle.get(), request.require_version, srb_verify_request_require_version);
  require(handle.get(), request.require_publisher, srb_verify_request_require_publisher);
  srb_verify_request_require_signature(handle.get(),
                                       request.require_signature == RequireSignature::yes);
  return handle;
}

}  // namespace detail

// Every listed file present with its digest, nothing unlisted, the root hash, the signature and
// the requirements. Returns the manifest as read, or the first failure found. Reads, never
// writes, and reads nothing outside `bundle_dir`: a link in the bundle that leads out of it
// counts as nothing there. An empty `bundle_dir` fails with an i/o error "Invalid argument
// (os error 22)", as the command line refuses an empty directory.
inline Result<BundleManifest> verify_bundle(const VerifyRequest& request) {
  const detail::Owned<srb_verify_request> handle = detail::verify_request_handle(request);
  srb_error* error = nullptr;
  srb_manifest* manifest = srb_verify(handle.get(), &error);
  return detail::manifest_result(manifest, error);
}

}  // namespace sarn_runtime_bundle
