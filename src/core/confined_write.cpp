#include "core/confined_write.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <system_error>

#include "core/join_path.hpp"

namespace srb {
namespace {

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

bool is_link_at(int directory, const char* name) {
  struct stat status;
  return ::fstatat(directory, name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode);
}

// Creates the directory `name` in `parent` when missing and enters it. O_DIRECTORY|O_NOFOLLOW
// refuses a link with ENOTDIR, the same error as a regular file, so a refusal is looked at again
// to tell the two apart.
Result<UniqueFd> enter_directory(int parent, const std::string& name, std::string_view shown) {
  if (::mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST) return Io{last_os_error()};
  UniqueFd entered(::openat(parent, name.c_str(), kDirectoryFlags));
  if (entered.is_open()) return entered;
  const OsError error = last_os_error();
  if (error.code == ENOTDIR && is_link_at(parent, name.c_str()))
    return UnsafeDestination{std::filesystem::path(shown)};
  return Io{error};
}

}  // namespace

Result<void> make_directories(const std::filesystem::path& directory) {
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (error) return Io{os_error(error.value())};
  return {};
}

Result<UniqueFd> make_and_open_directory(const std::filesystem::path& directory) {
  TRY(make_directories(directory));
  UniqueFd opened(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!opened.is_open()) return Io{last_os_error()};
  return opened;
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
  UniqueFd created(::openat(directory, name,
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, mode));
  if (!created.is_open()) return Io{last_os_error()};
  return created;
}

Result<void> write_fresh_file(int directory, const char* name, std::string_view text, mode_t mode,
                              const std::filesystem::path& shown) {
  TRY_ASSIGN(UniqueFd file, create_fresh_file(directory, name, mode, shown));
  TRY(write_all(file.get(), text));
  return file.close();
}

}  // namespace srb
