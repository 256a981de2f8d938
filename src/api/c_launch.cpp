// The C interface to locating and launching: where a version is installed, and the plans and
// command lines that run a program on a bundle.

#include <unistd.h>

#include <string>

#include "api/c_layer.hpp"
#include "api/launch_safety.hpp"

namespace srb::c_layer {
namespace {

srb_launch_plan* launch_plan_handle(srb::PlannedLaunch plan) {
  return new srb_launch_plan{{std::move(plan.manifest)},
                             std::move(plan.loader),
                             std::move(plan.library_dirs),
                             plan.loader_takes_argv0};
}

// The bundle directory for a tag, and whether it is installed there: a failed test is an error,
// not a version that is absent.
srb::Result<std::string> resolve_and_test(std::string_view tag, srb::SystemOnly system,
                                          bool& installed) {
  TRY_ASSIGN(std::string path, srb::resolve_bundle_path(tag, system));
  TRY_ASSIGN(installed, srb::is_installed(path));
  return path;
}

CallResult<srb::PlannedLaunch> launch_plan_for(const srb::VerifyOptions& request) {
  if (!names_a_file(request.bundle_dir.native())) return refused<srb::PlannedLaunch>();
  return result_of(srb::verify_and_plan(request));
}

// The command of launch_command for a plan, from C arguments.
char** launch_command_of(const srb::PlannedLaunch& plan, const char* program, const char* argv0,
                         const char* const* args, size_t arg_count, srb_error** error) {
  return call(
      error,
      [&] {
        if (plan.loader.empty() || program == nullptr || !all_present(args, arg_count))
          return refused<std::vector<std::string>>();
        std::optional<std::string_view> chosen_argv0;
        if (argv0 != nullptr) chosen_argv0 = argv0;
        return result_of(
            srb::launch_command(plan, program, chosen_argv0, c_strings(args, arg_count)));
      },
      malloc_argv);
}

// A plan from a launcher's own parts, which are C strings.
srb::PlannedLaunch plan_of(const char* loader, const char* const* library_dirs, size_t count,
                           bool loader_takes_argv0) {
  srb::PlannedLaunch plan;
  if (loader != nullptr) plan.loader = loader;
  plan.library_dirs = c_strings(library_dirs, count);
  plan.loader_takes_argv0 = loader_takes_argv0;
  return plan;
}

srb::PlannedLaunch plan_of(const srb_launch_plan& handle) {
  srb::PlannedLaunch plan;
  plan.loader = handle.loader;
  plan.library_dirs = handle.library_dirs;
  plan.loader_takes_argv0 = handle.loader_takes_argv0;
  return plan;
}

// A root given as text, or the default for NULL.
std::optional<std::optional<std::string>> root_of(const char* text, size_t length) {
  if (text == nullptr) return std::optional<std::string>();
  if (!names_a_file(std::string_view(text, length))) return std::nullopt;
  return std::optional<std::string>(std::string(text, length));
}

}  // namespace
}  // namespace srb::c_layer

using namespace srb::c_layer;  // NOLINT: the helpers of every C function here

extern "C" {

char* srb_resolve_bundle_path(const char* version, size_t version_length, int system_only,
                              int* installed, size_t* length, srb_error** error) {
  if (installed != nullptr) *installed = 0;
  bool is_installed = false;
  return call(
      error,
      [&] {
        const std::optional<std::string_view> tag = text_of(version, version_length);
        if (!tag) return refused<std::string>();
        const srb::SystemOnly system = system_only ? srb::SystemOnly::yes : srb::SystemOnly::no;
        return result_of(resolve_and_test(*tag, system, is_installed));
      },
      [&](const std::string& path) {
        if (installed != nullptr) *installed = is_installed ? 1 : 0;
        return malloc_copy(path, length);
      });
}

srb_launch_plan* srb_verify_for_launch(const srb_verify_request* request, srb_error** error) {
  return call(
      error,
      [&] {
        if (request == nullptr) return refused<srb::PlannedLaunch>();
        return launch_plan_for(request->request);
      },
      launch_plan_handle);
}
srb_launch_plan* srb_launch_plan_for_version(const char* version, size_t version_length,
                                             int system_only,
                                             const srb_verify_request* requirements,
                                             srb_error** error) {
  return call(
      error,
      [&]() -> CallResult<srb::PlannedLaunch> {
        const std::optional<std::string_view> tag = text_of(version, version_length);
        if (!tag) return refused<srb::PlannedLaunch>();
        const srb::SystemOnly system = system_only ? srb::SystemOnly::yes : srb::SystemOnly::no;
        srb::Result<std::string> dir = srb::resolve_bundle_path(*tag, system);
        if (!dir) return {std::nullopt, srb::error_record(dir.error())};
        srb::VerifyOptions request = requirements ? requirements->request : srb::VerifyOptions{};
        request.bundle_dir = std::move(*dir);
        request.require_version = std::string(*tag);
        return launch_plan_for(request);
      },
      launch_plan_handle);
}
const srb_manifest* srb_launch_plan_manifest(const srb_launch_plan* plan) {
  return plan ? &plan->manifest : nullptr;
}
const char* srb_launch_plan_loader(const srb_launch_plan* plan, size_t* length) {
  return plan ? lend(plan->loader, length) : no_text(length);
}
size_t srb_launch_plan_library_dir_count(const srb_launch_plan* plan) {
  return plan ? plan->library_dirs.size() : 0;
}
const char* srb_launch_plan_library_dir(const srb_launch_plan* plan, size_t index, size_t* length) {
  if (plan == nullptr || index >= plan->library_dirs.size()) return no_text(length);
  return lend(plan->library_dirs[index], length);
}
void srb_launch_plan_free(srb_launch_plan* plan) {
  delete plan;
}

char** srb_launch_plan_argv(const srb_launch_plan* plan, const char* program,
                            const char* const* args, size_t arg_count, srb_error** error) {
  return srb_launch_plan_command(plan, program, nullptr, args, arg_count, error);
}
char** srb_launch_argv(const char* loader, const char* const* library_dirs,
                       size_t library_dir_count, const char* program, const char* const* args,
                       size_t arg_count, srb_error** error) {
  return srb_launch_command(loader, library_dirs, library_dir_count, 0, program, nullptr, args,
                            arg_count, error);
}

const char* srb_host_arch(void) {
  const std::optional<std::string_view> arch = srb::host_arch();
  return arch ? arch->data() : nullptr;
}

srb_installed* srb_list_installed(const char* user_root, size_t user_root_length,
                                  const char* system_root, size_t system_root_length,
                                  srb_error** error) {
  return call(
      error,
      [&]() -> CallResult<std::vector<srb::InstalledVersion>> {
        const auto user = root_of(user_root, user_root_length);
        const auto system = root_of(system_root, system_root_length);
        if (!user || !system) return refused<std::vector<srb::InstalledVersion>>();
        srb::InstallRoots roots{.user = *user};
        if (*system) roots.system = **system;
        return result_of(srb::list_installed_bundles(roots));
      },
      [](std::vector<srb::InstalledVersion> bundles) {
        return new srb_installed{std::move(bundles)};
      });
}
size_t srb_installed_count(const srb_installed* installed) {
  return installed ? installed->bundles.size() : 0;
}
const char* srb_installed_version(const srb_installed* installed, size_t index, size_t* length) {
  if (installed == nullptr || index >= installed->bundles.size()) return no_text(length);
  return lend(installed->bundles[index].version, length);
}
const char* srb_installed_location(const srb_installed* installed, size_t index, size_t* length) {
  if (installed == nullptr || index >= installed->bundles.size()) return no_text(length);
  return lend(installed->bundles[index].location, length);
}
int srb_installed_is_per_user(const srb_installed* installed, size_t index) {
  if (installed == nullptr || index >= installed->bundles.size()) return 0;
  return installed->bundles[index].per_user ? 1 : 0;
}
void srb_installed_free(srb_installed* installed) {
  delete installed;
}

srb_launch_request* srb_launch_request_new(const char* version, size_t length) {
  const std::optional<std::string_view> tag = text_of(version, length);
  return new_handle<srb_launch_request>([&](srb_launch_request& request) {
    if (!tag) return false;
    request.spec.version = std::string(*tag);
    return true;
  });
}
int srb_launch_request_set_user_root(srb_launch_request* request, const char* root, size_t length) {
  return copy_into(request, root, length,
                   [&](std::string text) { request->spec.roots.user = std::move(text); });
}
int srb_launch_request_set_system_root(srb_launch_request* request, const char* root,
                                       size_t length) {
  return copy_into(request, root, length,
                   [&](std::string text) { request->spec.roots.system = std::move(text); });
}
int srb_launch_request_require_publisher(srb_launch_request* request, const char* publisher_hex,
                                         size_t length) {
  return copy_into(request, publisher_hex, length,
                   [&](std::string text) { request->spec.require_publisher = std::move(text); });
}
void srb_launch_request_require_signature(srb_launch_request* request, int required) {
  if (request == nullptr) return;
  request->spec.require_signature =
      required ? srb::RequireSignature::yes : srb::RequireSignature::no;
}
int srb_launch_request_set_arch(srb_launch_request* request, const char* arch, size_t length) {
  return copy_into(request, arch, length,
                   [&](std::string text) { request->spec.arch = std::move(text); });
}
void srb_launch_request_skip_ownership_check(srb_launch_request* request, int skip) {
  if (request == nullptr) return;
  request->spec.ownership = skip ? srb::OwnershipRule::skipped : srb::OwnershipRule::required;
}
void srb_launch_request_free(srb_launch_request* request) {
  delete request;
}

srb_launch_plan* srb_plan_launch(const srb_launch_request* request, srb_error** error) {
  return call(
      error,
      [&] {
        if (request == nullptr || !names_a_file(request->spec.roots.system) ||
            (request->spec.roots.user && !names_a_file(*request->spec.roots.user)))
          return refused<srb::PlannedLaunch>();
        return result_of(srb::plan_installed_launch(request->spec));
      },
      launch_plan_handle);
}
int srb_launch_plan_loader_takes_argv0(const srb_launch_plan* plan) {
  return plan != nullptr && plan->loader_takes_argv0 ? 1 : 0;
}

char** srb_launch_plan_command(const srb_launch_plan* plan, const char* program, const char* argv0,
                               const char* const* args, size_t arg_count, srb_error** error) {
  try {
    return launch_command_of(plan ? plan_of(*plan) : srb::PlannedLaunch{}, program, argv0, args,
                             arg_count, error);
  } catch (...) {
    report(error, out_of_memory());
    return nullptr;
  }
}
char** srb_launch_command(const char* loader, const char* const* library_dirs,
                          size_t library_dir_count, int loader_takes_argv0, const char* program,
                          const char* argv0, const char* const* args, size_t arg_count,
                          srb_error** error) {
  try {
    if (!all_present(library_dirs, library_dir_count))
      return launch_command_of(srb::PlannedLaunch{}, program, argv0, args, arg_count, error);
    return launch_command_of(
        plan_of(loader, library_dirs, library_dir_count, loader_takes_argv0 != 0), program, argv0,
        args, arg_count, error);
  } catch (...) {
    report(error, out_of_memory());
    return nullptr;
  }
}

char** srb_launch_environment(const char* const* environment, srb_error** error) {
  return call(
      error,
      [&] {
        const char* const* entries = environment != nullptr ? environment : environ;
        std::vector<std::string> all;
        for (const char* const* entry = entries; entry != nullptr && *entry != nullptr; ++entry)
          all.emplace_back(*entry);
        return result_of(srb::Result<std::vector<std::string>>(srb::launch_environment(all)));
      },
      malloc_argv);
}

}  // extern "C"
