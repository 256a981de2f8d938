#pragma once
// Where an installed bundle lives: per user first, then the system root.

#include <string>
#include <string_view>

#include "core/result.hpp"

namespace srb {

inline constexpr std::string_view SYSTEM_BUNDLE_ROOT = "/usr/lib/sarn-runtime";

enum class SystemOnly { no, yes };

// The bundle directory for a version tag, as a byte string. With SystemOnly::yes the system root
// joined with the tag, looking at nothing. Otherwise the first of the per-user and the system
// candidate holding a bundle.toml, else the per-user candidate. Fails with InvalidVersionTag
// when the tag is not a single file name (empty, ".", "..", or holding "/" or NUL), and with
// DataDirUnresolvable only when the system root does not have the version and no per-user root
// can be found; with Io when a candidate's test fails for another reason than absence.
Result<std::string> resolve_bundle_path(std::string_view version, SystemOnly system);

// Whether a bundle directory holds a bundle.toml: the test resolve_bundle_path applies to each
// candidate, for callers that want to tell an installed version from one that is not. Nothing
// there (no such file, a dangling or looping link, a component that is no directory or may not
// be searched) is "not installed"; any other failure of the status query (EIO, ENOMEM...) fails
// with Io, since it proves nothing about the bundle.
Result<bool> is_installed(const std::string& bundle_dir);

}  // namespace srb
