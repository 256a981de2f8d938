#include "core/path_walk.hpp"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace srb {
namespace {

constexpr int kMaxAttempts = 64;

}  // namespace

int openat2_retrying(int directory, const char* path, std::uint64_t flags, std::uint64_t resolve) {
  open_how how{};
  how.flags = flags | O_CLOEXEC;
  how.resolve = resolve;
  for (int attempt = 1;; ++attempt) {
    const int fd = static_cast<int>(::syscall(SYS_openat2, directory, path, &how, sizeof how));
    if (fd >= 0 || errno != EAGAIN || attempt == kMaxAttempts) return fd;
  }
}

bool is_openat2_refused(int error) {
  return error == ENOSYS || error == EPERM || error == EINVAL;
}

void push_components(std::string_view path, std::vector<std::string>& pending) {
  std::vector<std::string_view> components;
  for (std::size_t start = 0; start < path.size();) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) components.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  if (path.ends_with('/')) components.push_back(".");
  pending.insert(pending.end(), components.rbegin(), components.rend());
}

LinkRead read_link(int directory, const std::string& name) {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlinkat(directory, name.c_str(), buffer, sizeof buffer);
  if (n < 0) return {{}, errno};
  // The kernel refuses a link body that does not fit in PATH_MAX with its terminating NUL.
  if (static_cast<std::size_t>(n) == sizeof buffer) return {{}, ENAMETOOLONG};
  return {std::string(buffer, static_cast<std::size_t>(n)), 0};
}

}  // namespace srb
