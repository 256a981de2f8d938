#include "build/rooted_open.hpp"

#include <fcntl.h>
#include <linux/magic.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "core/path_walk.hpp"

// The kernel resolves a path with the root scoped to a directory when asked with openat2's
// RESOLVE_IN_ROOT. Kernels before 5.6 lack openat2, and container filters may refuse it, so the
// same resolution is also done here by hand: one component at a time, never following a link in
// the kernel, re-rooting each link target and keeping ".." from climbing above the root.
//
// Whatever a resolution finds that means "not there" leaves the entry absent. Every other error
// is reported: a system call that fails for reasons of its own must not quietly empty the bundle.
//
// Magic links, the links of /proc/<pid>/ that lead to whatever another process sees (its root,
// its open files), are never followed: the kernel refuses them when asked, and the walk knows
// them as links inside a process's directory of a proc file system. Only the links at the top of
// that file system (self, thread-self, mounts) are ordinary ones.

namespace srb {
namespace {

using OpenedEntry = std::optional<UniqueFd>;

constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
constexpr int kRootFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

bool is_resolution_outcome(int error) {
  switch (error) {
    case ENOENT:        // no such file, or a dangling link
    case ENOTDIR:       // a component on the way is no directory
    case ELOOP:         // too many links
    case EACCES:        // a directory on the way may not be searched
    case ENAMETOOLONG:  // a link target names a component no file system holds
    case EXDEV:         // a magic link or a mount that would lead out of the root
      return true;
    default:
      return false;
  }
}

Result<OpenedEntry> absent_or_error(int error) {
  if (is_resolution_outcome(error)) return std::nullopt;
  return Io{os_error(error)};
}

int openat2_in_root(int root, const char* path, std::uint64_t flags) {
  return openat2_retrying(root, path, flags, RESOLVE_IN_ROOT);
}

// True when the links in `directory` are magic ones: it lies in a proc file system, below its top.
bool holds_magic_links(int directory) {
  constexpr ino_t kProcRootInode = 1;
  struct statfs file_system;
  struct stat status;
  return ::fstatfs(directory, &file_system) == 0 && file_system.f_type == PROC_SUPER_MAGIC &&
         ::fstat(directory, &status) == 0 && status.st_ino != kProcRootInode;
}

// EACCES from openat2 is either a directory on the way that may not be searched (the entry is
// absent) or a final file that may not be read (a failure, as for any source that cannot be
// copied). An O_PATH open needs no read permission, so it tells the two apart.
Result<OpenedEntry> unreadable_or_absent(int root, const std::string& path) {
  const UniqueFd probe(openat2_in_root(root, path.c_str(), O_PATH | O_CLOEXEC));
  if (probe.is_open()) return Io{os_error(EACCES)};
  return absent_or_error(errno);
}

// Where a walk stands: the directories entered below the root (innermost last), the components
// still to resolve (next one last) and the links followed so far; and how its last component is
// opened.
struct Walk {
  int root;
  int last_flags = kReadFlags;
  std::vector<UniqueFd> entered;
  std::vector<std::string> pending;
  int links = 0;
  bool met_magic_link = false;

  int current() const { return entered.empty() ? root : entered.back().get(); }
};

// Opens the last component, known to be no link. A file that exists but may not be read is a
// failure, not an absent entry.
Result<OpenedEntry> open_last(const Walk& walk, const std::string& name) {
  UniqueFd fd(::openat(walk.current(), name.c_str(), walk.last_flags | O_NOFOLLOW));
  if (fd.is_open()) return OpenedEntry(std::move(fd));
  if (errno == EACCES) return Io{last_os_error()};
  return absent_or_error(errno);
}

// Steps into the directory `name`, known to be no link; false when it is no directory.
Result<bool> enter(Walk& walk, const std::string& name) {
  UniqueFd fd(
      ::openat(walk.current(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.is_open()) {
    if (is_resolution_outcome(errno)) return false;
    return Io{last_os_error()};
  }
  walk.entered.push_back(std::move(fd));
  return true;
}

// Replaces a link by its target: an absolute one starts again at the root. False when the link
// cannot be followed: too many links, an empty target, which names nothing, or a magic link.
bool follow(Walk& walk, const std::string& target) {
  if (++walk.links > kMaxLinks || target.empty()) return false;
  if (holds_magic_links(walk.current())) {
    walk.met_magic_link = true;
    return false;
  }
  if (target.front() == '/') walk.entered.clear();
  push_components(target, walk.pending);
  return true;
}

Result<OpenedEntry> run_walk(Walk& walk) {
  while (!walk.pending.empty()) {
    const std::string name = std::move(walk.pending.back());
    walk.pending.pop_back();
    const bool last = walk.pending.empty();
    if (name == "." || name == "..") {
      // ".." at the root is the root, as in a chroot.
      if (name == ".." && !walk.entered.empty()) walk.entered.pop_back();
      if (last) return open_last(walk, ".");
      continue;
    }
    const LinkRead link = read_link(walk.current(), name);
    if (link.error == 0) {
      if (!follow(walk, link.target)) return std::nullopt;
    } else if (link.error != EINVAL) {
      return absent_or_error(link.error);
    } else if (last) {
      return open_last(walk, name);
    } else {
      TRY_ASSIGN(const bool entered, enter(walk, name));
      if (!entered) return std::nullopt;
    }
  }
  return std::nullopt;  // an empty entry names nothing
}

// ELOOP from an open that refuses magic links: too many links, or a magic link on the way. An
// ordinary open follows the same path up to the magic link, so only a loop makes it fail alike.
Result<OpenedEntry> loop_or_magic_link(const char* path) {
  const UniqueFd followed(::open(path, kRootFlags));
  if (!followed.is_open() && errno == ELOOP) return std::nullopt;
  return Io{os_error(ELOOP)};
}

}  // namespace

Result<std::optional<UniqueFd>> open_root_directory(const std::filesystem::path& root) {
  // An empty root names the working directory, as it does when entries are joined to it as text.
  const char* path = root.empty() ? "." : root.c_str();
  const int fd = openat2_retrying(AT_FDCWD, path, kRootFlags, RESOLVE_NO_MAGICLINKS);
  if (fd >= 0) return OpenedEntry(UniqueFd(fd));
  const int error = errno;
  if (is_openat2_refused(error)) return open_root_directory_by_walk(root);
  if (error == ELOOP) return loop_or_magic_link(path);
  return absent_or_error(error);
}

Result<std::optional<UniqueFd>> open_root_directory_by_walk(const std::filesystem::path& root) {
  std::string absolute = root.empty() ? "." : root.native();
  if (!absolute.starts_with('/')) {
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return Io{last_os_error()};
    absolute = std::string(cwd) + "/" + absolute;
  }
  const UniqueFd system_root(::open("/", kRootFlags));
  if (!system_root.is_open()) return Io{last_os_error()};
  Walk walk{system_root.get(), kRootFlags, {}, {}, 0, false};
  push_components(absolute, walk.pending);
  // "/" itself has no component to walk.
  if (walk.pending.empty()) walk.pending.push_back(".");
  TRY_ASSIGN(OpenedEntry opened, run_walk(walk));
  if (!opened && walk.met_magic_link) return Io{os_error(ELOOP)};
  return opened;
}

Result<std::optional<UniqueFd>> open_in_root(int root, std::string_view entry) {
  const std::string path(entry);
  const int fd = openat2_in_root(root, path.c_str(), kReadFlags);
  if (fd >= 0) return OpenedEntry(UniqueFd(fd));
  const int error = errno;
  if (is_openat2_refused(error)) return open_in_root_by_walk(root, entry);
  if (error == EACCES) return unreadable_or_absent(root, path);
  return absent_or_error(error);
}

Result<std::optional<UniqueFd>> open_in_root_by_walk(int root, std::string_view entry) {
  Walk walk{root, kReadFlags, {}, {}, 0, false};
  push_components(entry, walk.pending);
  return run_walk(walk);
}

}  // namespace srb
