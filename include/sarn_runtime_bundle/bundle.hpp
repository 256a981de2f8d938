#pragma once
// sarn-runtime-bundle as a library: build, verify and locate runtime bundles without running the
// tool. Every operation returns a Result: the value, or one Error whose message is the text the
// tool prints after "sarn-runtime-bundle {command}: ". Nothing here prints. A launcher:
//
// clang-format off
//   #include <sarn_runtime_bundle/bundle.hpp>
//
//   srb::LaunchRequest request;
//   request.version = "1.0";
//   request.require_publisher = publisher_hex;  // the one publisher this launcher trusts
//   const srb::Result<srb::LaunchPlan> plan = srb::plan_launch(request);
//   if (!plan) std::cerr << srb::message(plan.error()) << '\n';
//   const auto command = srb::launch_command(*plan, "/usr/bin/app", {"--flag"});
//   const auto environment = srb::launch_environment();
//   // then execve(command[0], command, environment) with their texts as C strings
// clang-format on
//
// These headers are inline C++17 over the C interface of sarn_runtime_bundle.h, which is all
// the shared library exports. With CMake: find_package(SarnRuntimeBundle) and link
// SarnRuntimeBundle::SarnRuntimeBundle (the shared library) or SarnRuntimeBundle::Static;
// otherwise `pkg-config --cflags --libs sarn-runtime-bundle`.

#include <sarn_runtime_bundle/build.hpp>     // build_bundle, BuildRequest
#include <sarn_runtime_bundle/launch.hpp>    // plan_launch, launch_command, launch_environment
#include <sarn_runtime_bundle/location.hpp>  // resolve_bundle, list_installed
#include <sarn_runtime_bundle/manifest.hpp>  // BundleManifest, load/parse/render_manifest
#include <sarn_runtime_bundle/result.hpp>    // Result, Error, ErrorKind, message
#include <sarn_runtime_bundle/signing.hpp>   // generate_identity, identity_public_key
#include <sarn_runtime_bundle/verify.hpp>    // verify_bundle, VerifyRequest

namespace sarn_runtime_bundle {

// The version of the library loaded, "MAJOR.MINOR.PATCH"; the header's is
// SARN_RUNTIME_BUNDLE_VERSION_MAJOR, _MINOR and _PATCH.
inline const char* library_version() {
  return srb_version();
}

// The same as numbers (since 1.1); SARN_RUNTIME_BUNDLE_VERSION_AT_LEAST compares the header's.
struct LibraryVersion {
  unsigned major = 0;
  unsigned minor = 0;
  unsigned patch = 0;
};
inline LibraryVersion library_version_numbers() {
  LibraryVersion version;
  srb_version_numbers(&version.major, &version.minor, &version.patch);
  return version;
}

}  // namespace sarn_runtime_bundle
