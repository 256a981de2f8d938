#include "build/build.hpp"

// Not built yet: every entry point fails with ENOSYS ("Function not implemented").
namespace srb {

Result<BundleManifest> build_bundle(const BuildRequest&) { return Io{os_error(38)}; }
}  // namespace srb
