#pragma once
// Opening the files of another system's root directory the way that system would: a build from a
// sysroot must take the sysroot's loader, not the one an absolute link inside it names on the
// running system. Resolution is scoped like chroot: an absolute link target starts again at the
// root, and ".." at the root stays at the root, so no link leads out of it.

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

// The same as open_root_directory without openat2, where the kernel lacks it or a filter refuses
// it: the path resolved one component at a time from the running system's root directory, where
// a magic link is one inside a process's directory of a proc file system.
Result<std::optional<UniqueFd>> open_root_directory_by_walk(const std::filesystem::path& root);

// Opens `entry`, an absolute path inside the root such as "/lib64/libc.so.6", read-only and
// non-blocking, resolved with `root` as the root directory. Uses openat2 with RESOLVE_IN_ROOT, and
// open_in_root_by_walk where the kernel lacks openat2 or a system-call filter refuses it.
// nullopt when resolution finds nothing: no such file, a dangling link, a loop, a component that
// is not a directory or may not be searched, a link that would escape the root, a magic link. Fails
// with Io for anything else, a final file that exists but may not be read included.
Result<std::optional<UniqueFd>> open_in_root(int root, std::string_view entry);

// The same resolution as open_in_root, done one component at a time with openat (links not
// followed) and readlinkat: every link target is taken under the root, ".." never climbs above
// it, at most 40 links are followed in all, and a magic link is not followed.
Result<std::optional<UniqueFd>> open_in_root_by_walk(int root, std::string_view entry);

}  // namespace srb
