#include "signing/identity_destination.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <string_view>

// The secret must not reach a file whose owner could read it whatever its mode: another user's
// file or FIFO, or a file reached through another user's link (their choice of target, such as
// /etc/shadow, truncated by root). The path is judged twice: by lstat before opening, because
// opening a FIFO can wait for a reader and following a link is already their choice; and by fstat
// of the descriptor, because the path can change in between. Nothing is truncated, restricted or
// written before both have passed. A path without a link of the user's own is opened with
// O_NOFOLLOW, and anything not known to be a FIFO with O_NONBLOCK, so a swap cannot make the open
// follow a new link or wait.

namespace srb {
namespace {

bool is_trusted_owner(uid_t owner) {
  return owner == ::geteuid() || owner == 0;
}

// True when a descriptor of this process already refers to the file: a pipe or socket that the
// process was handed, as /dev/stdout names it, which under sudo belongs to the invoking user.
bool is_held_by_process(const struct stat& file) {
  DIR* fds = ::opendir("/proc/self/fd");
  if (fds == nullptr) return false;
  bool held = false;
  while (const dirent* entry = ::readdir(fds)) {
    const std::string_view name = entry->d_name;
    int fd = -1;
    if (std::from_chars(name.data(), name.data() + name.size(), fd).ec != std::errc()) continue;
    struct stat status {};
    if (fd != ::dirfd(fds) && ::fstat(fd, &status) == 0 && is_same_file(status, file)) {
      held = true;
      break;
    }
  }
  ::closedir(fds);
  return held;
}

// Another user's regular file or FIFO, unless it is a pipe this process already holds.
bool is_foreign(const struct stat& file) {
  if (!S_ISREG(file.st_mode) && !S_ISFIFO(file.st_mode)) return false;
  if (is_trusted_owner(file.st_uid)) return false;
  return !S_ISFIFO(file.st_mode) || !is_held_by_process(file);
}

// The open flags for `out` as lstat finds it now, or ForeignSecretFile.
Result<int> judge_before_open(const std::filesystem::path& out) {
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY;
  struct stat entry {};
  if (::lstat(out.c_str(), &entry) != 0) return flags | O_NOFOLLOW | O_NONBLOCK;
  if (S_ISLNK(entry.st_mode)) {
    if (!is_trusted_owner(entry.st_uid)) return ForeignSecretFile{out};
    // A dangling link of our own is followed to create its target, as it always was.
    if (::stat(out.c_str(), &entry) != 0) return flags | O_NONBLOCK;
  } else {
    flags |= O_NOFOLLOW;
  }
  if (is_foreign(entry)) return ForeignSecretFile{out};
  return S_ISFIFO(entry.st_mode) ? flags : flags | O_NONBLOCK;
}

}  // namespace

Result<void> open_identity_destination(const std::filesystem::path& out, UniqueFd& file) {
  TRY_ASSIGN(const int flags, judge_before_open(out));
  file.reset(::open(out.c_str(), flags, 0600));
  if (!file.is_open()) return Io{last_os_error()};
  struct stat opened {};
  if (::fstat(file.get(), &opened) != 0) return Io{last_os_error()};
  if (is_foreign(opened)) {
    file.reset();
    return ForeignSecretFile{out};
  }
  // Writes wait again, so a pipe whose reader is slow still takes the whole text.
  if (!make_blocking(file.get())) return Io{last_os_error()};
  return {};
}

}  // namespace srb
