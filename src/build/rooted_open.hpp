#pragma once
// Opening the files of a system's root directory the way that system would: a build from a
// sysroot must take the sysroot's loader, not the one an absolute link inside it names on the
// running system. Resolution is scoped like chroot (core/confined_open.hpp): an absolute link
// target starts again at the root, and ".." at the root stays at the root, so no link leads out
// of it. The running system's own root, "/", is opened the same way.

#include <filesystem>
#include <optional>
#include <string_view>

#include "core/result.hpp"
#include "core/unique_fd.hpp"

namespace srb {

// A descriptor of the root as typed, to resolve entries in. Links in the root path itself are
// followed, but not a magic link (such as /proc/<pid>/root or /proc/self/fd/<n>), which would
// lead into whatever another process sees: such a path fails with Io "Too many levels of symbolic
// links" (ELOOP). nullopt when the root is missing, is not a directory, loops or may not be
// searched: then every entry under it is absent. Fails with Io for any other error.
Result<std::optional<UniqueFd>> open_root_directory(const std::filesystem::path& root);

// Opens `entry`, an absolute path inside the root such as "/lib64/libc.so.6", read-only and
// non-blocking, resolved with `root` as the root directory. nullopt when resolution finds
// nothing: no such file, a dangling link, a loop, a component that is not a directory or may not
// be searched, a link that would escape the root, a magic link. Fails with Io for anything else:
// a final file that exists but may not be read, and every failure of the system itself (EIO,
// ENOMEM, EMFILE...), which must never pass for an absent file.
Result<std::optional<UniqueFd>> open_in_root(int root, std::string_view entry);

}  // namespace srb
