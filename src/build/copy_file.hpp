#pragma once
// The copy rule of a build: a bundle file is always a regular file holding the content of the
// source's final target, with the source's permission bits exactly.

#include <filesystem>

#include "core/result.hpp"

namespace srb {

// Copies `source` (symbolic links followed) to `destination`, creating or truncating it, and sets
// exactly the source's permission bits whatever the umask. Ownership, times and extended
// attributes are not copied. When the destination already is the source file itself (same device
// and inode, links followed), it is left as it is. Fails with Io: the fixed "neither a regular
// file nor a symlink to a regular file" text for any other kind of source, before the destination
// is touched, or the operating-system error of the step that failed.
Result<void> copy_host_file(const std::filesystem::path& source,
                            const std::filesystem::path& destination);

}  // namespace srb
