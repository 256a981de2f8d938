// The C interface to manifests: reading and changing one, loading, parsing, rendering and hashing.

#include "api/c_layer.hpp"
#include "manifest/digest.hpp"

namespace srb::c_layer {
namespace {

const BundleFile* file_at(const srb_manifest* manifest, size_t index) {
  if (manifest == nullptr || index >= manifest->manifest.files.size()) return nullptr;
  return &manifest->manifest.files[index];
}

template <typename Text>
const char* manifest_text(const srb_manifest* m, size_t* length, Text BundleManifest::*field) {
  return m ? lend(m->manifest.*field, length) : no_text(length);
}

template <typename Text>
int set_manifest_text(srb_manifest* m, const char* text, size_t length,
                      Text BundleManifest::*field) {
  return copy_into(m, text, length,
                   [&](std::string value) { m->manifest.*field = std::move(value); });
}

// A signature field: a null text removes it.
int set_signature_field(srb_manifest* m, const char* text, size_t length,
                        std::optional<std::string> BundleManifest::*field) {
  if (m != nullptr && text == nullptr) {
    (m->manifest.*field).reset();
    return 0;
  }
  return set_manifest_text(m, text, length, field);
}

}  // namespace
}  // namespace srb::c_layer

using namespace srb::c_layer;  // NOLINT: the helpers of every C function here

extern "C" {

const char* srb_manifest_version(const srb_manifest* m, size_t* length) {
  return manifest_text(m, length, &srb::BundleManifest::version);
}
const char* srb_manifest_arch(const srb_manifest* m, size_t* length) {
  return manifest_text(m, length, &srb::BundleManifest::arch);
}
const char* srb_manifest_root_hash(const srb_manifest* m, size_t* length) {
  return manifest_text(m, length, &srb::BundleManifest::root_hash);
}
uint64_t srb_manifest_produced_at(const srb_manifest* m) {
  return m ? m->manifest.produced_at : 0;
}
const char* srb_manifest_publisher_hex(const srb_manifest* m, size_t* length) {
  return manifest_text(m, length, &srb::BundleManifest::publisher_hex);
}
const char* srb_manifest_signature_hex(const srb_manifest* m, size_t* length) {
  return manifest_text(m, length, &srb::BundleManifest::signature_hex);
}
size_t srb_manifest_file_count(const srb_manifest* m) {
  return m ? m->manifest.files.size() : 0;
}
const char* srb_manifest_file_path(const srb_manifest* m, size_t index, size_t* length) {
  const srb::BundleFile* file = file_at(m, index);
  return file ? lend(file->path, length) : no_text(length);
}
const char* srb_manifest_file_hash(const srb_manifest* m, size_t index, size_t* length) {
  const srb::BundleFile* file = file_at(m, index);
  return file ? lend(file->hash, length) : no_text(length);
}
uint64_t srb_manifest_file_size(const srb_manifest* m, size_t index) {
  const srb::BundleFile* file = file_at(m, index);
  return file ? file->size : 0;
}
void srb_manifest_free(srb_manifest* manifest) {
  delete manifest;
}

srb_manifest* srb_manifest_new(void) {
  return new_handle<srb_manifest>([](srb_manifest&) { return true; });
}
int srb_manifest_set_version(srb_manifest* m, const char* version, size_t length) {
  return set_manifest_text(m, version, length, &srb::BundleManifest::version);
}
int srb_manifest_set_arch(srb_manifest* m, const char* arch, size_t length) {
  return set_manifest_text(m, arch, length, &srb::BundleManifest::arch);
}
int srb_manifest_set_root_hash(srb_manifest* m, const char* root_hash, size_t length) {
  return set_manifest_text(m, root_hash, length, &srb::BundleManifest::root_hash);
}
void srb_manifest_set_produced_at(srb_manifest* m, uint64_t produced_at) {
  if (m != nullptr) m->manifest.produced_at = produced_at;
}
int srb_manifest_set_publisher_hex(srb_manifest* m, const char* publisher_hex, size_t length) {
  return set_signature_field(m, publisher_hex, length, &srb::BundleManifest::publisher_hex);
}
int srb_manifest_set_signature_hex(srb_manifest* m, const char* signature_hex, size_t length) {
  return set_signature_field(m, signature_hex, length, &srb::BundleManifest::signature_hex);
}
int srb_manifest_add_file(srb_manifest* m, const char* path, size_t path_length, const char* hash,
                          size_t hash_length, uint64_t size) {
  const std::optional<std::string_view> hash_text = text_of(hash, hash_length);
  if (!hash_text) return -1;
  return copy_into(m, path, path_length, [&](std::string text) {
    m->manifest.files.push_back(
        {.path = std::move(text), .hash = std::string(*hash_text), .size = size});
  });
}

srb_manifest* srb_manifest_load(const char* bundle_dir, size_t length, srb_error** error) {
  return call(
      error, [&] { return on_path<srb::BundleManifest>(bundle_dir, length, srb::load_manifest); },
      manifest_handle);
}
srb_manifest* srb_manifest_parse(const char* text, size_t length, srb_error** error) {
  return call(
      error,
      [&] {
        const std::optional<std::string_view> content = text_of(text, length);
        if (!content) return refused<srb::BundleManifest>();
        return result_of(srb::parse_manifest(*content));
      },
      manifest_handle);
}
char* srb_manifest_render(const srb_manifest* manifest, size_t* length, srb_error** error) {
  return call(
      error,
      [&] {
        if (manifest == nullptr) return refused<std::string>();
        return result_of(srb::render_manifest(manifest->manifest));
      },
      [&](const std::string& text) { return malloc_copy(text, length); });
}
char* srb_manifest_compute_root_hash(const srb_manifest* manifest, srb_error** error) {
  return call(
      error,
      [&] {
        if (manifest == nullptr) return refused<std::string>();
        return CallResult<std::string>{srb::compute_root_hash(manifest->manifest.files), {}};
      },
      malloc_text);
}
}  // extern "C"
