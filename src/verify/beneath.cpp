#include "verify/beneath.hpp"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "core/path_walk.hpp"
#include "core/unique_fd.hpp"

// The kernel confines a resolution to a directory when asked with openat2's RESOLVE_BENEATH.
// Kernels before 5.6 lack openat2 and container filters may refuse it, so the same confinement
// is also done by hand: the walk never lets the kernel follow a link, reads each link's text and
// resolves it itself, and keeps its own stack of the directories entered, so ".." is a step back
// along that stack and never a lookup that a racing rename could turn into a way out.

namespace srb {
namespace {

std::atomic<BeneathResolver> resolver{BeneathResolver::kernel};

int fail_with(int error) {
  errno = error;
  return -1;
}

int openat2_beneath(int root, const char* path, int flags) {
  return openat2_retrying(root, path, static_cast<std::uint64_t>(flags),
                          RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS);
}

// Where a walk stands: the directories entered below the root (innermost last), the components
// still to resolve (next one last) and the links followed so far.
class BeneathWalk {
 public:
  BeneathWalk(int root, std::string_view path, int flags) : root_(root), flags_(flags) {
    push_components(path, pending_);
  }
  int run();

 private:
  int current() const { return entered_.empty() ? root_ : entered_.back().get(); }
  int open_last(const char* name) const {
    return ::openat(current(), name, flags_ | O_NOFOLLOW | O_CLOEXEC);
  }
  bool climb();
  int follow(const std::string& target);
  bool enter(const std::string& name);

  int root_;
  int flags_;
  std::vector<UniqueFd> entered_;
  std::vector<std::string> pending_;
  int links_ = 0;
};

int BeneathWalk::run() {
  while (!pending_.empty()) {
    const std::string name = std::move(pending_.back());
    pending_.pop_back();
    const bool last = pending_.empty();
    if (name == "." || name == "..") {
      if (name == ".." && !climb()) return fail_with(EXDEV);
      if (last) return open_last(".");
      continue;
    }
    const LinkRead link = read_link(current(), name);
    if (link.error == 0) {
      if (last && (flags_ & O_NOFOLLOW) != 0) return fail_with(ELOOP);
      if (follow(link.target) != 0) return -1;
    } else if (link.error != EINVAL) {
      return fail_with(link.error);
    } else if (last) {
      return open_last(name.c_str());
    } else if (!enter(name)) {
      return -1;
    }
  }
  return fail_with(ENOENT);  // an empty path names nothing
}

// ".." steps back along the directories entered; at the root it would leave.
bool BeneathWalk::climb() {
  if (entered_.empty()) return false;
  entered_.pop_back();
  return true;
}

// Puts a link's target in the link's place: 0, or -1 with errno set.
int BeneathWalk::follow(const std::string& target) {
  if (++links_ > kMaxLinks) return fail_with(ELOOP);
  if (target.empty()) return fail_with(ENOENT);
  if (target.front() == '/') return fail_with(EXDEV);
  push_components(target, pending_);
  return 0;
}

// Steps into the directory `name`, known to be no link when it was read; O_NOFOLLOW keeps a link
// swapped in since from being followed. False with errno set when it cannot be entered.
bool BeneathWalk::enter(const std::string& name) {
  UniqueFd fd(::openat(current(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.is_open()) return false;
  entered_.push_back(std::move(fd));
  return true;
}

}  // namespace

void use_beneath_resolver(BeneathResolver chosen) {
  resolver.store(chosen, std::memory_order_relaxed);
}

BeneathResolver beneath_resolver() {
  return resolver.load(std::memory_order_relaxed);
}

int open_beneath(int root, std::string_view path, int flags) {
  if (beneath_resolver() == BeneathResolver::walk) return open_beneath_by_walk(root, path, flags);
  const std::string text(path);
  const int fd = openat2_beneath(root, text.c_str(), flags);
  if (fd >= 0) return fd;
  // Older kernels (ENOSYS) and system-call filters (EPERM, or EINVAL for an argument they do not
  // know) refuse openat2 itself; the walk gives the same answer without it.
  switch (errno) {
    case ENOSYS:
      use_beneath_resolver(BeneathResolver::walk);
      [[fallthrough]];
    case EPERM:
    case EINVAL:
      return open_beneath_by_walk(root, path, flags);
    default:
      return -1;
  }
}

int open_beneath_by_walk(int root, std::string_view path, int flags) {
  BeneathWalk walk(root, path, flags);
  return walk.run();
}

}  // namespace srb
