#pragma once
// What a launcher needs to run a program on a verified bundle: the bundle's loader for its
// architecture and the directories its libraries lie in, in the order the host source table
// probes them.

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "build/host_sources.hpp"
#include "core/result.hpp"
#include "location/bundle_path.hpp"
#include "manifest/manifest.hpp"
#include "verify/verify.hpp"

namespace srb {

struct PlannedLaunch {
  BundleManifest manifest;                // as verified
  std::string loader;                     // absolute path of the loader in the bundle
  std::vector<std::string> library_dirs;  // absolute, table order, then the includes' lib/
  bool loader_takes_argv0 = false;        // the loader's verified bytes offer --argv0
};

// The plan for a bundle verified in `bundle_dir`, judged from what verify read: the loader is
// the first listed loader of the table whose first bytes are an ELF header of the manifest's
// arch. Fails with UnsupportedArch for an arch without a table, and with Io ENOEXEC when no
// listed loader of the table has a header of the manifest's arch.
Result<PlannedLaunch> plan_from_verified(
    const std::filesystem::path& bundle_dir, VerifiedBundle verified,
    std::span<const HostSourceTable> tables = host_source_tables());

// Verifies the bundle as verify_bundle does and plans its launch from what verify read.
Result<PlannedLaunch> verify_and_plan(const VerifyOptions& request);

// Whether a launch insists that only root and the caller can change what it runs.
enum class OwnershipRule { required, skipped };

// Everything a launch of an installed version is bound to.
struct LaunchSpec {
  std::string version;  // the tag, which the manifest's version must be
  InstallRoots roots;
  std::optional<std::string> require_publisher;
  RequireSignature require_signature = RequireSignature::no;
  std::optional<std::string> arch;  // none: the host's, which the manifest must name
  OwnershipRule ownership = OwnershipRule::required;
};

// The launch of an installed version, checked in full: found under the roots (NotInstalled when
// no root has it, whatever an installed bundle's state), verified with the version, the arch and
// the publisher and signature that `spec` requires, its files and the directories on the way
// owned by root or the caller's effective user (check_ownership), and planned from what verify
// read, including whether the loader offers --argv0. Fails with UnsupportedArch when no arch is
// named and the host has no table, or the arch named has none.
Result<PlannedLaunch> plan_installed_launch(
    const LaunchSpec& spec, std::span<const HostSourceTable> tables = host_source_tables());

// The command line that runs `program` with `args` on the plan:
// loader --library-path DIR:DIR... program args...
// Fails with Io EINVAL when the loader, a directory or the program holds ':', ';' or '$', which
// the loader reads as separators or expands, when the program has no '/' (the loader would look
// for it among the libraries, not on PATH) or starts with '-' (the loader would take it for one of
// its options).
Result<std::vector<std::string>> launch_argv(std::string_view loader,
                                             std::span<const std::string> library_dirs,
                                             std::string_view program,
                                             std::span<const std::string> args);

// launch_argv with the program's argv[0] set to `argv0` by the loader's --argv0, when the loader
// offers that option; without it the program's argv[0] is its path, and any other `argv0` fails
// with Io ENOTSUP.
Result<std::vector<std::string>> launch_command(const PlannedLaunch& plan, std::string_view program,
                                                std::optional<std::string_view> argv0,
                                                std::span<const std::string> args);

}  // namespace srb
