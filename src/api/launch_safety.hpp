#pragma once
// What a launcher must know before it runs anything on a bundle: that the bundle is for this
// machine, that nobody but root and the caller can change any file or directory the launch goes
// through, and which part of the caller's environment may reach the loader.

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.hpp"
#include "verify/verify.hpp"

namespace srb {

// The name the host source tables give the machine the library runs on, or none when no table
// is for it.
std::optional<std::string_view> host_arch();

// Checks that only root and `user` can change what a launch of the bundle verified in
// `bundle_dir` runs:
// - every directory passed while resolving `bundle_dir` from "/" (a link's target included);
// - the bundle directory and every directory of its payload, bundle.toml and every listed file,
//   judged on the statuses verify took from its own descriptors.
// Each must be owned by root or `user`, not writable by every user, and not writable by a group
// with members besides its owner; a directory on the way to the bundle may be writable by others
// when it has the sticky bit (/tmp), since nobody then renames what they do not own. Fails with
// UnsafeBundle naming the first path that fails and what is wrong with it; with UnsafeBundle too
// when the directory `bundle_dir` names now is not the one verified.
Result<void> check_ownership(const std::filesystem::path& bundle_dir,
                             const VerifiedBundle& verified, uid_t user);

// `environment` ("NAME=value" entries) without every variable whose name starts with "LD_", which
// the loader would act on: LD_PRELOAD and LD_AUDIT load libraries of the caller's choice into the
// program, LD_LIBRARY_PATH puts the host's libraries before the bundle's.
std::vector<std::string> launch_environment(const std::vector<std::string>& environment);

}  // namespace srb
