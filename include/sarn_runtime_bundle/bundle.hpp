#pragma once
// The core of sarn-runtime-bundle as a library: build, verify, sign and locate runtime bundles
// without running the tool. Every operation returns a Result: the value, or one BundleError,
// whose text message() renders as the tool prints it after "sarn-runtime-bundle {command}: ".
// Nothing here prints; failures come back as values.
//
//   #include <sarn_runtime_bundle/bundle.hpp>
//
//   srb::VerifyRequest request;
//   request.bundle_dir = "/usr/lib/sarn-runtime/1.0";
//   request.require_signature = srb::RequireSignature::yes;
//   const srb::Result<srb::BundleManifest> manifest = srb::verify_bundle(request);
//   if (!manifest) std::cerr << srb::message(manifest.error()) << '\n';
//
// The declarations live in the headers below, shared with the tool; link
// SarnRuntimeBundle::SarnRuntimeBundle (find_package(SarnRuntimeBundle)).

#include "build/build.hpp"           // build_bundle, BuildRequest
#include "core/result.hpp"           // Result, TRY, TRY_ASSIGN; BundleError and message()
#include "location/bundle_path.hpp"  // resolve_bundle_path, SYSTEM_BUNDLE_ROOT
#include "manifest/digest.hpp"       // file_digest, compute_root_hash, sort_by_path
#include "manifest/manifest.hpp"     // BundleManifest, render/parse/load_manifest
#include "signing/identity.hpp"      // load_identity, generate_identity
#include "signing/signature.hpp"     // sign_manifest, check_bundle_signature
#include "verify/verify.hpp"         // verify_bundle, VerifyRequest
