#include "build/rooted_open.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "core/confined_open.hpp"

// Whatever a resolution finds that means "not there" leaves the entry absent. Every other error
// is reported: a system call that fails for reasons of its own must not quietly empty the bundle.

namespace srb {
namespace {

using OpenedEntry = std::optional<UniqueFd>;

constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY;
constexpr int kRootFlags = O_PATH | O_DIRECTORY;

// A denied directory on the way hides the entry; anything else the system says is a failure.
Result<OpenedEntry> absent_or_error(int error) {
  const OpenFailure failure = classify_open_failure(error);
  if (is_nothing_there(failure) || failure == OpenFailure::denied) return std::nullopt;
  return Io{os_error(error)};
}

// EACCES is either a directory on the way that may not be searched (the entry is absent) or a
// final file that may not be read (a failure, as for any source that cannot be copied). An O_PATH
// open needs no read permission, so it tells the two apart.
Result<OpenedEntry> unreadable_or_absent(int root, std::string_view entry) {
  const UniqueFd probe(open_confined(root, entry, O_PATH, Confinement::in_root));
  if (probe.is_open()) return Io{os_error(EACCES)};
  return absent_or_error(errno);
}

// ELOOP for the root itself: too many links, or a magic link on the way. An ordinary open follows
// the same path up to the magic link, so only a loop makes it fail alike.
Result<OpenedEntry> loop_or_magic_link(const std::string& path) {
  const UniqueFd followed(::open(path.c_str(), kRootFlags | O_CLOEXEC));
  if (!followed.is_open() && errno == ELOOP) return std::nullopt;
  return Io{os_error(ELOOP)};
}

// The root as an absolute path, resolved from the running system's root directory: an empty root
// names the working directory, as it does when entries are joined to it as text.
Result<std::string> absolute_root(const std::filesystem::path& root) {
  if (root.native().starts_with('/')) return root.native();
  char cwd[PATH_MAX];
  if (::getcwd(cwd, sizeof cwd) == nullptr) return Io{last_os_error()};
  return root.empty() ? std::string(cwd) : std::string(cwd) + "/" + root.native();
}

}  // namespace

Result<std::optional<UniqueFd>> open_root_directory(const std::filesystem::path& root) {
  TRY_ASSIGN(const std::string path, absolute_root(root));
  const UniqueFd system_root(::open("/", kRootFlags | O_CLOEXEC));
  if (!system_root.is_open()) return Io{last_os_error()};
  const int fd = open_confined(system_root.get(), path, kRootFlags, Confinement::in_root);
  if (fd >= 0) return OpenedEntry(UniqueFd(fd));
  if (errno == ELOOP) return loop_or_magic_link(path);
  return absent_or_error(errno);
}

Result<std::optional<UniqueFd>> open_in_root(int root, std::string_view entry) {
  const int fd = open_confined(root, entry, kReadFlags, Confinement::in_root);
  if (fd >= 0) return OpenedEntry(UniqueFd(fd));
  if (errno == EACCES) return unreadable_or_absent(root, entry);
  return absent_or_error(errno);
}

}  // namespace srb
