#include "location/bundle_path.hpp"

// Not built yet: every entry point fails with ENOSYS ("Function not implemented").
namespace srb {

Result<std::string> resolve_bundle_path(std::string_view, SystemOnly) { return Io{os_error(38)}; }
}  // namespace srb
