#include "location/bundle_path.hpp"

// Answers where the bundle for a version tag lives; the tag must be a single file name. With
// --system it is the system location, without looking at anything. Otherwise the per-user candidate
// wins when installed, then the system candidate when installed; failing both, the per-user
// candidate is where the version would go, and only then does a missing home directory become an
// error.

#include <sys/stat.h>

#include <cerrno>

#include "core/confined_open.hpp"
#include "core/join_path.hpp"
#include "location/user_root.hpp"

namespace srb {

// Installed means bundle.toml can be stat'ed through links; whatever it is is not looked into
// further. A stat that fails because the system failed is no answer: a launcher sent to the other
// root by a disk's hiccup would run another bundle than the one installed first.
Result<bool> is_installed(const std::string& candidate) {
  struct stat status {};
  if (::stat(join_path(candidate, "bundle.toml").c_str(), &status) == 0) return true;
  if (classify_open_failure(errno) == OpenFailure::fault) return Io{last_os_error()};
  return false;
}

namespace {

// A launcher may take the tag from an application's own metadata, so the tag must not be able to
// point anywhere but one directory right below a root: "/tmp/x" would replace the root, ".."
// climb out of it, "" or "." name the root itself, and a NUL would cut the path short.
bool is_plain_version_tag(std::string_view tag) {
  return !tag.empty() && tag != "." && tag != ".." &&
         tag.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

}  // namespace

Result<std::string> resolve_bundle_path(std::string_view version, SystemOnly system) {
  if (!is_plain_version_tag(version)) return InvalidVersionTag{std::string(version)};
  const std::string system_candidate = join_path(SYSTEM_BUNDLE_ROOT, version);
  if (system == SystemOnly::yes) return system_candidate;

  // An unresolvable per-user root is set aside here: the system root may still have the version.
  if (const Result<std::string> user_root = user_bundle_root()) {
    std::string user_candidate = join_path(*user_root, version);
    TRY_ASSIGN(const bool installed, is_installed(user_candidate));
    if (installed) return user_candidate;
  }
  TRY_ASSIGN(const bool installed, is_installed(system_candidate));
  if (installed) return system_candidate;

  TRY_ASSIGN(const std::string user_root, user_bundle_root());
  return join_path(user_root, version);
}

}  // namespace srb
