#pragma once
// Where an installed bundle lives: per user first, then the system root.

#include <cstddef>
#include <string>
#include <string_view>

#include <sarn_runtime_bundle/result.hpp>

namespace sarn_runtime_bundle {

inline constexpr std::string_view SYSTEM_BUNDLE_ROOT = "/usr/lib/sarn-runtime";

enum class SystemOnly { no, yes };

struct ResolvedBundle {
  std::string path;        // a byte string
  bool installed = false;  // the directory holds a bundle.toml
};

// The bundle directory for a version tag: the per-user one if it holds that version, else the
// system one if it does, else the per-user one. With SystemOnly::yes the system one. A tag that
// is not a single file name (empty, ".", "..", or holding "/" or NUL) fails with
// ErrorKind::InvalidVersionTag. Says
// whether it is installed, which tells "not installed" from a bundle whose manifest went missing.
inline Result<ResolvedBundle> resolve_bundle(std::string_view version, SystemOnly system) {
  srb_error* error = nullptr;
  int installed = 0;
  std::size_t length = 0;
  char* path = srb_resolve_bundle_path(version.data(), version.size(), system == SystemOnly::yes,
                                       &installed, &length, &error);
  return detail::result_of<ResolvedBundle>(path, error, [&](char* text) {
    return ResolvedBundle{detail::text(text, length), installed != 0};
  });
}

// resolve_bundle's path alone.
inline Result<std::string> resolve_bundle_path(std::string_view version, SystemOnly system) {
  Result<ResolvedBundle> resolved = resolve_bundle(version, system);
  if (!resolved) return std::move(resolved).error();
  return std::move(resolved->path);
}

}  // namespace sarn_runtime_bundle
