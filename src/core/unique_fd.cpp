#include "core/unique_fd.hpp"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
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

void ClosingBatch::add(UniqueFd fd) {
  if (!fd.is_open()) return;
  fds_[count_++] = fd.release();
  if (count_ == kSize) close_all();
}

// ThreadSanitizer follows descriptors through close(2) and does not see close_range, so under it
// a number reused by another thread would look like a race.
#if defined(__SANITIZE_THREAD__)
constexpr bool kCloseOneByOne = true;
#else
constexpr bool kCloseOneByOne = false;
#endif

// Only numbers this batch owns are ever in a range, so a descriptor another thread opened in a
// gap is never touched. A kernel without close_range (before 5.9) gets one close per descriptor.
bool ClosingBatch::close_all() {
  if (count_ == 0) return false;
  std::sort(fds_.begin(), fds_.begin() + count_);
  for (std::size_t first = 0; first < count_;) {
    std::size_t last = first;
    while (last + 1 < count_ && fds_[last + 1] == fds_[last] + 1)
      ++last;
    if (first == last || kCloseOneByOne ||
        ::syscall(SYS_close_range, fds_[first], fds_[last], 0) != 0) {
      for (std::size_t i = first; i <= last; ++i)
        ::close(fds_[i]);
    }
    first = last + 1;
  }
  count_ = 0;
  return true;
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
