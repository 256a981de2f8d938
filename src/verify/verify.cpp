#include "verify/verify.hpp"

// Not built yet: every entry point fails with ENOSYS ("Function not implemented").
namespace srb {

Result<BundleManifest> verify_bundle(const VerifyRequest&) { return Io{os_error(38)}; }
}  // namespace srb
