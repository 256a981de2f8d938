// The C interface to verifying, building and identities.

#include "api/c_layer.hpp"
#include "core/hex.hpp"
#include "signing/identity.hpp"

namespace srb::c_layer {
namespace {

srb::Result<std::string> identity_public_key_hex(const std::filesystem::path& file) {
  TRY_ASSIGN(const srb::SigningKey key, srb::load_identity(file));
  return srb::encode_hex(key.public_key());
}

bool build_request_names_files(const srb::BuildRequest& request) {
  if (!names_a_file(request.out.native()) || !names_a_file(request.from.native())) return false;
  if (request.identity && !names_a_file(request.identity->native())) return false;
  for (const std::string& include : request.includes)
    if (!names_a_file(include)) return false;
  return true;
}

}  // namespace
}  // namespace srb::c_layer

using namespace srb::c_layer;  // NOLINT: the helpers of every C function here

extern "C" {

srb_verify_request* srb_verify_request_new(const char* bundle_dir, size_t length) {
  const std::optional<std::string_view> dir = text_of(bundle_dir, length);
  return new_handle<srb_verify_request>([&](srb_verify_request& request) {
    if (!dir) return false;
    request.request.bundle_dir = std::string(*dir);
    return true;
  });
}
int srb_verify_request_require_arch(srb_verify_request* request, const char* arch, size_t length) {
  return copy_into(request, arch, length,
                   [&](std::string text) { request->request.require_arch = std::move(text); });
}
int srb_verify_request_require_version(srb_verify_request* request, const char* version,
                                       size_t length) {
  return copy_into(request, version, length,
                   [&](std::string text) { request->request.require_version = std::move(text); });
}
int srb_verify_request_require_publisher(srb_verify_request* request, const char* publisher_hex,
                                         size_t length) {
  return copy_into(request, publisher_hex, length,
                   [&](std::string text) { request->request.require_publisher = std::move(text); });
}
void srb_verify_request_require_signature(srb_verify_request* request, int required) {
  if (request == nullptr) return;
  request->request.require_signature =
      required ? srb::RequireSignature::yes : srb::RequireSignature::no;
}
void srb_verify_request_free(srb_verify_request* request) {
  delete request;
}

srb_manifest* srb_verify(const srb_verify_request* request, srb_error** error) {
  return call(
      error,
      [&] {
        if (request == nullptr || !names_a_file(request->request.bundle_dir.native()))
          return refused<srb::BundleManifest>();
        srb::Result<srb::VerifiedBundle> verified = srb::verify_bundle(request->request);
        if (!verified)
          return result_of(srb::Result<srb::BundleManifest>(std::move(verified).error()));
        return result_of(srb::Result<srb::BundleManifest>(std::move(verified->manifest)));
      },
      manifest_handle);
}

srb_build_request* srb_build_request_new(const char* version, size_t version_length,
                                         const char* out, size_t out_length) {
  const std::optional<std::string_view> tag = text_of(version, version_length);
  const std::optional<std::string_view> out_dir = text_of(out, out_length);
  return new_handle<srb_build_request>([&](srb_build_request& request) {
    if (!tag || !out_dir) return false;
    request.request.version = std::string(*tag);
    request.request.out = std::string(*out_dir);
    return true;
  });
}
int srb_build_request_set_from(srb_build_request* request, const char* host_root, size_t length) {
  return copy_into(request, host_root, length,
                   [&](std::string text) { request->request.from = std::move(text); });
}
int srb_build_request_set_arch(srb_build_request* request, const char* arch, size_t length) {
  return copy_into(request, arch, length,
                   [&](std::string text) { request->request.arch = std::move(text); });
}
int srb_build_request_set_identity(srb_build_request* request, const char* identity_path,
                                   size_t length) {
  return copy_into(request, identity_path, length, [&](std::string text) {
    request->request.identity = std::filesystem::path(std::move(text));
  });
}
int srb_build_request_add_include(srb_build_request* request, const char* path, size_t length) {
  return copy_into(request, path, length, [&](std::string text) {
    request->request.includes.emplace_back(std::move(text));
  });
}
void srb_build_request_free(srb_build_request* request) {
  delete request;
}

srb_manifest* srb_build(const srb_build_request* request, srb_error** error) {
  return call(
      error,
      [&] {
        if (request == nullptr || !build_request_names_files(request->request))
          return refused<srb::BundleManifest>();
        return result_of(srb::build_bundle(request->request));
      },
      manifest_handle);
}

char* srb_identity_generate(const char* out, size_t length, srb_error** error) {
  return call(
      error, [&] { return on_path<std::string>(out, length, srb::generate_identity); },
      malloc_text);
}
char* srb_identity_public_key(const char* path, size_t length, srb_error** error) {
  return call(
      error, [&] { return on_path<std::string>(path, length, identity_public_key_hex); },
      malloc_text);
}
}  // extern "C"
