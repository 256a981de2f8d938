#include "signing/identity.hpp"

// Not built yet: every entry point fails with ENOSYS ("Function not implemented").
namespace srb {

Result<SigningKey> load_identity(const std::filesystem::path&) { return Io{os_error(38)}; }
Result<std::string> generate_identity(const std::filesystem::path&) { return Io{os_error(38)}; }
}  // namespace srb
