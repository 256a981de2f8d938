#pragma once
// The library's public records made from the tool's own and back. The public headers keep their
// own types so that a program built against them never sees an internal header; these functions
// are the one place where the two meet.

#include <sarn_runtime_bundle/build.hpp>
#include <sarn_runtime_bundle/manifest.hpp>
#include <sarn_runtime_bundle/result.hpp>
#include <sarn_runtime_bundle/verify.hpp>

#include "build/build.hpp"
#include "core/error.hpp"
#include "manifest/manifest.hpp"
#include "verify/verify.hpp"

namespace srb {

namespace api = ::sarn_runtime_bundle;

// The stable number of an error kind: the position of its type in BundleError, plus one. Kinds
// are only ever appended to BundleError, which keeps every number fixed.
api::ErrorKind error_kind(const BundleError& error);
api::Error to_public(const BundleError& error);

api::BundleManifest to_public(BundleManifest manifest);
BundleManifest to_internal(const api::BundleManifest& manifest);
std::vector<BundleFile> to_internal(std::span<const api::BundleFile> files);

VerifyRequest to_internal(const api::VerifyRequest& request);
BuildRequest to_internal(const api::BuildRequest& request);

// A Result of the tool's as one of the library's, its value converted by `convert`.
template <typename T, typename Convert>
auto to_public(Result<T>&& result, Convert convert)
    -> api::Result<decltype(convert(*std::move(result)))> {
  if (!result) return to_public(result.error());
  return convert(*std::move(result));
}

}  // namespace srb
