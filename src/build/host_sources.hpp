#pragma once
// The host source tables: for each supported architecture, the fixed and ordered list of absolute
// host paths (loaders first, then the C runtime libraries by directory) that a build probes.

#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.hpp"

namespace srb {

struct HostSourceTable {
  std::string_view arch;                      // "x86_64" or "aarch64"
  std::span<const std::string_view> entries;  // absolute host paths, in probing order
};

// The architecture this tool was compiled for, spelled like the table names. On an architecture
// without a table it is a name that selects none, so a build there needs an explicit --arch.
#if defined(__x86_64__)
inline constexpr std::string_view kDefaultArch = "x86_64";
#elif defined(__aarch64__)
inline constexpr std::string_view kDefaultArch = "aarch64";
#else
inline constexpr std::string_view kDefaultArch = "unknown";
#endif

// The host's loader cache: probed under the root like a table entry, but stored at the bundle
// root and never named among the candidates.
inline constexpr std::string_view kLoaderCacheHostPath = "/etc/ld.so.cache";
inline constexpr std::string_view kLoaderCacheBundlePath = "etc/ld.so.cache";

// Every table, x86_64 first.
std::span<const HostSourceTable> host_source_tables();

// The table whose name equals `arch` byte for byte (no trimming, no case folding, no aliases).
// Fails with UnsupportedArch carrying `arch` unchanged.
Result<HostSourceTable> select_host_source_table(std::string_view arch);

// True when `root` names the running system's root directory, compared component by component:
// "/", "//", "/." and "/./" do; "", "/.." and "/srv" do not.
bool is_root_directory(const std::filesystem::path& root);

// The host path that names `entry` under `root`. A root that is the root directory gives the
// entry unchanged; otherwise the entry loses its leading slashes and is appended to the root with
// one "/" (none when the root already ends in "/"; an empty root gives the bare remainder).
// Nothing is canonicalised. Under the root directory this is the path a build opens; under any
// other root it only names the entry (a build opens it inside the root, see rooted_open.hpp).
std::filesystem::path resolve_under_root(const std::filesystem::path& root, std::string_view entry);

// True when the path's status can be queried, following symbolic links. Every failure, whatever
// its cause, counts as absent; the file type is not looked at. The presence test of entries
// under the root directory.
bool is_present(const std::filesystem::path& host_path);

// "lib/" followed by the entry without its leading slashes: the mirrored bundle path. It depends
// on the entry only, never on the root.
std::string bundle_path_for_entry(std::string_view entry);

// Every entry of the table resolved under the root, in table order, present or not.
std::vector<std::filesystem::path> candidate_paths(const HostSourceTable& table,
                                                   const std::filesystem::path& root);

}  // namespace srb
