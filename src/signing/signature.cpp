#include "signing/signature.hpp"

// Not built yet: every entry point fails with ENOSYS ("Function not implemented").
namespace srb {

std::array<unsigned char, 32> signing_digest(std::string_view, std::string_view) { return {}; }
BundleSignature sign_manifest(const SigningKey&, std::string_view, std::string_view) { return {}; }
Result<void> check_bundle_signature(const BundleManifest&, const std::optional<std::string>&,
                                    RequireSignature) { return Io{os_error(38)}; }
}  // namespace srb
