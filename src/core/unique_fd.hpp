#pragma once
// UniqueFd: the one owner of an open file descriptor, closed on every path out of a scope.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <string_view>

#include "core/result.hpp"

namespace srb {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueFd();

  int get() const { return fd_; }
  bool is_open() const { return fd_ >= 0; }
  // Closes the descriptor held, if any, and takes `fd` in its place.
  void reset(int fd = -1);
  // Gives up ownership without closing.
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes now and reports the error close(2) gives, which for a written file can be the first
  // sign that the data did not reach the disk. Fails with Io.
  Result<void> close();

 private:
  int fd_ = -1;
};

// Clears O_NONBLOCK. A file opened non-blocking so that the open could not wait (a FIFO without a
// writer or reader) is then read or written whole. False with errno set on failure.
bool make_blocking(int fd);

// True when the two statuses are of one file: the same device and inode.
inline bool is_same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// One read(2) that an interrupting signal never ends: the result of the first attempt that is not
// EINTR, so -1 with errno set on failure and 0 at end of file.
ssize_t read_some(int fd, void* buffer, std::size_t size);

// Writes all of `bytes`, retrying short and interrupted writes. Fails with Io.
Result<void> write_all(int fd, std::string_view bytes);

}  // namespace srb
