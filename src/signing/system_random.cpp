#include "signing/system_random.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>

#include "core/unique_fd.hpp"

// getrandom(2) with flags 0 is the normal path. The device fallback mirrors what getrandom
// guarantees: /dev/random becomes readable once the pool is initialised, and from then on
// /dev/urandom gives bytes of the same quality without blocking.

namespace srb {
namespace {

// Waits until /dev/random is readable, i.e. the kernel's pool is initialised.
Result<void> wait_for_pool() {
  const UniqueFd fd(::open("/dev/random", O_RDONLY | O_CLOEXEC));
  if (!fd.is_open()) return Io{last_os_error()};
  pollfd entry{fd.get(), POLLIN, 0};
  int ready = 0;
  do {
    ready = ::poll(&entry, 1, -1);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) return Io{last_os_error()};
  return {};
}

Result<void> read_urandom(std::span<unsigned char> out) {
  TRY(wait_for_pool());
  const UniqueFd fd(::open("/dev/urandom", O_RDONLY | O_CLOEXEC));
  if (!fd.is_open()) return Io{last_os_error()};
  std::size_t filled = 0;
  while (filled < out.size()) {
    const ssize_t n = read_some(fd.get(), out.data() + filled, out.size() - filled);
    if (n < 0) return Io{last_os_error()};
    // A device that ends early is as broken as one that fails.
    if (n == 0) return Io{os_error(EIO)};
    filled += static_cast<std::size_t>(n);
  }
  return {};
}

}  // namespace

Result<void> fill_from_system_random(std::span<unsigned char> out) {
  std::size_t filled = 0;
  while (filled < out.size()) {
    const ssize_t n = ::getrandom(out.data() + filled, out.size() - filled, 0);
    if (n >= 0) {
      filled += static_cast<std::size_t>(n);
    } else if (errno == ENOSYS || errno == EPERM) {
      return read_urandom(out);
    } else if (errno != EINTR) {
      return Io{last_os_error()};
    }
  }
  return {};
}

}  // namespace srb
