#include "location/bundle_path.hpp"

// Answers where the bundle for a version tag lives; the tag must be a single file name. With
// --system it is the system location, without looking at anything. Otherwise the per-user candidate
// wins when installed, then the system candidate when installed; failing both, the per-user
// candidate is where the version would go, and only then does a missing home directory become an
// error.

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <tuple>

#include "core/confined_open.hpp"
#include "core/join_path.hpp"
#include "location/user_root.hpp"

namespace srb {
namespace {

// A launcher may take the tag from an application's own metadata, so the tag must not be able to
// point anywhere but one directory right below a root: "/tmp/x" would replace the root, ".."
// climb out of it, "" or "." name the root itself, and a NUL would cut the path short.
bool is_plain_version_tag(std::string_view tag) {
  return !tag.empty() && tag != "." && tag != ".." &&
         tag.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

Result<std::string> user_root_of(const InstallRoots& roots) {
  if (roots.user) return *roots.user;
  return user_bundle_root();
}

// The candidates of a version that hold a bundle.toml, per-user first, and every candidate looked
// at. An unresolvable per-user root is set aside: the system root may still have the version.
struct Candidates {
  std::optional<std::string> installed;
  std::vector<std::filesystem::path> looked_in;
};

Result<Candidates> look_for(std::string_view version, const InstallRoots& roots) {
  Candidates candidates;
  if (const Result<std::string> user_root = user_root_of(roots)) {
    std::string user_candidate = join_path(*user_root, version);
    TRY_ASSIGN(const bool installed, is_installed(user_candidate));
    if (installed) candidates.installed = user_candidate;
    candidates.looked_in.emplace_back(std::move(user_candidate));
    if (installed) return candidates;
  }
  std::string system_candidate = join_path(roots.system, version);
  TRY_ASSIGN(const bool installed, is_installed(system_candidate));
  if (installed) candidates.installed = system_candidate;
  candidates.looked_in.emplace_back(std::move(system_candidate));
  return candidates;
}

// The installed versions right below one root.
Result<void> add_installed_below(const std::string& root, bool per_user,
                                 std::vector<InstalledVersion>& found) {
  DIR* dir = ::opendir(root.c_str());
  if (dir == nullptr) {
    if (classify_open_failure(errno) == OpenFailure::fault) return Io{last_os_error()};
    return {};
  }
  const auto close_dir = [](DIR* d) { ::closedir(d); };
  const std::unique_ptr<DIR, decltype(close_dir)> owner(dir, close_dir);
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      if (errno != 0) return Io{last_os_error()};
      return {};
    }
    const std::string_view name = entry->d_name;
    if (!is_plain_version_tag(name)) continue;
    std::string location = join_path(root, name);
    TRY_ASSIGN(const bool installed, is_installed(location));
    if (installed) found.push_back({std::string(name), std::move(location), per_user});
  }
}

}  // namespace

// Installed means bundle.toml can be stat'ed through links; whatever it is is not looked into
// further. A stat that fails because the system failed is no answer: a launcher sent to the other
// root by a disk's hiccup would run another bundle than the one installed first.
Result<bool> is_installed(const std::string& candidate) {
  struct stat status {};
  if (::stat(join_path(candidate, "bundle.toml").c_str(), &status) == 0) return true;
  if (classify_open_failure(errno) == OpenFailure::fault) return Io{last_os_error()};
  return false;
}

Result<std::string> resolve_bundle_path(std::string_view version, SystemOnly system,
                                        const InstallRoots& roots) {
  if (!is_plain_version_tag(version)) return InvalidVersionTag{std::string(version)};
  if (system == SystemOnly::yes) return join_path(roots.system, version);
  TRY_ASSIGN(Candidates candidates, look_for(version, roots));
  if (candidates.installed) return std::move(*candidates.installed);
  TRY_ASSIGN(const std::string user_root, user_root_of(roots));
  return join_path(user_root, version);
}

Result<std::string> find_installed_bundle(std::string_view version, const InstallRoots& roots) {
  if (!is_plain_version_tag(version)) return InvalidVersionTag{std::string(version)};
  TRY_ASSIGN(Candidates candidates, look_for(version, roots));
  if (candidates.installed) return std::move(*candidates.installed);
  return NotInstalled{std::string(version), std::move(candidates.looked_in)};
}

Result<std::vector<InstalledVersion>> list_installed_bundles(const InstallRoots& roots) {
  std::vector<InstalledVersion> found;
  if (const Result<std::string> user_root = user_root_of(roots))
    TRY(add_installed_below(*user_root, true, found));
  TRY(add_installed_below(roots.system, false, found));
  std::sort(found.begin(), found.end(), [](const InstalledVersion& a, const InstalledVersion& b) {
    return std::tie(a.version, b.per_user) < std::tie(b.version, a.per_user);
  });
  return found;
}

}  // namespace srb
