#pragma once
// The per-user bundle root, chosen by environment variables and the user database.

#include <functional>
#include <optional>
#include <string>

#include "core/result.hpp"

namespace srb {

// The variables that choose the per-user root, as raw bytes; empty when unset or set empty,
// which the rules treat alike.
struct UserEnvironment {
  std::string sarn_runtime_bundle_dir;
  std::string xdg_data_home;
  std::string home;
};

// The home directory from the user database, or nothing when the lookup finds none.
using HomeLookup = std::function<std::optional<std::string>()>;

// SARN_RUNTIME_BUNDLE_DIR as it is; else "sarn-runtime" under the data directory, which is an
// absolute XDG_DATA_HOME or ".local/share" under the home directory (HOME, else `lookup_home`,
// called only when it is needed). Fails with DataDirUnresolvable when no home directory is found.
Result<std::string> user_bundle_root(const UserEnvironment& env, const HomeLookup& lookup_home);

// The same, for this process's environment and its real user ID's user database entry.
Result<std::string> user_bundle_root();

}  // namespace srb
