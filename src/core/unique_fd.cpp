#include "core/unique_fd.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace srb {

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) ::close(fd_);
}

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

Result<void> UniqueFd::close() {
  const int fd = fd_;
  fd_ = -1;
  // Linux releases the descriptor even when close fails, so it is never retried.
  if (::close(fd) != 0) return Io{last_os_error()};
  return {};
}

bool make_blocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

ssize_t read_some(int fd, void* buffer, std::size_t size) {
  ssize_t n = 0;
  do {
    n = ::read(fd, buffer, size);
  } while (n < 0 && errno == EINTR);
  return n;
}

Result<void> write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Io{last_os_error()};
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

}  // namespace srb
