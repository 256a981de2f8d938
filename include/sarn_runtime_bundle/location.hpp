#pragma once
// Where an installed bundle lives: per user first, then the system root.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// The roots installed bundles lie under; an empty one is the one `path` uses (the per-user root
// from SARN_RUNTIME_BUNDLE_DIR, XDG_DATA_HOME or HOME; /usr/lib/sarn-runtime). Since 1.1.
struct BundleRoots {
  std::optional<std::string> user;
  std::optional<std::string> system;
};

// One installed version: its tag, its directory, and whether it lies under the per-user root.
struct InstalledBundle {
  std::string version;
  std::string location;
  bool per_user = false;
};

// Every version installed under the roots, sorted by tag, a tag under both roots listed twice,
// the per-user one first. Since 1.1.
inline Result<std::vector<InstalledBundle>> list_installed(const BundleRoots& roots = {}) {
  srb_error* error = nullptr;
  const auto data = [](const std::optional<std::string>& text) {
    return text ? text->data() : nullptr;
  };
  const auto size = [](const std::optional<std::string>& text) {
    return text ? text->size() : std::size_t{0};
  };
  srb_installed* installed = srb_list_installed(data(roots.user), size(roots.user),
                                                data(roots.system), size(roots.system), &error);
  return detail::result_of<std::vector<InstalledBundle>>(
      installed, error, [](const srb_installed* list) {
        std::vector<InstalledBundle> out;
        for (std::size_t i = 0; i < srb_installed_count(list); ++i) {
          std::size_t version_length = 0;
          std::size_t location_length = 0;
          const char* version = srb_installed_version(list, i, &version_length);
          const char* location = srb_installed_location(list, i, &location_length);
          out.push_back({detail::text(version, version_length),
                         detail::text(location, location_length),
                         srb_installed_is_per_user(list, i) != 0});
        }
        return out;
      });
}

}  // namespace sarn_runtime_bundle
