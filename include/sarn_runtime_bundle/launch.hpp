#pragma once
// Running a program on a verified bundle: its loader, its library directories and the command
// line that puts them together.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sarn_runtime_bundle/location.hpp>
#include <sarn_runtime_bundle/manifest.hpp>
#include <sarn_runtime_bundle/result.hpp>
#include <sarn_runtime_bundle/verify.hpp>

namespace sarn_runtime_bundle {

struct LaunchPlan {
  BundleManifest manifest;                // as verified
  std::string loader;                     // absolute path of the bundle's loader for its arch
  std::vector<std::string> library_dirs;  // absolute, in search order; the includes' lib/ last
  bool loader_takes_argv0 = false;        // the loader's verified bytes offer --argv0 (1.1)
};

namespace detail {

inline Result<LaunchPlan> launch_plan_result(srb_launch_plan* handle, srb_error* error) {
  return result_of<LaunchPlan>(handle, error, [](const srb_launch_plan* plan) {
    LaunchPlan out;
    out.manifest = manifest_of(srb_launch_plan_manifest(plan));
    std::size_t length = 0;
    const char* loader = srb_launch_plan_loader(plan, &length);
    out.loader = text(loader, length);
    for (std::size_t i = 0; i < srb_launch_plan_library_dir_count(plan); ++i) {
      const char* dir = srb_launch_plan_library_dir(plan, i, &length);
      out.library_dirs.push_back(text(dir, length));
    }
    out.loader_takes_argv0 = srb_launch_plan_loader_takes_argv0(plan) != 0;
    return out;
  });
}

// exec takes C strings, so a text holding NUL would be cut short there: it is refused as the C
// layer refuses such a path, with an i/o error "Invalid argument (os error 22)".
inline bool holds_nul(const std::string& text) {
  return text.find('\0') != std::string::npos;
}
inline Error invalid_argument() {
  srb_error* error = nullptr;
  char** nothing = srb_launch_argv(nullptr, nullptr, 0, nullptr, nullptr, 0, &error);
  srb_argv_free(nothing);
  return error_of(Owned<srb_error>(error).get());
}

// The C strings of `texts`, or none when one holds NUL.
inline std::optional<std::vector<const char*>> c_strings(const std::vector<std::string>& texts) {
  std::vector<const char*> strings;
  for (const std::string& text : texts) {
    if (holds_nul(text)) return std::nullopt;
    strings.push_back(text.c_str());
  }
  return strings;
}

inline Result<std::vector<std::string>> argv_result(char** argv, srb_error* error) {
  return result_of<std::vector<std::string>>(argv, error, [](char** vector) {
    std::vector<std::string> out;
    for (char** arg = vector; *arg != nullptr; ++arg)
      out.emplace_back(*arg);
    return out;
  });
}

}  // namespace detail

// verify_bundle, and what a launcher needs to exec a program on the bundle, judged from what
// verify read: the first listed loader of the manifest arch's table whose ELF header is of that
// arch, and the library directories. Besides verify_bundle's failures, ErrorKind::UnsupportedArch
// for an arch without a table and an i/o error "Exec format error (os error 8)" when no listed
// loader is of the manifest's arch.
inline Result<LaunchPlan> verify_for_launch(const VerifyRequest& request) {
  const detail::Owned<srb_verify_request> handle = detail::verify_request_handle(request);
  srb_error* error = nullptr;
  srb_launch_plan* plan = srb_verify_for_launch(handle.get(), &error);
  return detail::launch_plan_result(plan, error);
}

// The whole job for a version tag: resolve_bundle, then verify_for_launch on the directory found
// with the requirements of `requirements` (its bundle_dir is ignored) and the version bound to
// `version`. A version that is not installed fails with ErrorKind::ManifestMissing.
inline Result<LaunchPlan> launch_plan_for_version(std::string_view version, SystemOnly system,
                                                  const VerifyRequest& requirements = {}) {
  const detail::Owned<srb_verify_request> handle = detail::verify_request_handle(requirements);
  srb_error* error = nullptr;
  srb_launch_plan* plan = srb_launch_plan_for_version(
      version.data(), version.size(), system == SystemOnly::yes, handle.get(), &error);
  return detail::launch_plan_result(plan, error);
}

// { loader, "--library-path", "DIR:DIR...", program, args... }, for execv. Fails with an i/o
// error "Invalid argument (os error 22)" when a directory holds ':', which --library-path cannot
// carry, or when `program` is empty or starts with '-', which the loader would take for an option,
// or when any of these texts holds a NUL byte, at which exec would cut it.
inline Result<std::vector<std::string>> launch_argv(const LaunchPlan& plan,
                                                    const std::string& program,
                                                    const std::vector<std::string>& args = {}) {
  const std::optional<std::vector<const char*>> dirs = detail::c_strings(plan.library_dirs);
  const std::optional<std::vector<const char*>> arg_texts = detail::c_strings(args);
  if (!dirs || !arg_texts || detail::holds_nul(plan.loader) || detail::holds_nul(program))
    return detail::invalid_argument();
  srb_error* error = nullptr;
  char** argv = srb_launch_argv(plan.loader.c_str(), dirs->data(), dirs->size(), program.c_str(),
                                arg_texts->data(), arg_texts->size(), &error);
  return detail::argv_result(argv, error);
}

// The name the host source tables give this machine ("x86_64", "aarch64"), or none when the
// library has no table for it. Since 1.1.
inline std::optional<std::string> host_arch() {
  const char* arch = srb_host_arch();
  if (arch == nullptr) return std::nullopt;
  return std::string(arch);
}

enum class OwnershipCheck { required, skipped };

// What a launch of an installed version is bound to (since 1.1): see srb_launch_request_new.
struct LaunchRequest {
  std::string version;  // the tag, which the manifest's version must be
  BundleRoots roots;
  std::optional<std::string> require_publisher;  // a launcher should always name its publisher
  RequireSignature require_signature = RequireSignature::no;
  std::optional<std::string> arch;  // none: host_arch(); another only for an emulator
  // Skip only where nobody can change the bundle anyway, such as a read-only image.
  OwnershipCheck ownership = OwnershipCheck::required;
};

// The launch of an installed version, checked in full (see srb_plan_launch):
// ErrorKind::NotInstalled when no root holds the version, ErrorKind::ArchMismatch for another
// machine's bundle, ErrorKind::UnsafeBundle when a user other than root and the caller could change
// what it runs, and verify_bundle's failures. Since 1.1.
inline Result<LaunchPlan> plan_launch(const LaunchRequest& request) {
  const detail::Owned<srb_launch_request> handle =
      detail::made(srb_launch_request_new(request.version.data(), request.version.size()));
  const auto set = [&](const std::optional<std::string>& value,
                       int (*setter)(srb_launch_request*, const char*, std::size_t)) {
    if (value) detail::copied(setter(handle.get(), value->data(), value->size()));
  };
  set(request.roots.user, srb_launch_request_set_user_root);
  set(request.roots.system, srb_launch_request_set_system_root);
  set(request.require_publisher, srb_launch_request_require_publisher);
  set(request.arch, srb_launch_request_set_arch);
  srb_launch_request_require_signature(handle.get(),
                                       request.require_signature == RequireSignature::yes);
  srb_launch_request_skip_ownership_check(handle.get(),
                                          request.ownership == OwnershipCheck::skipped);
  srb_error* error = nullptr;
  srb_launch_plan* plan = srb_plan_launch(handle.get(), &error);
  return detail::launch_plan_result(plan, error);
}

// launch_argv with the program's argv[0] chosen: `argv0` (none: the program's path) goes to the
// loader's --argv0 when it offers it, and fails otherwise unless it is the program's path.
// Since 1.1.
inline Result<std::vector<std::string>> launch_command(
    const LaunchPlan& plan, const std::string& program, const std::vector<std::string>& args = {},
    const std::optional<std::string>& argv0 = {}) {
  const std::optional<std::vector<const char*>> dirs = detail::c_strings(plan.library_dirs);
  const std::optional<std::vector<const char*>> arg_texts = detail::c_strings(args);
  if (!dirs || !arg_texts || detail::holds_nul(plan.loader) || detail::holds_nul(program) ||
      (argv0 && detail::holds_nul(*argv0)))
    return detail::invalid_argument();
  srb_error* error = nullptr;
  char** argv = srb_launch_command(
      plan.loader.c_str(), dirs->data(), dirs->size(), plan.loader_takes_argv0, program.c_str(),
      argv0 ? argv0->c_str() : nullptr, arg_texts->data(), arg_texts->size(), &error);
  return detail::argv_result(argv, error);
}

// The environment to exec the loader with: `environment` ("NAME=value" entries up to a null
// pointer; null: this process's) without every variable whose name starts with "LD_". Since 1.1.
inline Result<std::vector<std::string>> launch_environment(
    const char* const* environment = nullptr) {
  srb_error* error = nullptr;
  char** kept = srb_launch_environment(environment, &error);
  return detail::argv_result(kept, error);
}

}  // namespace sarn_runtime_bundle
