#include "signing/identity_destination.hpp"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "core/unique_fd.hpp"

// The secret must not reach a file whose owner could read it whatever its mode: another user's
// file or FIFO, or a file reached through another user's link (their choice of target, such as
// /etc/shadow). Nor may it reach an inode that anyone already holds open: a file is therefore
// never written where it stands but replaced by a fresh one (secret_file.cpp). Only a device or
// a standard stream is written in place, and that is judged here before opening, by lstat
// (opening a FIFO can wait for a reader, and following a link is already its owner's choice),
// and confirmed on the opened descriptor, because the path can change in between.

namespace srb {
namespace {

// As many links as the kernel follows in one path before it gives up with ELOOP.
constexpr int kMaxLinkHops = 40;
// A user-database entry larger than this is not one the lookup will ever fit.
constexpr std::size_t kMaxEntryBytes = std::size_t{1} << 20;

bool is_trusted_owner(uid_t owner) {
  return owner == ::geteuid() || owner == 0;
}

// The number of the standard stream that is `file`, other than the descriptor `opened`.
std::optional<int> standard_stream_number(const struct stat& file, int opened) {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    struct stat status {};
    if (fd != opened && ::fstat(fd, &status) == 0 && is_same_file(status, file)) return fd;
  }
  return std::nullopt;
}

Result<std::filesystem::path> read_link(const std::filesystem::path& link) {
  std::string target(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink(link.c_str(), target.data(), target.size());
    if (n < 0) return Io{last_os_error()};
    if (static_cast<std::size_t>(n) < target.size()) {
      target.resize(static_cast<std::size_t>(n));
      return std::filesystem::path(target);
    }
    target.resize(target.size() * 2);
  }
}

struct ResolvedEntry {
  std::filesystem::path path;
  std::optional<struct stat> entry;  // absent: nothing there yet
};

// Follows the links from `out` (whose own status is `status`) one at a time, each of which must
// be trusted, to the first entry that is not a link. A dangling link leads to the path of the
// file to create.
Result<ResolvedEntry> resolve_own_links(const std::filesystem::path& out, struct stat status) {
  std::filesystem::path path = out;
  for (int hops = 0; S_ISLNK(status.st_mode); ++hops) {
    if (!is_trusted_owner(status.st_uid)) return ForeignSecretFile{out};
    if (hops == kMaxLinkHops) return Io{os_error(ELOOP)};
    TRY_ASSIGN(const std::filesystem::path target, read_link(path));
    path = path.parent_path() / target;  // an absolute target replaces the whole path
    if (::lstat(path.c_str(), &status) != 0) {
      if (errno != ENOENT) return Io{last_os_error()};
      return ResolvedEntry{path, std::nullopt};
    }
  }
  return ResolvedEntry{path, status};
}

Result<IdentityDestination> judge_entry(const struct stat& entry, const std::filesystem::path& path,
                                        const std::filesystem::path& out) {
  if (is_stream(entry)) return StreamDestination{path, StreamPath::by_name};
  TRY(check_replaceable(entry, out));
  // A file the user may not write (their read-only identity) is not replaced either.
  if (S_ISREG(entry.st_mode) && ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)
    return Io{last_os_error()};
  return FileDestination{path};
}

// Runs the reentrant lookup `lookup(buffer, size)` (a getgrgid_r or getpwnam_r in waiting) with
// a buffer that grows while the entry does not fit; returns its error number.
template <typename Lookup>
int look_up(std::vector<char>& buffer, Lookup lookup) {
  if (buffer.empty()) buffer.resize(1024);
  for (;;) {
    const int error = lookup(buffer.data(), buffer.size());
    if (error != ERANGE || buffer.size() >= kMaxEntryBytes) return error;
    buffer.resize(buffer.size() * 2);
  }
}

// True when someone besides `owner` is a member of group `gid`: named in the group's entry, or
// having it as their primary group. An unknown name in the entry counts as someone else.
Result<bool> group_has_other_members(gid_t gid, uid_t owner) {
  std::vector<char> group_buffer;
  struct group group {};
  struct group* found_group = nullptr;
  int error = look_up(group_buffer, [&](char* buffer, std::size_t size) {
    return ::getgrgid_r(gid, &group, buffer, size, &found_group);
  });
  if (error != 0) return Io{os_error(error)};
  std::vector<char> user_buffer;
  struct passwd user {};
  struct passwd* found_user = nullptr;
  for (char** name = found_group != nullptr ? found_group->gr_mem : nullptr;
       name != nullptr && *name != nullptr; ++name) {
    error = look_up(user_buffer, [&](char* buffer, std::size_t size) {
      return ::getpwnam_r(*name, &user, buffer, size, &found_user);
    });
    if (error != 0) return Io{os_error(error)};
    if (found_user == nullptr || found_user->pw_uid != owner) return true;
  }
  ::setpwent();
  bool shared = false;
  for (;;) {
    error = look_up(user_buffer, [&](char* buffer, std::size_t size) {
      return ::getpwent_r(&user, buffer, size, &found_user);
    });
    if (error != 0 || found_user == nullptr) break;
    if (found_user->pw_gid == gid && found_user->pw_uid != owner) {
      shared = true;
      break;
    }
  }
  ::endpwent();
  if (error != 0 && error != ENOENT) return Io{os_error(error)};
  return shared;
}

}  // namespace

bool is_stream(const struct stat& file, int opened) {
  if (S_ISCHR(file.st_mode)) return true;
  return (S_ISFIFO(file.st_mode) || S_ISSOCK(file.st_mode)) &&
         standard_stream_number(file, opened).has_value();
}

Result<void> check_replaceable(const struct stat& entry, const std::filesystem::path& out) {
  if (S_ISDIR(entry.st_mode)) return Io{os_error(EISDIR)};
  const bool chosen_by_owner =
      S_ISREG(entry.st_mode) || S_ISFIFO(entry.st_mode) || S_ISLNK(entry.st_mode);
  if (chosen_by_owner && !is_trusted_owner(entry.st_uid)) return ForeignSecretFile{out};
  // Replacing root's file is what restricting it would be: allowed to root alone.
  if (S_ISREG(entry.st_mode) && entry.st_uid != ::geteuid() && ::geteuid() != 0)
    return Io{os_error(EPERM)};
  return {};
}

Result<void> check_secret_directory(const struct stat& directory,
                                    const std::filesystem::path& out) {
  if (!is_trusted_owner(directory.st_uid)) return ForeignSecretFile{out};
  // In a sticky directory only an entry's owner (and the directory's) may rename or remove it.
  if ((directory.st_mode & S_ISVTX) != 0) return {};
  if ((directory.st_mode & S_IWOTH) != 0) return ForeignSecretFile{out};
  if ((directory.st_mode & S_IWGRP) == 0) return {};
  TRY_ASSIGN(const bool shared, group_has_other_members(directory.st_gid, directory.st_uid));
  if (shared) return ForeignSecretFile{out};
  return {};
}

Result<IdentityDestination> judge_identity_destination(const std::filesystem::path& out) {
  struct stat entry {};
  if (::lstat(out.c_str(), &entry) != 0) {
    if (errno != ENOENT) return Io{last_os_error()};
    return FileDestination{out};
  }
  if (!S_ISLNK(entry.st_mode)) return judge_entry(entry, out, out);
  if (!is_trusted_owner(entry.st_uid)) return ForeignSecretFile{out};
  // /dev/stdout leads through /proc/self/fd/1, and a pipe there has no path to resolve to; the
  // stream is reopened through the process's own link instead. A regular file on standard
  // output is no stream: it is replaced like any other, at the path that link leads to.
  struct stat target {};
  if (::stat(out.c_str(), &target) == 0 && is_stream(target)) {
    if (const std::optional<int> fd = standard_stream_number(target, -1))
      return StreamDestination{"/proc/self/fd/" + std::to_string(*fd), StreamPath::own_descriptor};
  }
  TRY_ASSIGN(const ResolvedEntry resolved, resolve_own_links(out, entry));
  if (!resolved.entry) return FileDestination{resolved.path};
  return judge_entry(*resolved.entry, resolved.path, out);
}

}  // namespace srb
