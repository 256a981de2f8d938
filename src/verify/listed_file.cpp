#include "verify/listed_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

// The entry may be swapped for a FIFO, a device or a link at any moment after it was classified,
// so the classification is repeated on the descriptor itself: with O_NONBLOCK a FIFO opens
// without waiting for a writer, O_NOFOLLOW refuses a link, and fstat tells what was opened. The
// digest then reads that same descriptor, so no later swap reaches it either.

namespace srb {

Result<void> open_listed_file(const std::string& full, const std::string& path, UniqueFd& file) {
  constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
  file.reset(::open(full.c_str(), kFlags));
  if (!file.is_open()) {
    if (errno == ELOOP) return NotRegularFile{path};
    if (errno == ENOENT) return MissingFromPayload{path};
    return Io{last_os_error()};
  }
  struct stat status {};
  if (::fstat(file.get(), &status) != 0) return Io{last_os_error()};
  if (!S_ISREG(status.st_mode)) {
    file.reset();
    return NotRegularFile{path};
  }
  return {};
}

}  // namespace srb
