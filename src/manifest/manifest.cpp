#include "manifest/manifest.hpp"

// Not built yet: every entry point fails with ENOSYS ("Function not implemented").
namespace srb {

Result<std::string> render_manifest(const BundleManifest&) { return Io{os_error(38)}; }
Result<BundleManifest> parse_manifest(std::string_view) { return Io{os_error(38)}; }
Result<BundleManifest> load_manifest(const std::filesystem::path&) { return Io{os_error(38)}; }
bool is_valid_payload_path(std::string_view) { return false; }
}  // namespace srb
