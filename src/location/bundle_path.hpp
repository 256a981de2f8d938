#pragma once
// Where an installed bundle lives: per user first, then the system root.

#include <string>
#include <string_view>

#include "cli/result.hpp"

namespace srb {

inline constexpr std::string_view SYSTEM_BUNDLE_ROOT = "/usr/lib/sarn-runtime";

enum class SystemOnly { no, yes };

// The bundle directory for a version tag, as a byte string. Fails with DataDirUnresolvable.
Result<std::string> resolve_bundle_path(std::string_view version, SystemOnly system);

}  // namespace srb
