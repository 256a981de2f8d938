#pragma once
// Where an installed bundle lives: per user first, then the system root.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.hpp"

namespace srb {

inline constexpr std::string_view SYSTEM_BUNDLE_ROOT = "/usr/lib/sarn-runtime";

enum class SystemOnly { no, yes };

// The two roots installed bundles lie under. By default the per-user root is the one the
// environment and the user database give (user_root.hpp) and the system root is
// SYSTEM_BUNDLE_ROOT; a caller may name either, for one request, without touching the
// environment.
struct InstallRoots {
  std::optional<std::string> user;
  std::string system = std::string(SYSTEM_BUNDLE_ROOT);
};

// The bundle directory for a version tag, as a byte string. With SystemOnly::yes the system root
// joined with the tag, looking at nothing. Otherwise the first of the per-user and the system
// candidate holding a bundle.toml, else the per-user candidate. Fails with InvalidVersionTag
// when the tag is not a single file name (empty, ".", "..", or holding "/" or NUL), and with
// DataDirUnresolvable only when the system root does not have the version and no per-user root
// can be found; with Io when a candidate's test fails for another reason than absence.
Result<std::string> resolve_bundle_path(std::string_view version, SystemOnly system,
                                        const InstallRoots& roots = {});

// Where a version is installed: the first candidate holding a bundle.toml, per-user first.
// Fails with NotInstalled, naming the candidates looked in, when neither does; otherwise as
// resolve_bundle_path.
Result<std::string> find_installed_bundle(std::string_view version, const InstallRoots& roots);

// Whether a bundle directory holds a bundle.toml: the test resolve_bundle_path applies to each
// candidate, for callers that want to tell an installed version from one that is not. Nothing
// there (no such file, a dangling or looping link, a component that is no directory or may not
// be searched) is "not installed"; any other failure of the status query (EIO, ENOMEM...) fails
// with Io, since it proves nothing about the bundle.
Result<bool> is_installed(const std::string& bundle_dir);

// One installed version: its tag, its directory, and whether it lies under the per-user root.
struct InstalledVersion {
  std::string version;
  std::string location;
  bool per_user = false;
  friend bool operator==(const InstalledVersion&, const InstalledVersion&) = default;
};

// Every version installed under the roots: each directory right below a root whose name is a
// valid version tag and that holds a bundle.toml. Sorted by tag byte-wise, a tag installed under
// both roots listed twice, the per-user one first. A root that does not exist, or a per-user root
// that cannot be found, holds none. Fails with Io when a root cannot be read for another reason.
Result<std::vector<InstalledVersion>> list_installed_bundles(const InstallRoots& roots);

}  // namespace srb
