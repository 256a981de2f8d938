#include "verify/verify.hpp"

#include <sys/stat.h>

#include <string_view>
#include <unordered_set>
#include <vector>

#include "manifest/digest.hpp"
#include "verify/listed_file.hpp"
#include "verify/payload_listing.hpp"

// verify_bundle checks a bundle in a fixed order and stops at the first failure: the manifest
// must load; the declared architecture must be the required one; every listed path must obey the
// payload-path rule, appear once, and name a regular file (not a link to one) whose digest is the
// listed one; nothing else may lie in the payload; the root hash recomputed over the path-sorted
// list must be the recorded one; and last the signature must hold. An invalid path is refused
// before anything is looked up for it. An entry that looks like a regular file is then opened and
// judged again by its descriptor (listed_file.cpp), so that swapping it for a FIFO, a device or a
// link after the first look can neither make verify wait nor feed it other bytes. Each listed
// file is read once; unlisted ones never are.

namespace srb {
namespace {

Result<void> check_arch(const BundleManifest& manifest,
                        const std::optional<std::string>& required) {
  if (required && manifest.arch != *required)
    return ArchMismatch{.arch = manifest.arch, .required = *required};
  return {};
}

// Right after the architecture, before any payload file is read: a bundle copied under another
// version's tag is refused without digesting it.
Result<void> check_version(const BundleManifest& manifest,
                           const std::optional<std::string>& required) {
  if (required && manifest.version != *required)
    return VersionMismatch{.version = manifest.version, .required = *required};
  return {};
}

// One entry whose path is already known to be valid: present, a regular file itself, and holding
// the listed digest.
Result<void> check_entry(const std::filesystem::path& bundle_dir, const BundleFile& file) {
  // A valid payload path is relative, so joining the texts is what std::filesystem would do.
  const std::string full = join_relative(bundle_dir.native(), file.path);
  struct stat status {};
  // For anything but a symbolic link, lstat answers what stat would, so one query serves most
  // entries; only a link needs the second, which tells a dangling one (missing) from the rest.
  if (::lstat(full.c_str(), &status) != 0) return MissingFromPayload{file.path};
  if (S_ISLNK(status.st_mode)) {
    if (::stat(full.c_str(), &status) != 0) return MissingFromPayload{file.path};
    return NotRegularFile{file.path};
  }
  if (!S_ISREG(status.st_mode)) return NotRegularFile{file.path};
  UniqueFd opened;
  TRY(open_listed_file(full, file.path, opened));
  TRY_ASSIGN(const FileDigest digest, descriptor_digest(opened.get()));
  if (digest.hash != file.hash)
    return HashMismatch{.expected = file.hash, .computed = digest.hash, .path = file.path};
  return {};
}

// Checks every entry in manifest order and strikes it from the listing, which then holds only
// what the manifest does not mention.
Result<void> check_entries(const std::filesystem::path& bundle_dir,
                           const std::vector<BundleFile>& files, PayloadListing& listing) {
  std::unordered_set<std::string_view> seen;
  seen.reserve(files.size());
  for (const BundleFile& file : files) {
    if (!is_valid_payload_path(file.path)) return InvalidPayloadPath{file.path};
    if (!seen.insert(file.path).second) return InvalidPayloadPath{file.path};
    TRY(check_entry(bundle_dir, file));
    listing.erase(file.path);
  }
  return {};
}

// The manifest keeps its own order; the root hash is taken over a sorted copy. build writes the
// list sorted already, and then the copy would be the same list, so it is made only when needed.
std::string sorted_root_hash(const std::vector<BundleFile>& files) {
  if (is_sorted_by_path(files)) return compute_root_hash(files);
  std::vector<BundleFile> sorted = files;
  sort_by_path(sorted);
  return compute_root_hash(sorted);
}

Result<void> check_root_hash(const BundleManifest& manifest) {
  const std::string computed = sorted_root_hash(manifest.files);
  if (computed != manifest.root_hash)
    return HashMismatch{.expected = manifest.root_hash, .computed = computed, .path = {}};
  return {};
}

}  // namespace

Result<BundleManifest> verify_bundle(const VerifyRequest& request) {
  TRY_ASSIGN(BundleManifest manifest, load_manifest(request.bundle_dir));
  TRY(check_arch(manifest, request.require_arch));
  TRY(check_version(manifest, request.require_version));
  TRY_ASSIGN(PayloadListing listing, collect_payload(request.bundle_dir));
  // Only the manifest at the top is not payload; a deeper bundle.toml is an ordinary entry.
  listing.erase("bundle.toml");
  TRY(check_entries(request.bundle_dir, manifest.files, listing));
  if (!listing.empty()) return UnlistedPayloadFile{listing.begin()->first};
  TRY(check_root_hash(manifest));
  TRY(check_bundle_signature(manifest, request.require_publisher, request.require_signature));
  return manifest;
}

}  // namespace srb
