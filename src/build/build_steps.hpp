#pragma once
// The steps of build_bundle, in the order it runs them: gather (create the bundle's directories,
// copy every source and digest each copy as it is made), finish (sort, hash, sign, write
// bundle.toml). They are separate so that a test can look at the bundle between the two.

#include <sys/types.h>
#include <time.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "build/build.hpp"
#include "build/host_sources.hpp"
#include "core/result.hpp"
#include "core/unique_fd.hpp"
#include "manifest/manifest.hpp"

namespace srb {

// The bundle directory while it is built. Every directory below out was entered without following
// a link and stays open, so each is walked to only once.
struct GatheredBundle {
  std::string out;  // as typed, for the paths that errors show
  UniqueFd out_fd;
  // By bundle path, "lib" and "lib/lib64": every directory below out the build entered.
  std::map<std::string, UniqueFd, std::less<>> directories;
  // What every file and directory written is stamped with, for a reproducible tree.
  std::optional<struct timespec> time;
  gid_t group = 0;  // the builder's effective group, which everything written is given
  std::vector<BundleFile> files;  // in copy order
};

// Creates out/lib, then copies the present table entries, the includes and the loader cache,
// each digested through the descriptor that wrote it before the next is copied. Fails with
// NoBundleSources when there is nothing to copy.
Result<GatheredBundle> gather_bundle(const BuildRequest& request, const HostSourceTable& table);

// Sorts the files, computes the root hash, signs when asked, fixes produced_at and writes
// bundle.toml afresh. With a tree time, every directory gets it after its last entry, and out
// after bundle.toml. Returns the manifest as written.
Result<BundleManifest> finish_bundle(const BuildRequest& request, const HostSourceTable& table,
                                     GatheredBundle bundle);

}  // namespace srb
