// The public C++ functions: each converts the request, calls the subsystem and converts back.

#include <sarn_runtime_bundle/bundle.hpp>

#include "api/convert.hpp"
#include "core/hex.hpp"
#include "location/bundle_path.hpp"
#include "manifest/digest.hpp"
#include "signing/identity.hpp"

namespace sarn_runtime_bundle {

static_assert(SYSTEM_BUNDLE_ROOT == srb::SYSTEM_BUNDLE_ROOT,
              "the public header states the system root the library resolves to");

namespace {

BundleManifest as_public(srb::BundleManifest manifest) {
  return srb::to_public(std::move(manifest));
}
std::string as_is(std::string text) {
  return text;
}

}  // namespace

Result<std::string> render_manifest(const BundleManifest& manifest) {
  return srb::to_public(srb::render_manifest(srb::to_internal(manifest)), as_is);
}

Result<BundleManifest> parse_manifest(std::string_view text) {
  return srb::to_public(srb::parse_manifest(text), as_public);
}

Result<BundleManifest> load_manifest(const std::filesystem::path& bundle_dir) {
  return srb::to_public(srb::load_manifest(bundle_dir), as_public);
}

std::string compute_root_hash(std::span<const BundleFile> files) {
  return srb::compute_root_hash(srb::to_internal(files));
}

Result<BundleManifest> verify_bundle(const VerifyRequest& request) {
  return srb::to_public(srb::verify_bundle(srb::to_internal(request)), as_public);
}

Result<BundleManifest> build_bundle(const BuildRequest& request) {
  return srb::to_public(srb::build_bundle(srb::to_internal(request)), as_public);
}

Result<std::string> resolve_bundle_path(std::string_view version, SystemOnly system) {
  const srb::SystemOnly internal =
      system == SystemOnly::yes ? srb::SystemOnly::yes : srb::SystemOnly::no;
  return srb::to_public(srb::resolve_bundle_path(version, internal), as_is);
}

Result<std::string> generate_identity(const std::filesystem::path& out) {
  return srb::to_public(srb::generate_identity(out), as_is);
}

Result<std::string> identity_public_key(const std::filesystem::path& path) {
  return srb::to_public(srb::load_identity(path), [](const srb::SigningKey& key) {
    return srb::encode_hex(key.public_key());
  });
}

}  // namespace sarn_runtime_bundle
