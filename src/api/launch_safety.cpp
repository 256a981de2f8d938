#include "api/launch_safety.hpp"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

#include "build/host_sources.hpp"
#include "core/join_path.hpp"
#include "core/unique_fd.hpp"

// Verify proves that the files were the published ones when it read them; the loader opens them
// again by name. Only when nobody but root and the caller can change a file or any directory on
// the way to it does that second open find what was verified.

namespace srb {
namespace {

enum class Place { on_the_way, in_bundle };

// A buffer size for the reentrant user and group lookups.
std::size_t lookup_buffer_size(int name) {
  const long suggested = ::sysconf(name);
  return suggested > 0 ? static_cast<std::size_t>(suggested) : 16384;
}

// The owner's name and primary group, or none when the user database has no entry.
struct Owner {
  std::string name;
  gid_t group = 0;
};
std::optional<Owner> owner_entry(uid_t uid) {
  std::vector<char> buffer(lookup_buffer_size(_SC_GETPW_R_SIZE_MAX));
  for (;;) {
    passwd entry{};
    passwd* found = nullptr;
    const int error = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
    if (error == ERANGE) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (error != 0 || found == nullptr) return std::nullopt;
    return Owner{entry.pw_name, entry.pw_gid};
  }
}

// Whether anyone but `owner` may belong to `group`. Only a group that is the owner's own primary
// group and names no other member counts as the owner's alone: other users whose primary group
// it is cannot be listed, so any other group is taken to have members.
bool has_other_members(gid_t group, uid_t owner) {
  const std::optional<Owner> user = owner_entry(owner);
  if (!user || user->group != group) return true;
  std::vector<char> buffer(lookup_buffer_size(_SC_GETGR_R_SIZE_MAX));
  for (;;) {
    struct group entry {};
    struct group* found = nullptr;
    const int error = ::getgrgid_r(group, &entry, buffer.data(), buffer.size(), &found);
    if (error == ERANGE) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (error != 0 || found == nullptr) return true;
    for (char** member = entry.gr_mem; *member != nullptr; ++member)
      if (user->name != *member) return true;
    return false;
  }
}

// What is wrong with a file or directory, or nothing.
std::optional<std::string> what_is_wrong(const CheckedStatus& status, uid_t user, Place place) {
  if (status.owner != 0 && status.owner != user)
    return "is owned by user " + std::to_string(status.owner);
  const bool sticky_on_the_way =
      place == Place::on_the_way && S_ISDIR(status.mode) && (status.mode & S_ISVTX) != 0;
  if (sticky_on_the_way) return std::nullopt;
  if ((status.mode & S_IWOTH) != 0) return "is writable by every user";
  if ((status.mode & S_IWGRP) != 0 && has_other_members(status.group, status.owner))
    return "is writable by group " + std::to_string(status.group) +
           ", which has members besides its owner";
  return std::nullopt;
}

Result<void> judge(const CheckedStatus& status, const std::filesystem::path& path, uid_t user,
                   Place place) {
  if (std::optional<std::string> wrong = what_is_wrong(status, user, place))
    return UnsafeBundle{path, std::move(*wrong)};
  return {};
}

Result<CheckedStatus> status_of(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return Io{last_os_error()};
  return checked_status(status);
}

// Resolves `bundle_dir` from "/" one component at a time, as the loader's opens will, judging
// every directory it passes and returning the status of the directory it ends at.
class PathToBundle {
 public:
  explicit PathToBundle(uid_t user) : user_(user) {}
  Result<CheckedStatus> walk(const std::string& absolute);

 private:
  Result<void> enter_root();
  Result<void> step(const std::string& name, bool last);
  void push(std::string_view path);

  uid_t user_;
  std::vector<UniqueFd> entered_;   // "/" first
  std::vector<std::string> shown_;  // the path of each directory entered, as resolved
  std::vector<std::string> pending_;
  int links_ = 0;
};

void PathToBundle::push(std::string_view path) {
  std::vector<std::string> components;
  for (std::size_t start = 0; start <= path.size();) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    if (end > start) components.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  pending_.insert(pending_.end(), components.rbegin(), components.rend());
}

Result<void> PathToBundle::enter_root() {
  entered_.clear();
  shown_.clear();
  UniqueFd root(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!root.is_open()) return Io{last_os_error()};
  TRY_ASSIGN(const CheckedStatus status, status_of(root.get()));
  TRY(judge(status, "/", user_, Place::on_the_way));
  entered_.push_back(std::move(root));
  shown_.emplace_back("/");
  return {};
}

Result<void> PathToBundle::step(const std::string& name, bool last) {
  if (name == ".") return {};
  if (name == "..") {
    if (entered_.size() > 1) {
      entered_.pop_back();
      shown_.pop_back();
    }
    return {};
  }
  const int here = entered_.back().get();
  char target[PATH_MAX];
  const ssize_t n = ::readlinkat(here, name.c_str(), target, sizeof target);
  if (n >= 0) {
    if (++links_ > 40 || static_cast<std::size_t>(n) == sizeof target) return Io{os_error(ELOOP)};
    const std::string_view link(target, static_cast<std::size_t>(n));
    if (link.starts_with('/')) TRY(enter_root());
    push(link);
    return {};
  }
  if (errno != EINVAL) return Io{last_os_error()};
  UniqueFd dir(::openat(here, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!dir.is_open()) return Io{last_os_error()};
  std::string shown = join_path(shown_.back(), name);
  if (!last) {
    TRY_ASSIGN(const CheckedStatus status, status_of(dir.get()));
    TRY(judge(status, shown, user_, Place::on_the_way));
  }
  entered_.push_back(std::move(dir));
  shown_.push_back(std::move(shown));
  return {};
}

Result<CheckedStatus> PathToBundle::walk(const std::string& absolute) {
  TRY(enter_root());
  push(absolute);
  while (!pending_.empty()) {
    const std::string name = std::move(pending_.back());
    pending_.pop_back();
    TRY(step(name, pending_.empty()));
  }
  return status_of(entered_.back().get());
}

Result<std::string> absolute_path(const std::filesystem::path& path) {
  if (path.native().starts_with('/')) return path.native();
  char cwd[PATH_MAX];
  if (::getcwd(cwd, sizeof cwd) == nullptr) return Io{last_os_error()};
  return join_path(cwd, path.native());
}

}  // namespace

std::optional<std::string_view> host_arch() {
  const std::optional<HostSourceTable> own = own_machine_table();
  if (!own) return std::nullopt;
  return own->arch;
}

Result<void> check_ownership(const std::filesystem::path& bundle_dir,
                             const VerifiedBundle& verified, uid_t user) {
  TRY_ASSIGN(const std::string absolute, absolute_path(bundle_dir));
  PathToBundle path(user);
  TRY_ASSIGN(const CheckedStatus reached, path.walk(absolute));
  if (verified.directories.empty() ||
      reached.device != verified.directories.front().status.device ||
      reached.inode != verified.directories.front().status.inode)
    return UnsafeBundle{bundle_dir, "is not the directory that was verified"};
  for (const CheckedDirectory& directory : verified.directories)
    TRY(judge(directory.status, directory.path.empty() ? bundle_dir : bundle_dir / directory.path,
              user, Place::in_bundle));
  TRY(judge(verified.manifest_file, bundle_dir / "bundle.toml", user, Place::in_bundle));
  for (const CheckedFile& file : verified.files)
    TRY(judge(file.status, bundle_dir / file.path, user, Place::in_bundle));
  return {};
}

std::vector<std::string> launch_environment(const std::vector<std::string>& environment) {
  std::vector<std::string> kept;
  kept.reserve(environment.size());
  for (const std::string& entry : environment)
    if (!entry.starts_with("LD_")) kept.push_back(entry);
  return kept;
}

}  // namespace srb
