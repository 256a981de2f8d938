#pragma once
// Where key generate may write a secret: never into a file another user could read it from.

#include <filesystem>

#include "core/result.hpp"
#include "core/unique_fd.hpp"

namespace srb {

// Opens (creating if need be) the file `out` names for writing, without truncating it, and keeps
// the descriptor in `file`. Fails with ForeignSecretFile when `out` is a symbolic link owned by a
// user other than the effective user and root, or names a regular file or FIFO owned by such a
// user; a terminal, another device, or a pipe or socket this process already holds (what
// /dev/stdout names) is used whoever owns it. Any other failure is Io.
Result<void> open_identity_destination(const std::filesystem::path& out, UniqueFd& file);

}  // namespace srb
