#pragma once
// Identity files: a JSON object {"secret_key_hex": "<64 hex>"} holding an Ed25519 seed.

#include <filesystem>
#include <optional>
#include <string>

#include "core/result.hpp"
#include "signing/signing_key.hpp"

namespace srb {

// Reads an identity file. Fails with IdentityRead when it cannot be read, is larger than 1 MiB
// (EFBIG) or is not UTF-8, and with IdentityInvalid for JSON, hex or length problems. A FIFO
// without a writer reads as empty instead of blocking.
Result<SigningKey> load_identity(const std::filesystem::path& path);

// A fresh identity written by write_new_identity.
struct GeneratedIdentity {
  std::string public_hex;      // lower case
  bool replaced_file = false;  // a new file is at `out` (else a stream was written)
  // A failure once the new file had replaced `out`: the new identity is there, the old is gone.
  std::optional<OsError> failed_after_replacing;
};

// Writes a fresh identity to `out`. Missing parent directories are created (0777 before the
// umask). The identity is a new 0600 file renamed over whatever stood at `out` (or at the target
// of the user's own link there), so no existing file ever holds the secret; a device or one of
// the process's standard streams is written where it stands (write_secret_file). Fails with Io,
// whose bare OS error the key generate command prints, or with ForeignSecretFile; a failure of
// the random source comes before any file is touched.
Result<GeneratedIdentity> write_new_identity(const std::filesystem::path& out);

// write_new_identity for callers that need only the public key (lower-case hex): a failure after
// the replacement is a failure like any other.
Result<std::string> generate_identity(const std::filesystem::path& out);

}  // namespace srb
