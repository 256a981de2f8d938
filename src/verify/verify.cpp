#include "verify/verify.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "core/confined_open.hpp"
#include "core/unique_fd.hpp"
#include "manifest/digest.hpp"
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
// reached from that descriptor and never leave it (core/confined_open.hpp): a link inside the
// bundle that leads out of it, to /etc/shadow or into /proc, counts as nothing there, so verify
// neither reads nor quotes what lies outside, whoever prepared the bundle. Each listed file is
// judged by its descriptor (listed_file.cpp), so that swapping it for a FIFO, a device or a link
// can neither make verify wait nor feed it other bytes. Each listed file is read once; unlisted
// ones never are.

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

// What verify keeps of a listed file's bytes as the digest reads them: the first
// kCheckedHeadSize, and whether a searched text occurs anywhere, across pieces too.
class ContentWatch {
 public:
  ContentWatch(CheckedFile& file, const std::string* text) : file_(file), text_(text) {}

  void operator()(std::string_view chunk) {
    if (file_.head.size() < kCheckedHeadSize)
      file_.head.append(chunk.substr(0, kCheckedHeadSize - file_.head.size()));
    if (text_ == nullptr || file_.holds_text || text_->empty()) return;
    // The end of the previous piece joined to this one finds a text that straddles them.
    tail_.append(chunk.substr(0, text_->size() - 1));
    if (tail_.find(*text_) != std::string::npos || chunk.find(*text_) != std::string_view::npos)
      file_.holds_text = true;
    tail_.assign(chunk.substr(chunk.size() - std::min(chunk.size(), text_->size() - 1)));
  }

 private:
  CheckedFile& file_;
  const std::string* text_;  // none when this file is not searched
  std::string tail_;
};

// The text to look for in `path`, when a request searches that file.
const std::string* search_text_for(const VerifyOptions& request, std::string_view path) {
  if (!request.search) return nullptr;
  const auto& paths = request.search->paths;
  if (std::find(paths.begin(), paths.end(), path) == paths.end()) return nullptr;
  return &request.search->text;
}

// One entry whose path is already known to be valid: present, a regular file itself, and holding
// the listed digest. Its status and what the digest read of it join the record.
Result<void> check_entry(int bundle, const BundleFile& file, const VerifyOptions& request,
                         std::vector<CheckedFile>& checked) {
  TRY_ASSIGN(OpenedListedFile opened, open_listed_file(bundle, file.path));
  CheckedFile record{file.path, checked_status(opened.status), {}, false};
  ContentWatch watch(record, search_text_for(request, file.path));
  TRY_ASSIGN(const FileDigest digest, descriptor_digest(opened.fd.get(), std::ref(watch)));
  if (digest.hash != file.hash)
    return HashMismatch{.expected = file.hash, .computed = digest.hash, .path = file.path};
  checked.push_back(std::move(record));
  return {};
}

// Where in the manifest the first entry stands that repeats an earlier entry's path, or npos. In
// path order, entries of one path are neighbours and keep the manifest's order among them, so
// every entry after the first of its path repeats one.
std::size_t first_repeat(const std::vector<BundleFile>& files,
                         const std::vector<const BundleFile*>& by_path) {
  std::size_t first = std::string::npos;
  for (std::size_t i = 1; i < by_path.size(); ++i) {
    if (by_path[i]->path == by_path[i - 1]->path)
      first = std::min(first, static_cast<std::size_t>(by_path[i] - files.data()));
  }
  return first;
}

// Checks every entry in manifest order; the one at `repeat` repeats an earlier path.
Result<std::vector<CheckedFile>> check_entries(int bundle, const std::vector<BundleFile>& files,
                                               std::size_t repeat, const VerifyOptions& request) {
  std::vector<CheckedFile> checked;
  checked.reserve(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    const BundleFile& file = files[i];
    if (!is_valid_payload_path(file.path) || i == repeat) return InvalidPayloadPath{file.path};
    TRY(check_entry(bundle, file, request, checked));
  }
  return checked;
}

// The smallest entry of the listing that the manifest does not mention, by one walk of both in
// path order. Only the manifest at the top is not payload; a deeper bundle.toml is an ordinary
// entry.
const std::string* first_unlisted(const std::vector<std::string>& listing,
                                  const std::vector<const BundleFile*>& by_path) {
  auto next = by_path.begin();
  for (const std::string& entry : listing) {
    if (entry == "bundle.toml") continue;
    while (next != by_path.end() && (*next)->path < entry)
      ++next;
    if (next == by_path.end() || (*next)->path != entry) return &entry;
  }
  return nullptr;
}

// The manifest keeps its own order; the root hash is taken in path order.
Result<void> check_root_hash(const BundleManifest& manifest,
                             const std::vector<const BundleFile*>& by_path) {
  const std::string computed = compute_root_hash(by_path);
  if (computed != manifest.root_hash)
    return HashMismatch{.expected = manifest.root_hash, .computed = computed, .path = {}};
  return {};
}

// Opening the bundle directory or bundle.toml fails as "not found" when the lookup finds nothing
// there (missing, a link that leads nowhere or out of the bundle, a directory that may not be
// searched), but as the i/o error it is when the system fails (EMFILE, ENOMEM, EIO...).
Result<UniqueFd> opened_or_missing(int fd, const std::filesystem::path& manifest_path) {
  if (fd >= 0) return UniqueFd(fd);
  if (classify_open_failure(errno) == OpenFailure::fault) return Io{last_os_error()};
  return ManifestMissing{manifest_path};
}

// bundle.toml as load_manifest reads it, but found below the bundle's descriptor. A file that
// is there but may not be read is an i/o error; its status needs no read permission.
Result<UniqueFd> open_manifest(int bundle, const std::filesystem::path& manifest_path) {
  constexpr const char* kName = "bundle.toml";
  // O_NONBLOCK keeps the open itself from waiting should a FIFO have replaced the file.
  const int fd =
      open_confined(bundle, kName, O_RDONLY | O_NONBLOCK | O_NOCTTY, Confinement::beneath);
  if (fd >= 0 || (errno != EACCES && errno != ENXIO && errno != ENODEV))
    return opened_or_missing(fd, manifest_path);
  const int error = errno;
  TRY_ASSIGN(
      const UniqueFd status,
      opened_or_missing(open_confined(bundle, kName, O_PATH, Confinement::beneath), manifest_path));
  // Something stands there that is no file to read: say what it is, as for any manifest.
  TRY(check_manifest_file(status.get()));
  return Io{os_error(error)};
}

}  // namespace

Result<VerifiedBundle> verify_bundle(const VerifyOptions& request) {
  // The command line refuses an empty DIR; here it would name the working directory.
  if (request.bundle_dir.empty()) return Io{os_error(EINVAL)};
  const std::filesystem::path manifest_path = request.bundle_dir / "bundle.toml";
  // Links in the bundle's own path are followed, as the user typed it.
  TRY_ASSIGN(const UniqueFd bundle,
             opened_or_missing(::open(request.bundle_dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC),
                               manifest_path));
  VerifiedBundle verified;
  {
    TRY_ASSIGN(const UniqueFd file, open_manifest(bundle.get(), manifest_path));
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) return Io{last_os_error()};
    verified.manifest_file = checked_status(status);
    TRY_ASSIGN(verified.manifest, read_manifest(file.get()));
  }
  const BundleManifest& manifest = verified.manifest;
  TRY(check_arch(manifest, request.require_arch));
  TRY(check_version(manifest, request.require_version));
  TRY_ASSIGN(PayloadListing listing, collect_payload(bundle.get()));
  verified.directories = std::move(listing.directories);
  // Repeats, unlisted entries and the root hash are all found in path order.
  const std::vector<const BundleFile*> by_path = sorted_by_path(manifest.files);
  TRY_ASSIGN(verified.files, check_entries(bundle.get(), manifest.files,
                                           first_repeat(manifest.files, by_path), request));
  if (const std::string* unlisted = first_unlisted(listing.entries, by_path))
    return UnlistedPayloadFile{*unlisted};
  TRY(check_root_hash(manifest, by_path));
  TRY(check_bundle_signature(manifest, request.require_publisher, request.require_signature));
  return verified;
}

}  // namespace srb
