#pragma once
// Identity files: a JSON object {"secret_key_hex": "<64 hex>"} holding an Ed25519 seed.

#include <filesystem>
#include <string>

#include "cli/result.hpp"
#include "signing/signing_key.hpp"

namespace srb {

// Reads an identity file. Fails with IdentityRead when it cannot be read or is not UTF-8, and
// with IdentityInvalid for JSON, hex or length problems.
Result<SigningKey> load_identity(const std::filesystem::path& path);

// Writes a fresh identity to `out` (parents created, file mode 0600) and returns its public key
// as lower-case hex. Fails only with Io, whose bare OS error the key generate command prints.
Result<std::string> generate_identity(const std::filesystem::path& out);

}  // namespace srb
