#pragma once
// Running a program on a verified bundle: its loader, its library directories and the command
// line that puts them together.

#include <cstddef>
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
// carry, or when `program` is empty or starts with '-', which the loader would take for an option.
inline Result<std::vector<std::string>> launch_argv(const LaunchPlan& plan,
                                                    const std::string& program,
                                                    const std::vector<std::string>& args = {}) {
  std::vector<const char*> dirs;
  for (const std::string& dir : plan.library_dirs)
    dirs.push_back(dir.c_str());
  std::vector<const char*> arg_texts;
  for (const std::string& arg : args)
    arg_texts.push_back(arg.c_str());
  srb_error* error = nullptr;
  char** argv = srb_launch_argv(plan.loader.c_str(), dirs.data(), dirs.size(), program.c_str(),
                                arg_texts.data(), arg_texts.size(), &error);
  return detail::result_of<std::vector<std::string>>(argv, error, [](char** vector) {
    std::vector<std::string> out;
    for (char** arg = vector; *arg != nullptr; ++arg)
      out.emplace_back(*arg);
    return out;
  });
}

}  // namespace sarn_runtime_bundle
