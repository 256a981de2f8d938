#include "build/build.hpp"

#include <unistd.h>

#include <optional>
#include <set>
#include <string_view>
#include <utility>

#include "build/build_steps.hpp"
#include "build/copy_file.hpp"
#include "build/host_sources.hpp"
#include "build/rooted_open.hpp"
#include "build/source_date_epoch.hpp"
#include "core/confined_write.hpp"
#include "core/join_path.hpp"
#include "core/text.hpp"
#include "core/unique_fd.hpp"
#include "manifest/digest.hpp"
#include "signing/identity.hpp"
#include "signing/signature.hpp"

// A build selects the host source table before it touches the disk, creates out/lib, then copies
// in this order: the present table entries (mirrored under lib/), the includes (flat in lib/), the
// loader cache (etc/ld.so.cache). Each copy is digested as it is made, read back through the
// descriptor that wrote it, so what is hashed is what the bundle holds. The list is sorted by path,
// hashed into the root hash, signed when an identity is given, stamped with the production time
// and written as bundle.toml, once and last. A failure leaves whatever was copied so far, each
// copy with its final bits, and no new bundle.toml.
//
// Everything below out is reached from a descriptor of out without following a link, so a link
// planted in an earlier bundle cannot redirect a write, and every file is created afresh rather
// than written into, so a hard link or a read-only leftover keeps its content.
//
// Under SOURCE_DATE_EPOCH everything written gets that time, so two builds of the same inputs
// make trees that pack identically: each copy before it is closed, each directory entered after
// the last copy, out after bundle.toml.

namespace srb {
namespace {

constexpr char kManifestName[] = "bundle.toml";
// Whatever the umask, nobody but the builder may change the manifest.
constexpr mode_t kManifestMode = 0644;

// "lib/lib64" and "libc.so.6" for "lib/lib64/libc.so.6". Every bundle path has a directory.
std::pair<std::string_view, std::string_view> split_bundle_path(std::string_view bundle_path) {
  const std::size_t slash = bundle_path.rfind('/');
  return {bundle_path.substr(0, slash), bundle_path.substr(slash + 1)};
}

// The open directory at a bundle path, created and entered on first use, its parent first. Files
// mostly come in runs that share a directory (every include goes to lib/), so each is walked to
// only once; and every directory on the way is kept, since each may need its time fixed at the
// end.
Result<int> bundle_directory(GatheredBundle& bundle, std::string_view path) {
  const auto known = bundle.directories.find(path);
  if (known != bundle.directories.end()) return known->second.get();
  const std::size_t slash = path.rfind('/');
  int parent = bundle.out_fd.get();
  std::string shown_parent = bundle.out;
  if (slash != std::string_view::npos) {
    TRY_ASSIGN(parent, bundle_directory(bundle, path.substr(0, slash)));
    shown_parent = join_path(bundle.out, path.substr(0, slash));
  }
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  TRY_ASSIGN(UniqueFd opened, make_directories_below(parent, name, shown_parent));
  const int fd = opened.get();
  bundle.directories.emplace(std::string(path), std::move(opened));
  return fd;
}

// Copies one opened source to its bundle path, creating the parent directory first, and lists
// the copy with its digest.
Result<void> gather(OpenedSource source, std::string bundle_path, GatheredBundle& bundle) {
  const auto [directory, name] = split_bundle_path(bundle_path);
  Destination destination;
  TRY_ASSIGN(destination.directory, bundle_directory(bundle, directory));
  destination.name = std::string(name);
  destination.shown = join_path(bundle.out, bundle_path);
  destination.time = bundle.time;
  destination.group = bundle.group;
  TRY_ASSIGN(FileDigest digest, copy_opened_source(source, destination));
  bundle.files.push_back({std::move(bundle_path), std::move(digest.hash), digest.size});
  return {};
}

// The root the table entries and the loader cache come from, opened once: its entries resolve
// inside it as its own system would resolve them, so an absolute link in a sysroot names the
// sysroot's file and no link leads out of it. The running system's root is opened the same way.
// None when the root cannot be opened: then it holds nothing.
using SourceRoot = std::optional<UniqueFd>;

// A table entry or the loader cache opened from the root, or nullopt when the root has none.
// The descriptor that shows the entry present is the one copied, so what was found is what the
// bundle holds.
Result<std::optional<OpenedSource>> open_root_entry(const SourceRoot& root,
                                                    std::string_view entry) {
  if (!root) return std::nullopt;
  TRY_ASSIGN(std::optional<UniqueFd> fd, open_in_root(root->get(), entry));
  if (!fd) return std::nullopt;
  TRY_ASSIGN(OpenedSource source, as_build_source(std::move(*fd)));
  return std::optional<OpenedSource>(std::move(source));
}

Result<void> gather_table_entries(const HostSourceTable& table, const SourceRoot& root,
                                  GatheredBundle& bundle) {
  for (const HostEntry& entry : table.entries) {
    TRY_ASSIGN(std::optional<OpenedSource> source, open_root_entry(root, entry.path));
    if (!source) continue;
    TRY(gather(std::move(*source), bundle_path_for_entry(entry.path), bundle));
  }
  return {};
}

// The last component of a path when it is a normal name. Trailing slashes and "." components
// name the same directory, so "dir/" and "dir/." are named "dir"; "/", ".", ".." and "dir/.."
// have no name.
std::optional<std::string_view> file_name_of(std::string_view path) {
  for (;;) {
    if (path.size() > 1 && path.ends_with('/')) {
      path.remove_suffix(1);
    } else if (path.size() > 2 && path.ends_with("/.")) {
      path.remove_suffix(1);
    } else {
      break;
    }
  }
  const std::string_view name = path.substr(path.find_last_of('/') + 1);
  if (name.empty() || name == "." || name == "..") return std::nullopt;
  return name;
}

// "lib/" and the include's file name, which must make a bundle path that verify accepts.
Result<std::string> include_bundle_path(const std::string& include) {
  const std::optional<std::string_view> name = file_name_of(include);
  if (!name) return IncludeNoFileName{include};
  std::string bundle_path = "lib/" + lossy_utf8(*name);
  if (!is_valid_payload_path(bundle_path)) return IncludeInvalidFileName{include};
  return bundle_path;
}

// Includes are taken from the running system as typed, not from under the root. Each is checked
// in full before any of it is copied, so a refused include leaves no file behind. The include is
// opened first, and an open that succeeds shows it present; only a failed one is looked at again,
// to tell a missing include from one that cannot be read, which fails after the name checks.
Result<void> gather_includes(const std::vector<std::string>& includes, GatheredBundle& bundle) {
  std::set<std::string> taken;
  for (const std::string& include : includes) {
    UniqueFd opened = open_host_file(include.c_str());
    const OsError open_error = opened.is_open() ? OsError{} : last_os_error();
    if (!opened.is_open() && !is_present(include)) return IncludeMissing{include};
    TRY_ASSIGN(std::string bundle_path, include_bundle_path(include));
    // A second copy to the same bundle path would replace the first and list the path twice.
    if (!taken.insert(bundle_path).second) return DuplicateInclude{include};
    if (!opened.is_open()) return Io{open_error};
    TRY_ASSIGN(OpenedSource source, as_build_source(std::move(opened)));
    TRY(gather(std::move(source), std::move(bundle_path), bundle));
  }
  return {};
}

Result<void> gather_loader_cache(const SourceRoot& root, GatheredBundle& bundle) {
  TRY_ASSIGN(std::optional<OpenedSource> source, open_root_entry(root, kLoaderCacheHostPath));
  if (!source) return {};
  return gather(std::move(*source), std::string(kLoaderCacheBundlePath), bundle);
}

Result<void> sign(const std::filesystem::path& identity, BundleManifest& manifest) {
  TRY_ASSIGN(const SigningKey key, load_identity(identity));
  TRY_ASSIGN(BundleSignature signature, sign_manifest(key, manifest.version, manifest.root_hash));
  manifest.publisher_hex = std::move(signature.publisher_hex);
  manifest.signature_hex = std::move(signature.signature_hex);
  return {};
}

}  // namespace

Result<GatheredBundle> gather_bundle(const BuildRequest& request, const HostSourceTable& table) {
  GatheredBundle bundle;
  bundle.out = request.out.native();
  bundle.time = tree_time_now();
  bundle.group = ::getegid();
  TRY_ASSIGN(bundle.out_fd, make_and_open_directory(request.out));
  TRY(bundle_directory(bundle, "lib"));
  TRY_ASSIGN(const SourceRoot root, open_root_directory(request.from));
  TRY(gather_table_entries(table, root, bundle));
  TRY(gather_includes(request.includes, bundle));
  TRY(gather_loader_cache(root, bundle));
  if (bundle.files.empty()) return NoBundleSources{candidate_paths(table, request.from)};
  return bundle;
}

Result<BundleManifest> finish_bundle(const BuildRequest& request, const HostSourceTable& table,
                                     GatheredBundle bundle) {
  BundleManifest manifest;
  manifest.version = request.version;
  manifest.arch = std::string(table.arch);
  manifest.files = std::move(bundle.files);
  sort_by_path(manifest.files);
  manifest.root_hash = compute_root_hash(manifest.files);
  // The signature covers the version and root hash only, so it is made before produced_at.
  if (request.identity) TRY(sign(*request.identity, manifest));
  TRY_ASSIGN(manifest.produced_at, produced_at_now());

  TRY_ASSIGN(const std::string text, render_manifest(manifest));
  // A directory's time changes with each entry made in it, so it is fixed after its last.
  for (const auto& [path, directory] : bundle.directories)
    TRY(fix_times(directory.get(), bundle.time));
  TRY(write_fresh_file(bundle.out_fd.get(), kManifestName, text, kManifestMode,
                       join_path(bundle.out, kManifestName), bundle.time));
  TRY(fix_times(bundle.out_fd.get(), bundle.time));
  return manifest;
}

Result<BundleManifest> build_bundle(const BuildRequest& request,
                                    std::span<const HostSourceTable> tables) {
  // The architecture is settled before anything on disk is touched.
  const std::string_view arch =
      request.arch ? std::string_view(*request.arch) : default_arch(tables);
  TRY_ASSIGN(const HostSourceTable table, select_host_source_table(arch, tables));
  TRY_ASSIGN(GatheredBundle bundle, gather_bundle(request, table));
  return finish_bundle(request, table, std::move(bundle));
}

}  // namespace srb
