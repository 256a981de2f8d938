#pragma once
// The record form of bundle.toml, and reading and writing it.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
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

  bool operator==(const BundleFile&) const = default;
};

struct BundleManifest {
  std::string version;
  std::string arch;
  std::string root_hash;
  std::vector<BundleFile> files;
  std::uint64_t produced_at = 0;  // seconds since the epoch
  std::optional<std::string> publisher_hex;
  std::optional<std::string> signature_hex;

  bool operator==(const BundleManifest&) const = default;
};

// The exact text of bundle.toml for a manifest.
SARN_RUNTIME_BUNDLE_API Result<std::string> render_manifest(const BundleManifest& manifest);

// A bundle.toml text as a record; fails with ManifestParse.
SARN_RUNTIME_BUNDLE_API Result<BundleManifest> parse_manifest(std::string_view text);

// Reads and parses bundle_dir/bundle.toml without checking the payload (verify_bundle does).
SARN_RUNTIME_BUNDLE_API Result<BundleManifest> load_manifest(
    const std::filesystem::path& bundle_dir);

// The root hash of a list of entries, in the order given: BLAKE3 over "path TAB hash LF" lines.
SARN_RUNTIME_BUNDLE_API std::string compute_root_hash(std::span<const BundleFile> files);

}  // namespace sarn_runtime_bundle
