#pragma once
// What a launcher needs to run a program on a verified bundle: the bundle's loader for its
// architecture and the directories its libraries lie in, in the order the host source table
// probes them.

#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.hpp"
#include "manifest/manifest.hpp"
#include "verify/verify.hpp"

namespace srb {

struct LaunchPlan {
  BundleManifest manifest;                // as verified
  std::string loader;                     // absolute path of the loader in the bundle
  std::vector<std::string> library_dirs;  // absolute, table order, then the includes' lib/
};

// True when the ELF header at the start of `head` is that of a program for `arch`: 64-bit,
// little-endian, and the machine of x86_64 or aarch64. Anything shorter than a header is not.
bool elf_header_matches(std::string_view arch, std::string_view head);

// The plan for a bundle verified in `bundle_dir`, judged from what verify read: the loader is
// the first listed loader of the table whose first bytes are an ELF header of the manifest's
// arch. Fails with UnsupportedArch for an arch without a table, and with Io ENOEXEC when no
// listed loader of the table has a header of the manifest's arch.
Result<LaunchPlan> plan_launch(const std::filesystem::path& bundle_dir, VerifiedBundle verified);

// Verifies the bundle as verify_bundle does and plans its launch from what verify read.
Result<LaunchPlan> verify_for_launch(const VerifyRequest& request);

// The command line that runs `program` with `args` on the plan:
// loader --library-path DIR:DIR... program args...
// Fails with Io EINVAL when a directory holds ':', which --library-path cannot carry, or when
// the program is empty or starts with '-', which the loader would take for one of its options.
Result<std::vector<std::string>> launch_argv(std::string_view loader,
                                             std::span<const std::string> library_dirs,
                                             std::string_view program,
                                             std::span<const std::string> args);

}  // namespace srb
