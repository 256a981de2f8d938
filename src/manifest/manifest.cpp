#include "manifest/manifest.hpp"

// Loads bundle.toml from a bundle directory, and the rule every payload path must follow.
// Loading checks the file's status (links followed) to tell a missing manifest from an
// unreadable one, reads it whole, insists on UTF-8, then parses it. Only a regular file is read:
// a FIFO would block the open until some writer appears, and a device such as /dev/zero would
// never end, so anything else is refused with an i/o error before a byte is read. So is a file
// over kMaxManifestBytes: a sparse file can claim any size without holding the bytes, and
// reading it would only exhaust memory.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "core/confined_open.hpp"
#include "core/text.hpp"
#include "core/unique_fd.hpp"

namespace srb {
namespace {

constexpr std::size_t kMaxManifestBytes = std::size_t{64} << 20;

// A directory fails as reading one would (EISDIR); any other non-regular file with EINVAL.
// Over the size limit: EFBIG, as a write past a file size limit reports.
Result<void> check_regular(const struct stat& status) {
  if (S_ISDIR(status.st_mode)) return Io{os_error(EISDIR)};
  if (!S_ISREG(status.st_mode)) return Io{os_error(EINVAL)};
  if (static_cast<std::uint64_t>(status.st_size) > kMaxManifestBytes) return Io{os_error(EFBIG)};
  return {};
}

Result<std::string> read_text(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return Io{last_os_error()};
  TRY(check_regular(status));

  // Read straight into a string sized from the status, so a large manifest is held once rather
  // than grown through copies; a file that grows meanwhile is still read to its end, unless that
  // takes it past the limit.
  std::string text(static_cast<std::size_t>(status.st_size) + 1, '\0');
  std::size_t filled = 0;
  for (;;) {
    if (filled == text.size()) {
      if (filled > kMaxManifestBytes) return Io{os_error(EFBIG)};
      text.resize(std::min(2 * text.size(), kMaxManifestBytes + 1));
    }
    const ssize_t n = read_some(fd, text.data() + filled, text.size() - filled);
    if (n < 0) return Io{last_os_error()};
    if (n == 0) break;
    filled += static_cast<std::size_t>(n);
  }
  text.resize(filled);
  if (!is_valid_utf8(text)) return Io{OsError{0, OsError::Fixed::not_utf8}};
  return text;
}

}  // namespace

Result<BundleManifest> load_manifest(const std::filesystem::path& bundle_dir) {
  const std::filesystem::path manifest_path = bundle_dir / "bundle.toml";
  struct stat status {};
  if (::stat(manifest_path.c_str(), &status) != 0) {
    // Nothing there is a missing manifest; a system that fails to answer is no such proof.
    if (classify_open_failure(errno) == OpenFailure::fault) return Io{last_os_error()};
    return ManifestMissing{manifest_path};
  }
  TRY(check_regular(status));
  // O_NONBLOCK keeps the open itself from waiting should a FIFO have replaced the file.
  const UniqueFd file(::open(manifest_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!file.is_open()) return Io{last_os_error()};
  return read_manifest(file.get());
}

Result<void> check_manifest_file(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return Io{last_os_error()};
  return check_regular(status);
}

Result<BundleManifest> read_manifest(int fd) {
  TRY_ASSIGN(const std::string text, read_text(fd));
  return parse_manifest(text);
}

bool is_valid_payload_path(std::string_view path) {
  if (path.empty() || path == "bundle.toml") return false;
  // TAB and LF would let a path forge lines of the root-hash input "path TAB digest LF". The
  // system ends a path at NUL, so "a NUL b" would be checked as the file "a": a manifest could
  // list a file that the payload does not hold.
  constexpr std::string_view kRefused("\\\t\n\0", 4);
  if (path.find_first_of(kRefused) != std::string_view::npos) return false;
  for (;;) {
    const std::size_t slash = path.find('/');
    const std::string_view component = path.substr(0, slash);
    if (component.empty() || component == "." || component == "..") return false;
    if (slash == std::string_view::npos) return true;
    path.remove_prefix(slash + 1);
  }
}

}  // namespace srb
