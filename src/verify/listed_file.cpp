#include "verify/listed_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <string_view>

#include "core/confined_open.hpp"

// The entry may be swapped for a FIFO, a device or a link at any moment, so it is judged by the
// descriptor alone: with O_NONBLOCK a FIFO opens without waiting for a writer, O_NOFOLLOW refuses
// a link, and fstat tells what was opened. The digest then reads that same descriptor, so no
// later swap reaches it either. Only a failed open is looked at again, with an O_PATH open that
// reads nothing, to tell a missing entry from a link or an unreadable file. So a regular file
// costs its open, one fstat, its reads and its close.
//
// The parent stays the directory it was when resolved, even if it is renamed out of the bundle
// before the file is opened in it: what it can then offer is what whoever moved it could put in
// any directory of theirs, and no link in it is followed.

namespace srb {
namespace {

constexpr int kEntryFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;

int open_beneath(int bundle, std::string_view path, int flags) {
  return open_confined(bundle, path, flags, Confinement::beneath);
}

// What an open that failed with `error` says about the entry.
Result<OpenedListedFile> judge_unopened(int bundle, const std::string& path, int error) {
  switch (classify_open_failure(error)) {
    case OpenFailure::loop: {
      // A final link, or too many links on the way. A link is not a regular file, but one that
      // leads nowhere inside the bundle counts as missing, as a failed stat would; one that leads
      // out (EXDEV) is not followed to find out whether anything is there.
      const UniqueFd target(open_beneath(bundle, path, O_PATH));
      if (target.is_open() || errno == EXDEV) return NotRegularFile{path};
      if (classify_open_failure(errno) == OpenFailure::fault) return Io{last_os_error()};
      return MissingFromPayload{path};
    }
    case OpenFailure::denied: {
      // A directory on the way that may not be searched (missing, as for stat), or a file that
      // may not be read (a failure): an O_PATH open needs no read permission.
      const UniqueFd entry(open_beneath(bundle, path, O_PATH | O_NOFOLLOW));
      if (entry.is_open()) return Io{os_error(EACCES)};
      if (classify_open_failure(errno) == OpenFailure::fault) return Io{last_os_error()};
      return MissingFromPayload{path};
    }
    case OpenFailure::unopenable:  // a socket, or a device without its driver
      return NotRegularFile{path};
    case OpenFailure::absent:
    case OpenFailure::outside:
      return MissingFromPayload{path};
    case OpenFailure::fault:
      break;
  }
  return Io{os_error(error)};
}

}  // namespace

Result<OpenedListedFile> open_listed_file(int bundle, const std::string& path) {
  // A valid payload path names no "." or "..", so its last component, opened in its parent
  // without following a link, stays there. The parent alone is resolved below the bundle; opening
  // the whole path below the bundle would also let the kernel's closing check report a file that
  // a rename is moving at that moment as having left it.
  const std::size_t slash = path.rfind('/');
  UniqueFd parent;
  if (slash != std::string::npos) {
    parent.reset(
        open_beneath(bundle, std::string_view(path).substr(0, slash), O_PATH | O_DIRECTORY));
    if (!parent.is_open()) return judge_unopened(bundle, path, errno);
  }
  const int dir = parent.is_open() ? parent.get() : bundle;
  const char* name = path.c_str() + (slash == std::string::npos ? 0 : slash + 1);
  OpenedListedFile file;
  file.fd.reset(::openat(dir, name, kEntryFlags | O_CLOEXEC));
  if (!file.fd.is_open()) return judge_unopened(bundle, path, errno);
  if (::fstat(file.fd.get(), &file.status) != 0) return Io{last_os_error()};
  if (!S_ISREG(file.status.st_mode)) return NotRegularFile{path};
  return file;
}

}  // namespace srb
