#pragma once
// The record form of bundle.toml, and reading and writing it.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sarn_runtime_bundle/result.hpp>

namespace sarn_runtime_bundle {

// One payload entry. `path` is "/"-separated and relative to the bundle root ("lib/libc.so.6").
struct BundleFile {
  std::string path;
  std::string hash;  // BLAKE3 of the content: 64 lower-case hexadecimal characters
  std::uint64_t size = 0;
};

inline bool operator==(const BundleFile& a, const BundleFile& b) {
  return a.path == b.path && a.hash == b.hash && a.size == b.size;
}
inline bool operator!=(const BundleFile& a, const BundleFile& b) {
  return !(a == b);
}

struct BundleManifest {
  std::string version;
  std::string arch;
  std::string root_hash;
  std::vector<BundleFile> files;
  std::uint64_t produced_at = 0;  // seconds since the epoch
  std::optional<std::string> publisher_hex;
  std::optional<std::string> signature_hex;
};

inline bool operator==(const BundleManifest& a, const BundleManifest& b) {
  return a.version == b.version && a.arch == b.arch && a.root_hash == b.root_hash &&
         a.files == b.files && a.produced_at == b.produced_at &&
         a.publisher_hex == b.publisher_hex && a.signature_hex == b.signature_hex;
}
inline bool operator!=(const BundleManifest& a, const BundleManifest& b) {
  return !(a == b);
}

namespace detail {

// One text field of a manifest handle, whole even where it holds NUL.
inline std::optional<std::string> optional_field(const srb_manifest* handle,
                                                 const char* (*get)(const srb_manifest*,
                                                                    std::size_t*)) {
  std::size_t length = 0;
  const char* data = get(handle, &length);
  if (data == nullptr) return std::nullopt;
  return std::string(data, length);
}
inline std::string field(const srb_manifest* handle,
                         const char* (*get)(const srb_manifest*, std::size_t*)) {
  return optional_field(handle, get).value_or(std::string());
}
inline std::string file_field(const srb_manifest* handle, std::size_t index,
                              const char* (*get)(const srb_manifest*, std::size_t, std::size_t*)) {
  std::size_t length = 0;
  const char* data = get(handle, index, &length);
  return text(data, length);
}

// A manifest handle copied into the record.
inline BundleManifest manifest_of(const srb_manifest* handle) {
  BundleManifest manifest;
  manifest.version = field(handle, srb_manifest_version);
  manifest.arch = field(handle, srb_manifest_arch);
  manifest.root_hash = field(handle, srb_manifest_root_hash);
  manifest.produced_at = srb_manifest_produced_at(handle);
  manifest.publisher_hex = optional_field(handle, srb_manifest_publisher_hex);
  manifest.signature_hex = optional_field(handle, srb_manifest_signature_hex);
  const std::size_t count = srb_manifest_file_count(handle);
  manifest.files.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    BundleFile file;
    file.path = file_field(handle, i, srb_manifest_file_path);
    file.hash = file_field(handle, i, srb_manifest_file_hash);
    file.size = srb_manifest_file_size(handle, i);
    manifest.files.push_back(std::move(file));
  }
  return manifest;
}

inline Result<BundleManifest> manifest_result(srb_manifest* handle, srb_error* error) {
  return result_of<BundleManifest>(handle, error, manifest_of);
}

inline void set_optional(srb_manifest* handle, const std::optional<std::string>& value,
                         int (*set)(srb_manifest*, const char*, std::size_t)) {
  copied(value ? set(handle, value->data(), value->size()) : set(handle, nullptr, 0));
}

inline void add_files(srb_manifest* handle, const std::vector<BundleFile>& files) {
  for (const BundleFile& file : files)
    copied(srb_manifest_add_file(handle, file.path.data(), file.path.size(), file.hash.data(),
                                 file.hash.size(), file.size));
}

// The record as a handle for the C interface.
inline Owned<srb_manifest> manifest_handle(const BundleManifest& manifest) {
  Owned<srb_manifest> handle = made(srb_manifest_new());
  srb_manifest* m = handle.get();
  copied(srb_manifest_set_version(m, manifest.version.data(), manifest.version.size()));
  copied(srb_manifest_set_arch(m, manifest.arch.data(), manifest.arch.size()));
  copied(srb_manifest_set_root_hash(m, manifest.root_hash.data(), manifest.root_hash.size()));
  srb_manifest_set_produced_at(m, manifest.produced_at);
  set_optional(m, manifest.publisher_hex, srb_manifest_set_publisher_hex);
  set_optional(m, manifest.signature_hex, srb_manifest_set_signature_hex);
  add_files(m, manifest.files);
  return handle;
}

}  // namespace detail

// The exact text of bundle.toml for a manifest.
inline Result<std::string> render_manifest(const BundleManifest& manifest) {
  const detail::Owned<srb_manifest> handle = detail::manifest_handle(manifest);
  srb_error* error = nullptr;
  std::size_t length = 0;
  char* text = srb_manifest_render(handle.get(), &length, &error);
  return detail::text_result(text, length, error);
}

// A bundle.toml text as a record; fails with ManifestParse.
inline Result<BundleManifest> parse_manifest(std::string_view text) {
  srb_error* error = nullptr;
  srb_manifest* manifest = srb_manifest_parse(text.data(), text.size(), &error);
  return detail::manifest_result(manifest, error);
}

// Reads and parses bundle_dir/bundle.toml without checking the payload (verify_bundle does).
inline Result<BundleManifest> load_manifest(const std::filesystem::path& bundle_dir) {
  const std::string& dir = bundle_dir.native();
  srb_error* error = nullptr;
  srb_manifest* manifest = srb_manifest_load(dir.data(), dir.size(), &error);
  return detail::manifest_result(manifest, error);
}

// The root hash of a list of entries, in the order given: BLAKE3 over "path TAB hash LF" lines.
inline std::string compute_root_hash(const std::vector<BundleFile>& files) {
  const detail::Owned<srb_manifest> handle = detail::made(srb_manifest_new());
  detail::add_files(handle.get(), files);
  const detail::Owned<char> hash(srb_manifest_compute_root_hash(handle.get(), nullptr));
  if (hash == nullptr) throw std::bad_alloc();
  return hash.get();
}

}  // namespace sarn_runtime_bundle
