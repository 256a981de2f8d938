#include "core/confined_open.hpp"

#include <fcntl.h>
#include <linux/magic.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include "core/unique_fd.hpp"

// The kernel confines a resolution when asked with openat2: RESOLVE_BENEATH keeps it below the
// starting directory, RESOLVE_IN_ROOT takes that directory as the root, and
// RESOLVE_NO_MAGICLINKS refuses the links of /proc/<pid>/. Where openat2 is missing or refused,
// the walk below does the same by hand: it never lets the kernel follow a link, reads each link's
// text and resolves it itself, and keeps its own stack of the directories entered, so ".." is a
// step back along that stack and never a lookup that a racing rename could turn into a way out.

namespace srb {
namespace {

constexpr int kMaxAttempts = 64;

int fail_with(int error) {
  errno = error;
  return -1;
}

int openat2_retrying(int directory, const char* path, std::uint64_t flags, std::uint64_t resolve) {
  open_how how{};
  how.flags = flags | O_CLOEXEC;
  how.resolve = resolve;
  for (int attempt = 1;; ++attempt) {
    const int fd = static_cast<int>(::syscall(SYS_openat2, directory, path, &how, sizeof how));
    if (fd >= 0 || errno != EAGAIN || attempt == kMaxAttempts) return fd;
  }
}

// Errors by which the kernel or a system-call filter refuses openat2 itself: an older kernel
// (ENOSYS), or a filter (EPERM, or EINVAL for an argument it does not know).
bool is_openat2_refused(int error) {
  return error == ENOSYS || error == EPERM || error == EINVAL;
}

std::uint64_t resolve_flags(Confinement confinement) {
  const std::uint64_t scope =
      confinement == Confinement::beneath ? RESOLVE_BENEATH : RESOLVE_IN_ROOT;
  return scope | RESOLVE_NO_MAGICLINKS;
}

// Pushes the components of `path` onto `pending`, the first one last, so that the back is what
// comes next. A path that ends in "/" must name a directory; a final "." keeps that demand.
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

// The target of the link `name` in `directory`, or the errno readlinkat gave (EINVAL: no link).
struct LinkRead {
  std::string target;
  int error = 0;
};

LinkRead read_link(int directory, const std::string& name) {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlinkat(directory, name.c_str(), buffer, sizeof buffer);
  if (n < 0) return {{}, errno};
  // The kernel refuses a link body that does not fit in PATH_MAX with its terminating NUL.
  if (static_cast<std::size_t>(n) == sizeof buffer) return {{}, ENAMETOOLONG};
  return {std::string(buffer, static_cast<std::size_t>(n)), 0};
}

// True when the links in `directory` are magic ones: it lies in a proc file system, below its top.
// Only the links at the top (self, thread-self, mounts) are ordinary ones.
bool holds_magic_links(int directory) {
  constexpr ino_t kProcRootInode = 1;
  struct statfs file_system;
  struct stat status;
  return ::fstatfs(directory, &file_system) == 0 && file_system.f_type == PROC_SUPER_MAGIC &&
         ::fstat(directory, &status) == 0 && status.st_ino != kProcRootInode;
}

// Where a walk stands: the directories entered below the base (innermost last), the components
// still to resolve (next one last) and the links followed so far.
class Walk {
 public:
  Walk(int base, std::string_view path, int flags, Confinement confinement)
      : base_(base), flags_(flags), confinement_(confinement) {
    push_components(path, pending_);
  }
  int run();

 private:
  int current() const { return entered_.empty() ? base_ : entered_.back().get(); }
  int open_last(const char* name) const {
    return ::openat(current(), name, flags_ | O_NOFOLLOW | O_CLOEXEC);
  }
  bool climb();
  int follow(const std::string& target);
  bool enter(const std::string& name);

  int base_;
  int flags_;
  Confinement confinement_;
  std::vector<UniqueFd> entered_;
  std::vector<std::string> pending_;
  int links_ = 0;
};

int Walk::run() {
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

// ".." steps back along the directories entered. At the base it would leave a bundle; in a root
// it stays where it is, as ".." does at "/".
bool Walk::climb() {
  if (!entered_.empty()) {
    entered_.pop_back();
    return true;
  }
  return confinement_ == Confinement::in_root;
}

// Puts a link's target in the link's place: 0, or -1 with errno set.
int Walk::follow(const std::string& target) {
  if (++links_ > kMaxLinks) return fail_with(ELOOP);
  if (target.empty()) return fail_with(ENOENT);
  if (holds_magic_links(current())) return fail_with(ELOOP);
  if (target.front() == '/') {
    if (confinement_ == Confinement::beneath) return fail_with(EXDEV);
    entered_.clear();
  }
  push_components(target, pending_);
  return 0;
}

// Steps into the directory `name`, known to be no link when it was read; O_NOFOLLOW keeps a link
// swapped in since from being followed. False with errno set when it cannot be entered.
bool Walk::enter(const std::string& name) {
  UniqueFd fd(::openat(current(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.is_open()) return false;
  entered_.push_back(std::move(fd));
  return true;
}

}  // namespace

int open_confined(int base, std::string_view path, int flags, Confinement confinement,
                  Resolver resolver) {
  if (resolver == Resolver::kernel) {
    const std::string text(path);
    const int fd = openat2_retrying(base, text.c_str(), static_cast<std::uint64_t>(flags),
                                    resolve_flags(confinement));
    if (fd >= 0 || !is_openat2_refused(errno)) return fd;
  }
  Walk walk(base, path, flags, confinement);
  return walk.run();
}

OpenFailure classify_open_failure(int error) {
  switch (error) {
    case ENOENT:        // no such file, or a dangling link
    case ENOTDIR:       // a component on the way is no directory
    case ENAMETOOLONG:  // a name or link target that no file system holds
      return OpenFailure::absent;
    case EXDEV:
      return OpenFailure::outside;
    case ELOOP:
      return OpenFailure::loop;
    case EACCES:
      return OpenFailure::denied;
    case ENXIO:
    case ENODEV:
      return OpenFailure::unopenable;
    default:
      return OpenFailure::fault;
  }
}

bool is_nothing_there(OpenFailure failure) {
  return failure == OpenFailure::absent || failure == OpenFailure::outside ||
         failure == OpenFailure::loop;
}

}  // namespace srb
