#include "verify/listed_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <string_view>

#include "verify/beneath.hpp"

// The entry may be swapped for a FIFO, a device or a link at any moment, so it is judged by the
// descriptor alone: with O_NONBLOCK a FIFO opens without waiting for a writer, O_NOFOLLOW refuses
// a link, and fstat tells what was opened. The digest then reads that same descriptor, so no
// later swap reaches it either. Only a failed open is looked at again, with an O_PATH open that
// reads nothing, to tell a missing entry from a link or an unreadable file.

namespace srb {
namespace {

constexpr int kReadFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;

// What an open that failed with `error` says about the entry.
Result<UniqueFd> judge_unopened(int bundle, const std::string& path, int error) {
  switch (error) {
    case ELOOP: {
      // A final link, or too many links on the way. A link is not a regular file, but one that
      // leads nowhere inside the bundle counts as missing, as a failed stat would; one that leads
      // out (EXDEV) is not followed to find out whether anything is there.
      const UniqueFd target(open_beneath(bundle, path, O_PATH));
      if (target.is_open() || errno == EXDEV) return NotRegularFile{path};
      return MissingFromPayload{path};
    }
    case EACCES: {
      // A directory on the way that may not be searched (missing, as for stat), or a file that
      // may not be read (a failure): an O_PATH open needs no read permission.
      const UniqueFd entry(open_beneath(bundle, path, O_PATH | O_NOFOLLOW));
      if (entry.is_open()) return Io{os_error(EACCES)};
      return MissingFromPayload{path};
    }
    case ENXIO:  // a socket, or a device without its driver
    case ENODEV:
      return NotRegularFile{path};
    case ENOENT:
    case ENOTDIR:
    case EXDEV:  // the path would leave the bundle
    case ENAMETOOLONG:
      return MissingFromPayload{path};
    default:
      return Io{os_error(error)};
  }
}

// Opens the listed file's parent directory below the bundle; the bundle itself for a file at the
// top. -1 with errno set on failure.
UniqueFd open_parent(int bundle, std::string_view parent) {
  if (parent.empty()) return UniqueFd(::fcntl(bundle, F_DUPFD_CLOEXEC, 0));
  return UniqueFd(open_beneath(bundle, parent, O_PATH | O_DIRECTORY));
}

}  // namespace

Result<UniqueFd> open_listed_file(int bundle, const std::string& path) {
  // A valid payload path names no "." or "..", so its last component opened in its parent stays
  // there. The parent alone is resolved below the bundle: the kernel's final check that what it
  // found still lies below would otherwise report a file that a rename is moving at that moment
  // as having left the bundle.
  const std::size_t slash = path.rfind('/');
  const std::string_view parent =
      slash == std::string::npos ? std::string_view() : std::string_view(path).substr(0, slash);
  const UniqueFd parent_dir = open_parent(bundle, parent);
  if (!parent_dir.is_open()) return judge_unopened(bundle, path, errno);
  const char* name = path.c_str() + (slash == std::string::npos ? 0 : slash + 1);
  UniqueFd file(::openat(parent_dir.get(), name, kReadFlags | O_CLOEXEC));
  if (!file.is_open()) return judge_unopened(bundle, path, errno);
  struct stat status {};
  if (::fstat(file.get(), &status) != 0) return Io{last_os_error()};
  if (!S_ISREG(status.st_mode)) return NotRegularFile{path};
  return file;
}

}  // namespace srb
