#include "api/convert.hpp"

#include <variant>

namespace srb {

// The C header numbers every kind; a kind added to BundleError needs its number there first.
static_assert(std::variant_size_v<BundleError> == SRB_ERROR_VERSION_MISMATCH,
              "a new BundleError kind needs its stable number in sarn_runtime_bundle.h");

api::ErrorKind error_kind(const BundleError& error) {
  return static_cast<api::ErrorKind>(error.index() + 1);
}

api::Error to_public(const BundleError& error) {
  return api::Error{.kind = error_kind(error), .message = message(error)};
}

api::BundleManifest to_public(BundleManifest manifest) {
  api::BundleManifest out{.version = std::move(manifest.version),
                          .arch = std::move(manifest.arch),
                          .root_hash = std::move(manifest.root_hash),
                          .files = {},
                          .produced_at = manifest.produced_at,
                          .publisher_hex = std::move(manifest.publisher_hex),
                          .signature_hex = std::move(manifest.signature_hex)};
  out.files.reserve(manifest.files.size());
  for (BundleFile& file : manifest.files)
    out.files.push_back(
        {.path = std::move(file.path), .hash = std::move(file.hash), .size = file.size});
  return out;
}

std::vector<BundleFile> to_internal(std::span<const api::BundleFile> files) {
  std::vector<BundleFile> out;
  out.reserve(files.size());
  for (const api::BundleFile& file : files)
    out.push_back({.path = file.path, .hash = file.hash, .size = file.size});
  return out;
}

BundleManifest to_internal(const api::BundleManifest& manifest) {
  return BundleManifest{.version = manifest.version,
                        .arch = manifest.arch,
                        .root_hash = manifest.root_hash,
                        .files = to_internal(manifest.files),
                        .produced_at = manifest.produced_at,
                        .publisher_hex = manifest.publisher_hex,
                        .signature_hex = manifest.signature_hex};
}

VerifyRequest to_internal(const api::VerifyRequest& request) {
  return VerifyRequest{.bundle_dir = request.bundle_dir,
                       .require_arch = request.require_arch,
                       .require_publisher = request.require_publisher,
                       .require_signature = request.require_signature == api::RequireSignature::yes
                                                ? RequireSignature::yes
                                                : RequireSignature::no};
}

BuildRequest to_internal(const api::BuildRequest& request) {
  return BuildRequest{.version = request.version,
                      .out = request.out,
                      .from = request.from,
                      .arch = request.arch,
                      .identity = request.identity,
                      .includes = request.includes};
}

}  // namespace srb
