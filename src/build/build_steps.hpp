#pragma once
// The steps of build_bundle, in the order it runs them: gather (create the bundle's directories
// and copy every source), digest (check and hash every copy), finish (sort, hash, sign, write
// bundle.toml). They are separate so that a test can act on the bundle between two of them.

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "build/build.hpp"
#include "build/copy_file.hpp"
#include "build/host_sources.hpp"
#include "core/result.hpp"
#include "core/unique_fd.hpp"
#include "manifest/manifest.hpp"

namespace srb {

// One gathered file: where it sits in the bundle and the file that was written there.
struct SourceRecord {
  std::string bundle_path;
  Destination destination;  // its directory is held open by the GatheredBundle
  WrittenFile written;
};

// The bundle directory while it is built. Every directory below out was entered without following
// a link and stays open, so later steps reach each file through the same directories.
struct GatheredBundle {
  std::string out;  // as typed, for the paths that errors show
  UniqueFd out_fd;
  std::map<std::string, UniqueFd, std::less<>> directories;  // by bundle path, "lib/lib64"
  std::vector<SourceRecord> records;                         // in copy order
};

// Creates out/lib, then copies the present table entries, the includes and the loader cache.
// Fails with NoBundleSources when there is nothing to copy.
Result<GatheredBundle> gather_bundle(const BuildRequest& request, const HostSourceTable& table);

// Digests every copy in record order, each read through a descriptor that is checked to be the
// very file the copy wrote, and then gives that file its final permission bits.
Result<std::vector<BundleFile>> digest_bundle(const GatheredBundle& bundle);

// Sorts the files, computes the root hash, signs when asked, fixes produced_at and writes
// bundle.toml afresh. Returns the manifest as written.
Result<BundleManifest> finish_bundle(const BuildRequest& request, const HostSourceTable& table,
                                     const GatheredBundle& bundle, std::vector<BundleFile> files);

}  // namespace srb
