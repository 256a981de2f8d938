#pragma once
// Where an installed bundle lives: per user first, then the system root.

#include <string>
#include <string_view>

#include <sarn_runtime_bundle/result.hpp>

namespace sarn_runtime_bundle {

inline constexpr std::string_view SYSTEM_BUNDLE_ROOT = "/usr/lib/sarn-runtime";

enum class SystemOnly { no, yes };

// The bundle directory for a version tag, as a byte string: the per-user one if it holds that
// version, else the system one if it does, else the per-user one. With SystemOnly::yes the
// system one, looking at nothing. A tag that is not a single file name (empty, ".", "..", or
// holding "/" or NUL) fails with ErrorKind::InvalidVersionTag.
SARN_RUNTIME_BUNDLE_API Result<std::string> resolve_bundle_path(std::string_view version,
                                                                SystemOnly system);

}  // namespace sarn_runtime_bundle
