#include "core/confined_write.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <system_error>
#include <utility>

#include "core/join_path.hpp"

namespace srb {
namespace {

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
// The caller's own path is followed through links.
constexpr int kFollowingDirectoryFlags = kDirectoryFlags & ~O_NOFOLLOW;
// The most a created directory may allow; the umask may take more.
constexpr mode_t kDirectoryMode = 0755;

bool is_link_at(int directory, const char* name) {
  struct stat status;
  return ::fstatat(directory, name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode);
}

// Creates the directory `name` in `parent`; false when something stood there already.
Result<bool> make_directory(int parent, const char* name) {
  if (::mkdirat(parent, name, kDirectoryMode) == 0) return true;
  if (errno == EEXIST) return false;
  return Io{last_os_error()};
}

// A directory just created below a setgid one has that directory's group and its setgid bit;
// it gets the process's group and loses the bit.
Result<void> settle_created_directory(int fd) {
  TRY_ASSIGN(const struct stat status, take_into_own_group(fd));
  const mode_t bits = status.st_mode & 07777;
  if ((bits & ~kDirectoryMode) != 0 && ::fchmod(fd, bits & kDirectoryMode) != 0)
    return Io{last_os_error()};
  return {};
}

// Creates the directory `name` in `parent` when missing and enters it. O_DIRECTORY|O_NOFOLLOW
// refuses a link with ENOTDIR, the same error as a regular file, so a refusal is looked at again
// to tell the two apart.
Result<UniqueFd> enter_directory(int parent, const std::string& name, std::string_view shown) {
  TRY_ASSIGN(const bool created, make_directory(parent, name.c_str()));
  UniqueFd entered(::openat(parent, name.c_str(), kDirectoryFlags));
  if (!entered.is_open()) {
    const OsError error = last_os_error();
    if (error.code == ENOTDIR && is_link_at(parent, name.c_str()))
      return UnsafeDestination{std::filesystem::path(shown)};
    return Io{error};
  }
  if (created) TRY(settle_created_directory(entered.get()));
  return entered;
}

// One component of the caller's own directory path, created when missing. An existing one is
// entered as the path names it, links followed; one created here only as itself, so that what is
// settled is the directory that was made.
Result<UniqueFd> make_path_component(int parent, const std::string& name) {
  TRY_ASSIGN(const bool created, make_directory(parent, name.c_str()));
  UniqueFd opened(
      ::openat(parent, name.c_str(), created ? kDirectoryFlags : kFollowingDirectoryFlags));
  if (!opened.is_open()) {
    // What stood there and leads nowhere is a dangling link: it exists, as mkdir said.
    if (!created && errno == ENOENT) return Io{os_error(EEXIST)};
    return Io{last_os_error()};
  }
  if (created) TRY(settle_created_directory(opened.get()));
  return opened;
}

}  // namespace

Result<void> make_directories(const std::filesystem::path& directory) {
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (error) return Io{os_error(error.value())};
  return {};
}

Result<UniqueFd> make_and_open_directory(const std::filesystem::path& directory) {
  std::string path = directory.native();
  while (path.size() > 1 && path.ends_with('/'))
    path.pop_back();
  UniqueFd opened(::open(path.c_str(), kFollowingDirectoryFlags));
  if (opened.is_open()) return opened;
  const OsError error = last_os_error();
  const std::size_t slash = path.rfind('/');
  const std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
  if (error.code != ENOENT || name.empty()) return Io{error};
  const bool is_dot = name == "." || name == "..";
  // "." and ".." name no directory of their own: what is missing lies before them.
  if (is_dot && slash == std::string::npos) return Io{error};
  // The missing directory's parent first, which may be missing too.
  UniqueFd parent;
  if (slash != std::string::npos) {
    TRY_ASSIGN(parent, make_and_open_directory(slash == 0 ? "/" : path.substr(0, slash)));
  }
  if (is_dot) {
    UniqueFd opened_dot(::openat(parent.get(), name.c_str(), kFollowingDirectoryFlags));
    if (!opened_dot.is_open()) return Io{last_os_error()};
    return opened_dot;
  }
  return make_path_component(parent.is_open() ? parent.get() : AT_FDCWD, name);
}

Result<UniqueFd> make_directories_below(int base, std::string_view relative,
                                        std::string_view shown_base) {
  UniqueFd current;
  std::size_t start = 0;
  while (start < relative.size()) {
    const std::size_t slash = std::min(relative.find('/', start), relative.size());
    const std::string name(relative.substr(start, slash - start));
    const std::string shown = join_path(shown_base, relative.substr(0, slash));
    TRY_ASSIGN(current, enter_directory(current.is_open() ? current.get() : base, name, shown));
    start = slash + 1;
  }
  if (!current.is_open()) {
    // An empty path names `base` itself; a descriptor of its own keeps ownership simple.
    current.reset(::fcntl(base, F_DUPFD_CLOEXEC, 0));
    if (!current.is_open()) return Io{last_os_error()};
  }
  return current;
}

Result<std::optional<struct stat>> entry_to_write(int directory, const char* name,
                                                  const std::filesystem::path& shown) {
  struct stat status;
  if (::fstatat(directory, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return std::optional<struct stat>();
    return Io{last_os_error()};
  }
  if (!S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode)) return UnsafeDestination{shown};
  return std::optional<struct stat>(status);
}

Result<UniqueFd> create_fresh_file(int directory, const char* name, mode_t mode,
                                   const std::filesystem::path& shown) {
  TRY_ASSIGN(const std::optional<struct stat> existing, entry_to_write(directory, name, shown));
  return create_fresh_file_over(directory, name, mode, existing);
}

Result<UniqueFd> create_fresh_file_over(int directory, const char* name, mode_t mode,
                                        const std::optional<struct stat>& existing) {
  if (existing && S_ISDIR(existing->st_mode)) return Io{os_error(EISDIR)};
  // Someone else may have removed it meanwhile; the O_EXCL creation below settles the race.
  if (existing && ::unlinkat(directory, name, 0) != 0 && errno != ENOENT)
    return Io{last_os_error()};
  TRY_ASSIGN(std::optional<UniqueFd> created, create_new_file(directory, name, mode));
  if (!created) return Io{os_error(EEXIST)};
  return std::move(*created);
}

Result<std::optional<UniqueFd>> create_new_file(int directory, const char* name, mode_t mode) {
  UniqueFd created(::openat(directory, name,
                            O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, mode));
  if (created.is_open()) return std::optional<UniqueFd>(std::move(created));
  if (errno == EEXIST) return std::optional<UniqueFd>();
  return Io{last_os_error()};
}

Result<struct stat> take_into_own_group(int fd) {
  return take_into_group(fd, ::getegid());
}

Result<struct stat> take_into_group(int fd, gid_t group) {
  struct stat status;
  if (::fstat(fd, &status) != 0) return Io{last_os_error()};
  if (status.st_gid != group) {
    if (::fchown(fd, static_cast<uid_t>(-1), group) != 0) return Io{last_os_error()};
    status.st_gid = group;
  }
  return status;
}

Result<void> fix_times(int fd, const std::optional<struct timespec>& time) {
  if (!time) return {};
  const struct timespec times[2] = {*time, *time};
  if (::futimens(fd, times) != 0) return Io{last_os_error()};
  return {};
}

Result<void> write_fresh_file(int directory, const char* name, std::string_view text, mode_t mode,
                              const std::filesystem::path& shown,
                              const std::optional<struct timespec>& time) {
  TRY_ASSIGN(UniqueFd file, create_fresh_file(directory, name, mode, shown));
  TRY(take_into_own_group(file.get()));
  TRY(write_all(file.get(), text));
  TRY(fix_times(file.get(), time));
  return file.close();
}

}  // namespace srb
