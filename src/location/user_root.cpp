#include "location/user_root.hpp"

// Computes the per-user bundle root. SARN_RUNTIME_BUNDLE_DIR names the root itself; otherwise the
// root is "sarn-runtime" inside the data directory: an absolute XDG_DATA_HOME, or ".local/share"
// under the home directory. The home directory comes from HOME, and only when that is unset or
// empty from the user database entry of the real user ID.

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "core/join_path.hpp"

namespace srb {
namespace {

// getpwuid_r asks for a bigger buffer with ERANGE; past this size we give up and report no home.
constexpr std::size_t kMaxPasswdBuffer = std::size_t{1} << 20;

std::string env_value(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::optional<std::string> home_from_user_database() {
  const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 512);
  passwd entry{};
  passwd* found = nullptr;
  int rc = 0;
  while ((rc = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found)) == ERANGE) {
    if (buffer.size() >= kMaxPasswdBuffer) return std::nullopt;
    buffer.resize(buffer.size() * 2);
  }
  if (rc != 0 || found == nullptr || found->pw_dir == nullptr) return std::nullopt;
  return std::string(found->pw_dir);
}

Result<std::string> data_directory(const UserEnvironment& env, const HomeLookup& lookup_home) {
  // A relative XDG_DATA_HOME is ignored rather than resolved against the working directory.
  if (env.xdg_data_home.starts_with('/')) return env.xdg_data_home;
  std::optional<std::string> home = env.home;
  if (home->empty()) home = lookup_home();
  if (!home || home->empty()) return DataDirUnresolvable{};
  return join_path(*home, ".local/share");
}

}  // namespace

Result<std::string> user_bundle_root(const UserEnvironment& env, const HomeLookup& lookup_home) {
  if (!env.sarn_runtime_bundle_dir.empty()) return env.sarn_runtime_bundle_dir;
  TRY_ASSIGN(const std::string data_dir, data_directory(env, lookup_home));
  return join_path(data_dir, "sarn-runtime");
}

Result<std::string> user_bundle_root() {
  const UserEnvironment env{env_value("SARN_RUNTIME_BUNDLE_DIR"), env_value("XDG_DATA_HOME"),
                            env_value("HOME")};
  return user_bundle_root(env, home_from_user_database);
}

}  // namespace srb
