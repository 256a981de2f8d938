#pragma once
// The bundle.toml record, its exact writer, its reader, and the payload-path rule.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.hpp"

namespace srb {

// One payload entry. `path` is a bundle path: "/"-separated, relative to the bundle root.
struct BundleFile {
  std::string path;
  std::string hash;  // digest text: 64 lower-case hex characters
  std::uint64_t size = 0;

  bool operator==(const BundleFile&) const = default;
};

struct BundleManifest {
  std::string version;
  std::string arch;
  std::string root_hash;
  std::vector<BundleFile> files;
  std::uint64_t produced_at = 0;
  std::optional<std::string> publisher_hex;
  std::optional<std::string> signature_hex;

  bool operator==(const BundleManifest&) const = default;
};

// The exact text of bundle.toml. Fails with ManifestParse "out-of-range value for u64 type" when
// a size or produced_at exceeds 2^63 - 1, the largest TOML integer, and with ManifestParse
// "string value is not valid UTF-8" for a text that TOML cannot hold unchanged.
Result<std::string> render_manifest(const BundleManifest& manifest);

// Maps a TOML document onto the record. Fails with ManifestParse whose detail names line and
// column, shows the source line with a caret, then the reason; with Io in the rare case that a
// document nested many thousands of levels deep cannot get the stack it needs to be read. A
// document that reading through the general reader could take more than 768 MiB for (its tree,
// the parser's buffers and stack, and the record; bounded from the text before it is parsed)
// fails with ManifestParse; the writer's own layout is read without that limit.
Result<BundleManifest> parse_manifest(std::string_view text);

// Reads and parses bundle_dir/bundle.toml. Fails with ManifestMissing when its status cannot be
// queried, Io when it cannot be read, is not UTF-8 or is over 64 MiB (EFBIG, before a byte is
// read), ManifestParse when it does not parse.
Result<BundleManifest> load_manifest(const std::filesystem::path& bundle_dir);

// The status check load_manifest makes before it opens bundle.toml, on a descriptor of it (an
// O_PATH one will do): Io unless it is a regular file within the size limit.
Result<void> check_manifest_file(int fd);

// Reads and parses bundle.toml from `fd`, opened for reading by the caller (for example relative
// to the bundle directory, so that a link cannot lead elsewhere): the same checks and failures as
// load_manifest once the file is open.
Result<BundleManifest> read_manifest(int fd);

// True for a non-empty path other than "bundle.toml", with no backslash, TAB, line feed or NUL,
// whose "/"-separated components are all non-empty and neither "." nor "..".
bool is_valid_payload_path(std::string_view path);

}  // namespace srb
