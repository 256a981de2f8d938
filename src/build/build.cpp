#include "build/build.hpp"

#include <fcntl.h>

#include <optional>
#include <set>
#include <string_view>
#include <system_error>

#include "build/copy_file.hpp"
#include "build/host_sources.hpp"
#include "build/rooted_open.hpp"
#include "build/source_date_epoch.hpp"
#include "core/text.hpp"
#include "core/unique_fd.hpp"
#include "manifest/digest.hpp"
#include "signing/identity.hpp"
#include "signing/signature.hpp"

// A build selects the host source table before it touches the disk, creates out/lib, then copies
// in this order: the present table entries (mirrored under lib/), the includes (flat in lib/), the
// loader cache (etc/ld.so.cache). Only after all copying does it digest the copies, so what is
// hashed is what the bundle holds. The list is sorted by path, hashed into the root hash, signed
// when an identity is given, stamped with the production time and written as bundle.toml, once
// and last. A failure leaves whatever was copied so far and no new bundle.toml.

namespace srb {
namespace {

// One gathered file: where it sits in the bundle and the file that was written there.
struct SourceRecord {
  std::string bundle_path;
  std::filesystem::path destination;
};

using SourceRecords = std::vector<SourceRecord>;

// Creates the directory and its missing ancestors with 0777 before the umask.
Result<void> make_directories(const std::filesystem::path& directory) {
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (error) return Io{os_error(error.value())};
  return {};
}

// "lib/lib64" for "lib/lib64/libc.so.6".
std::string_view directory_of(std::string_view bundle_path) {
  return bundle_path.substr(0, bundle_path.rfind('/'));
}

// Copies one opened source to its bundle path under out, creating the parent directory first.
// Files mostly come in runs that share a directory (every include goes to lib/); the directory
// the previous file was copied into exists, so only a new one is created.
Result<void> gather(OpenedSource source, std::string bundle_path, const std::filesystem::path& out,
                    SourceRecords& records) {
  std::filesystem::path destination = out / bundle_path;
  if (records.empty() || directory_of(records.back().bundle_path) != directory_of(bundle_path)) {
    TRY(make_directories(destination.parent_path()));
  }
  TRY(copy_opened_source(source, destination));
  records.push_back({std::move(bundle_path), std::move(destination)});
  return {};
}

// The root the table entries and the loader cache come from. Under the running system's root
// directory they are plain host paths. Any other root is another system's: it is opened once, and
// its entries resolve inside it as that system would resolve them, so an absolute link in a
// sysroot names the sysroot's file and no link leads out of it.
struct SourceRoot {
  std::filesystem::path path;
  bool is_host = true;
  std::optional<UniqueFd> directory;  // another system's root; none when it cannot be opened
};

Result<SourceRoot> open_source_root(const std::filesystem::path& root) {
  SourceRoot source_root{root, is_root_directory(root), std::nullopt};
  if (!source_root.is_host) {
    TRY_ASSIGN(source_root.directory, open_root_directory(root));
  }
  return source_root;
}

// A table entry or the loader cache opened from the root, or nullopt when the root has none.
// The descriptor that shows the entry present is the one copied, so what was found is what the
// bundle holds.
Result<std::optional<OpenedSource>> open_root_entry(const SourceRoot& root,
                                                    std::string_view entry) {
  if (root.is_host) {
    const std::filesystem::path host_path = resolve_under_root(root.path, entry);
    if (!is_present(host_path)) return std::nullopt;
    TRY_ASSIGN(OpenedSource source, open_host_source(host_path));
    return std::optional<OpenedSource>(std::move(source));
  }
  if (!root.directory) return std::nullopt;
  TRY_ASSIGN(std::optional<UniqueFd> fd, open_in_root(root.directory->get(), entry));
  if (!fd) return std::nullopt;
  TRY_ASSIGN(OpenedSource source, as_build_source(std::move(*fd)));
  return std::optional<OpenedSource>(std::move(source));
}

Result<void> gather_table_entries(const HostSourceTable& table, const SourceRoot& root,
                                  const std::filesystem::path& out, SourceRecords& records) {
  for (std::string_view entry : table.entries) {
    TRY_ASSIGN(std::optional<OpenedSource> source, open_root_entry(root, entry));
    if (!source) continue;
    TRY(gather(std::move(*source), bundle_path_for_entry(entry), out, records));
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
Result<std::string> include_bundle_path(const std::filesystem::path& include) {
  if (!is_present(include)) return IncludeMissing{include};
  const std::optional<std::string_view> name = file_name_of(include.native());
  if (!name) return IncludeNoFileName{include};
  std::string bundle_path = "lib/" + lossy_utf8(*name);
  if (!is_valid_payload_path(bundle_path)) return IncludeInvalidFileName{include};
  return bundle_path;
}

// Includes are taken from the running system as typed, not from under the root. Each is checked
// in full before any of it is copied, so a refused include leaves no file behind.
Result<void> gather_includes(const std::vector<std::filesystem::path>& includes,
                             const std::filesystem::path& out, SourceRecords& records) {
  std::set<std::string> taken;
  for (const std::filesystem::path& include : includes) {
    TRY_ASSIGN(std::string bundle_path, include_bundle_path(include));
    // A second copy to the same bundle path would replace the first and list the path twice.
    if (!taken.insert(bundle_path).second) return DuplicateInclude{include};
    TRY_ASSIGN(OpenedSource source, open_host_source(include));
    TRY(gather(std::move(source), std::move(bundle_path), out, records));
  }
  return {};
}

Result<void> gather_loader_cache(const SourceRoot& root, const std::filesystem::path& out,
                                 SourceRecords& records) {
  TRY_ASSIGN(std::optional<OpenedSource> source, open_root_entry(root, kLoaderCacheHostPath));
  if (!source) return {};
  return gather(std::move(*source), std::string(kLoaderCacheBundlePath), out, records);
}

Result<std::vector<BundleFile>> digest_records(const SourceRecords& records) {
  std::vector<BundleFile> files;
  files.reserve(records.size());
  for (const SourceRecord& record : records) {
    TRY_ASSIGN(FileDigest digest, file_digest(record.destination));
    files.push_back({record.bundle_path, std::move(digest.hash), digest.size});
  }
  return files;
}

Result<void> sign(const std::filesystem::path& identity, BundleManifest& manifest) {
  TRY_ASSIGN(const SigningKey key, load_identity(identity));
  BundleSignature signature = sign_manifest(key, manifest.version, manifest.root_hash);
  manifest.publisher_hex = std::move(signature.publisher_hex);
  manifest.signature_hex = std::move(signature.signature_hex);
  return {};
}

// Creates or truncates the file with 0666 before the umask; no temporary file, no rename.
Result<void> write_text_file(const std::filesystem::path& path, std::string_view text) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!fd.is_open()) return Io{last_os_error()};
  TRY(write_all(fd.get(), text));
  return fd.close();
}

Result<SourceRecords> gather_sources(const BuildRequest& request, const HostSourceTable& table) {
  TRY_ASSIGN(const SourceRoot root, open_source_root(request.from));
  SourceRecords records;
  TRY(gather_table_entries(table, root, request.out, records));
  TRY(gather_includes(request.includes, request.out, records));
  TRY(gather_loader_cache(root, request.out, records));
  if (records.empty()) return NoBundleSources{candidate_paths(table, request.from)};
  return records;
}

}  // namespace

Result<BundleManifest> build_bundle(const BuildRequest& request) {
  // The architecture is settled before anything on disk is touched.
  TRY_ASSIGN(const HostSourceTable table,
             select_host_source_table(request.arch.value_or(std::string(kDefaultArch))));
  TRY(make_directories(request.out / "lib"));
  TRY_ASSIGN(const SourceRecords records, gather_sources(request, table));

  BundleManifest manifest;
  manifest.version = request.version;
  manifest.arch = std::string(table.arch);
  TRY_ASSIGN(manifest.files, digest_records(records));
  sort_by_path(manifest.files);
  manifest.root_hash = compute_root_hash(manifest.files);
  // The signature covers the version and root hash only, so it is made before produced_at.
  if (request.identity) TRY(sign(*request.identity, manifest));
  TRY_ASSIGN(manifest.produced_at, produced_at_now());

  TRY_ASSIGN(const std::string text, render_manifest(manifest));
  TRY(write_text_file(request.out / "bundle.toml", text));
  return manifest;
}

}  // namespace srb
