#pragma once
// Identity files: a JSON object {"secret_key_hex": "<64 hex>"} holding an Ed25519 seed.

#include <filesystem>
#include <string>

#include "core/result.hpp"
#include "signing/signing_key.hpp"

namespace srb {

// Reads an identity file. Fails with IdentityRead when it cannot be read, is larger than 1 MiB
// (EFBIG) or is not UTF-8, and with IdentityInvalid for JSON, hex or length problems. A FIFO
// without a writer reads as empty instead of blocking.
Result<SigningKey> load_identity(const std::filesystem::path& path);

// Writes a fresh identity to `out` and returns its public key as lower-case hex. Missing parent
// directories are created (0777 before the umask). The file is created with mode 0600, and an
// existing regular file is set to 0600 before it is truncated and the secret written, so the
// secret is never readable by others. Fails only with Io, whose bare OS error the key generate
// command prints; a failure of the random source comes before any file is touched.
Result<std::string> generate_identity(const std::filesystem::path& out);

}  // namespace srb
