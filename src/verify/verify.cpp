#include "verify/verify.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "core/unique_fd.hpp"
#include "manifest/digest.hpp"
#include "verify/beneath.hpp"
#include "verify/listed_file.hpp"
#include "verify/payload_listing.hpp"

// verify_bundle checks a bundle in a fixed order and stops at the first failure: the manifest
// must load; the declared architecture must be the required one; every listed path must obey the
// payload-path rule, appear once, and name a regular file (not a link to one) whose digest is the
// listed one; nothing else may lie in the payload; the root hash recomputed over the path-sorted
// list must be the recorded one; and last the signature must hold. An invalid path is refused
// before anything is looked up for it.
//
// The bundle directory is opened once, and bundle.toml, the listing and every listed file are
// reached from that descriptor and never leave it (verify/beneath.hpp): a link inside the bundle
// that leads out of it, to /etc/shadow or into /proc, counts as nothing there, so verify neither
// reads nor quotes what lies outside, whoever prepared the bundle. Each listed file is judged by
// its descriptor (listed_file.cpp), so that swapping it for a FIFO, a device or a link can
// neither make verify wait nor feed it other bytes. Each listed file is read once; unlisted ones
// never are.

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

// Up to `size` bytes from the start of the file, leaving the offset where the digest starts.
Result<std::string> read_head(int fd, std::size_t size) {
  std::string head(size, '\0');
  std::size_t filled = 0;
  while (filled < size) {
    const ssize_t n = ::pread(fd, head.data() + filled, size - filled, static_cast<off_t>(filled));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Io{last_os_error()};
    if (n == 0) break;
    filled += static_cast<std::size_t>(n);
  }
  head.resize(filled);
  return head;
}

// One entry whose path is already known to be valid: present, a regular file itself, and holding
// the listed digest.
Result<void> check_entry(ListedFileOpener& opener, const BundleFile& file, FileHeads* heads) {
  TRY_ASSIGN(UniqueFd opened, opener.open(file.path));
  if (heads != nullptr && heads->wanted && heads->wanted(file.path)) {
    TRY_ASSIGN(std::string head, read_head(opened.get(), heads->size));
    heads->heads.insert_or_assign(file.path, std::move(head));
  }
  TRY_ASSIGN(const FileDigest digest, descriptor_digest(opened.get()));
  if (digest.hash != file.hash)
    return HashMismatch{.expected = file.hash, .computed = digest.hash, .path = file.path};
  opener.close_later(std::move(opened));
  return {};
}

// Whether a later entry repeats an earlier path. build lists paths sorted, and then a repeat
// follows its first appearance directly; any other order is remembered in a set.
class RepeatCheck {
 public:
  RepeatCheck(const std::vector<BundleFile>& files, bool sorted) : sorted_(sorted) {
    if (!sorted_) seen_.reserve(files.size());
  }

  bool repeats(std::string_view path) {
    if (!sorted_) return !seen_.insert(path).second;
    const bool repeat = previous_ == path;
    previous_ = path;
    return repeat;
  }

 private:
  bool sorted_;
  std::optional<std::string_view> previous_;
  std::unordered_set<std::string_view> seen_;
};

// Checks every entry in manifest order.
Result<void> check_entries(int bundle, const std::vector<BundleFile>& files, bool sorted,
                           FileHeads* heads) {
  ListedFileOpener opener(bundle);
  RepeatCheck repeat(files, sorted);
  for (const BundleFile& file : files) {
    if (!is_valid_payload_path(file.path)) return InvalidPayloadPath{file.path};
    if (repeat.repeats(file.path)) return InvalidPayloadPath{file.path};
    TRY(check_entry(opener, file, heads));
  }
  return {};
}

// The smallest entry of the listing that the manifest does not mention, by one walk of both in
// order. Only the manifest at the top is not payload; a deeper bundle.toml is an ordinary entry.
const std::string* first_unlisted(const PayloadListing& listing,
                                  const std::vector<BundleFile>& files, bool sorted) {
  std::vector<std::string_view> listed;
  listed.reserve(files.size());
  for (const BundleFile& file : files)
    listed.emplace_back(file.path);
  if (!sorted) std::sort(listed.begin(), listed.end());
  auto next = listed.begin();
  for (const std::string& entry : listing) {
    if (entry == "bundle.toml") continue;
    while (next != listed.end() && *next < entry)
      ++next;
    if (next == listed.end() || *next != entry) return &entry;
  }
  return nullptr;
}

// The manifest keeps its own order; the root hash is taken over a sorted copy. build writes the
// list sorted already, and then the copy would be the same list, so it is made only when needed.
std::string sorted_root_hash(const std::vector<BundleFile>& files, bool sorted) {
  if (sorted) return compute_root_hash(files);
  std::vector<BundleFile> copy = files;
  sort_by_path(copy);
  return compute_root_hash(copy);
}

Result<void> check_root_hash(const BundleManifest& manifest, bool sorted) {
  const std::string computed = sorted_root_hash(manifest.files, sorted);
  if (computed != manifest.root_hash)
    return HashMismatch{.expected = manifest.root_hash, .computed = computed, .path = {}};
  return {};
}

// bundle.toml as load_manifest reads it, but found below the bundle's descriptor: a status query
// that fails, or a link that leads out of the bundle, is a missing manifest.
Result<BundleManifest> load_manifest_beneath(int bundle, const std::filesystem::path& bundle_dir) {
  constexpr const char* kName = "bundle.toml";
  const UniqueFd status(open_beneath(bundle, kName, O_PATH));
  if (!status.is_open()) return ManifestMissing{bundle_dir / kName};
  TRY(check_manifest_file(status.get()));
  // O_NONBLOCK keeps the open itself from waiting should a FIFO have replaced the file.
  const UniqueFd file(open_beneath(bundle, kName, O_RDONLY | O_NONBLOCK | O_NOCTTY));
  if (!file.is_open()) return Io{last_os_error()};
  return read_manifest(file.get());
}

}  // namespace

Result<BundleManifest> verify_bundle(const VerifyRequest& request, FileHeads* heads) {
  // The command line refuses an empty DIR; here it would name the working directory.
  if (request.bundle_dir.empty()) return Io{os_error(EINVAL)};
  // Links in the bundle's own path are followed, as the user typed it.
  const UniqueFd bundle(::open(request.bundle_dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!bundle.is_open()) return ManifestMissing{request.bundle_dir / "bundle.toml"};
  TRY_ASSIGN(BundleManifest manifest, load_manifest_beneath(bundle.get(), request.bundle_dir));
  TRY(check_arch(manifest, request.require_arch));
  TRY(check_version(manifest, request.require_version));
  TRY_ASSIGN(const PayloadListing listing, collect_payload(bundle.get()));
  // The entries' order decides how repeats, unlisted entries and the root hash are found.
  const bool sorted = is_sorted_by_path(manifest.files);
  TRY(check_entries(bundle.get(), manifest.files, sorted, heads));
  if (const std::string* unlisted = first_unlisted(listing, manifest.files, sorted))
    return UnlistedPayloadFile{*unlisted};
  TRY(check_root_hash(manifest, sorted));
  TRY(check_bundle_signature(manifest, request.require_publisher, request.require_signature));
  return manifest;
}

}  // namespace srb
