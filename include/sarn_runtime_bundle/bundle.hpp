#pragma once
// sarn-runtime-bundle as a library: build, verify and locate runtime bundles without running the
// tool. Every operation returns a Result: the value, or one Error whose message is the text the
// tool prints after "sarn-runtime-bundle {command}: ". Nothing here prints.
//
//   #include <sarn_runtime_bundle/bundle.hpp>
//
//   const srb::Result<srb::ResolvedBundle> bundle = srb::resolve_bundle("1.0",
//   srb::SystemOnly::no); srb::VerifyRequest request; request.bundle_dir = bundle->path;
//   request.require_version = "1.0";
//   request.require_signature = srb::RequireSignature::yes;
//   const srb::Result<srb::BundleManifest> manifest = srb::verify_bundle(request);
//   if (!manifest) std::cerr << srb::message(manifest.error()) << '\n';
//
// These headers are inline C++17 over the C interface of sarn_runtime_bundle.h, which is all
// the shared library exports. With CMake: find_package(SarnRuntimeBundle) and link
// SarnRuntimeBundle::SarnRuntimeBundle (the shared library) or SarnRuntimeBundle::Static;
// otherwise `pkg-config --cflags --libs sarn-runtime-bundle`.

#include <sarn_runtime_bundle/build.hpp>   // build_bundle, BuildRequest
#include <sarn_runtime_bundle/launch.hpp>  // verify_for_launch, launch_plan_for_version, launch_argv
#include <sarn_runtime_bundle/location.hpp>  // resolve_bundle, SYSTEM_BUNDLE_ROOT
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

}  // namespace sarn_runtime_bundle
