#include "api/launch_plan.hpp"

#include <cerrno>
#include <cstdint>
#include <map>
#include <set>
#include <system_error>
#include <utility>

#include <unistd.h>

#include "api/launch_safety.hpp"
#include "build/host_sources.hpp"

// The loader is chosen by what the bundle holds, never by a fixed path: the x86_64 table also
// probes the 32-bit loader, so a bundle built on a host with 32-bit libc holds two ld-linux
// files, and only the one whose ELF header says x86-64 can start an x86_64 program. The header
// is judged in the bytes verify read from the descriptor it digested.

namespace srb {
namespace {

// The loader's option that sets the program's argv[0]; a loader that has it names it in its help.
constexpr std::string_view kArgv0Option = "--argv0";

// Bytes the loader gives a meaning in a path: ':' and ';' split --library-path, and '$' starts
// $ORIGIN, $LIB and $PLATFORM, which it expands.
bool holds_loader_syntax(std::string_view path) {
  return path.find_first_of(":;$") != std::string_view::npos;
}

std::string parent_of(const std::string& bundle_path) {
  const std::size_t slash = bundle_path.rfind('/');
  return slash == std::string::npos ? std::string() : bundle_path.substr(0, slash);
}

}  // namespace

Result<PlannedLaunch> plan_from_verified(const std::filesystem::path& bundle_dir,
                                         VerifiedBundle verified,
                                         std::span<const HostSourceTable> tables) {
  BundleManifest& manifest = verified.manifest;
  // Each listed loader's verified bytes: whether they offer --argv0.
  std::set<std::string_view> offer_argv0;
  for (const CheckedFile& file : verified.files)
    if (file.holds_text) offer_argv0.insert(file.path);
  TRY_ASSIGN(const HostSourceTable table, select_host_source_table(manifest.arch, tables));
  std::error_code no_working_directory;
  const std::filesystem::path root = std::filesystem::absolute(bundle_dir, no_working_directory);
  if (no_working_directory) return Io{os_error(no_working_directory.value())};
  // Each listed path with the first bytes verify read from the descriptor it digested.
  std::map<std::string_view, std::string_view> heads;
  for (const CheckedFile& file : verified.files)
    heads.emplace(file.path, file.head);

  PlannedLaunch plan;
  std::set<std::string> dirs_seen;
  const auto add_dir = [&](const std::string& dir) {
    if (dirs_seen.insert(dir).second) plan.library_dirs.push_back((root / dir).string());
  };
  for (const HostEntry& entry : table.entries) {
    const std::string path = bundle_path_for_entry(entry.path);
    const auto head = heads.find(path);
    if (head == heads.end()) continue;
    if (!entry.is_loader) {
      add_dir(parent_of(path));
      continue;
    }
    if (plan.loader.empty() && elf_header_matches(table.elf, head->second)) {
      plan.loader = (root / path).string();
      plan.loader_takes_argv0 = offer_argv0.contains(path);
    }
  }
  // A loader of another machine, or none at all, cannot start the bundle's programs, which is
  // what exec says of such a file.
  if (plan.loader.empty()) return Io{os_error(ENOEXEC)};
  add_dir("lib");  // the includes
  plan.manifest = std::move(manifest);
  return plan;
}

Result<PlannedLaunch> verify_and_plan(const VerifyOptions& request) {
  TRY_ASSIGN(VerifiedBundle verified, verify_bundle(request));
  return plan_from_verified(request.bundle_dir, std::move(verified));
}

Result<PlannedLaunch> plan_installed_launch(const LaunchSpec& spec,
                                            std::span<const HostSourceTable> tables) {
  const std::string arch = spec.arch ? *spec.arch : std::string(default_arch(tables));
  TRY_ASSIGN(const HostSourceTable table, select_host_source_table(arch, tables));
  TRY_ASSIGN(std::string bundle_dir, find_installed_bundle(spec.version, spec.roots));
  VerifyOptions request{.bundle_dir = bundle_dir,
                        .require_arch = arch,
                        .require_publisher = spec.require_publisher,
                        .require_signature = spec.require_signature,
                        .require_version = spec.version,
                        .search = VerifyOptions::Search{std::string(kArgv0Option), {}}};
  for (const HostEntry& entry : table.entries)
    if (entry.is_loader) request.search->paths.push_back(bundle_path_for_entry(entry.path));
  TRY_ASSIGN(VerifiedBundle verified, verify_bundle(request));
  if (spec.ownership == OwnershipRule::required)
    TRY(check_ownership(bundle_dir, verified, ::geteuid()));
  return plan_from_verified(bundle_dir, std::move(verified), tables);
}

Result<std::vector<std::string>> launch_argv(std::string_view loader,
                                             std::span<const std::string> library_dirs,
                                             std::string_view program,
                                             std::span<const std::string> args) {
  PlannedLaunch plan;
  plan.loader = std::string(loader);
  plan.library_dirs.assign(library_dirs.begin(), library_dirs.end());
  return launch_command(plan, program, std::nullopt, args);
}

Result<std::vector<std::string>> launch_command(const PlannedLaunch& plan, std::string_view program,
                                                std::optional<std::string_view> argv0,
                                                std::span<const std::string> args) {
  if (program.find('/') == std::string_view::npos || program.front() == '-' ||
      holds_loader_syntax(program) || holds_loader_syntax(plan.loader))
    return Io{os_error(EINVAL)};
  std::string library_path;
  for (const std::string& dir : plan.library_dirs) {
    if (holds_loader_syntax(dir)) return Io{os_error(EINVAL)};
    if (!library_path.empty()) library_path += ':';
    library_path += dir;
  }
  std::vector<std::string> argv = {plan.loader};
  if (argv0 && plan.loader_takes_argv0) {
    argv.insert(argv.end(), {std::string(kArgv0Option), std::string(*argv0)});
  } else if (argv0 && *argv0 != program) {
    return Io{os_error(ENOTSUP)};
  }
  argv.insert(argv.end(), {"--library-path", std::move(library_path), std::string(program)});
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

}  // namespace srb
