#pragma once
// Opening a path inside a bundle without ever leaving it. Links that stay inside the bundle are
// followed; an absolute link target, a ".." that would climb above the bundle directory or a
// magic link (/proc/self/fd/N and the like) ends the resolution, so nothing outside the bundle is
// opened, read or even looked up. Unlike the resolution of a sysroot's entries, nothing is taken
// as re-rooted: an absolute target simply leaves.

#include <string_view>

namespace srb {

// How open_beneath resolves a path: through the kernel (openat2 with RESOLVE_BENEATH and
// RESOLVE_NO_MAGICLINKS), falling back to the walk wherever openat2 is unavailable; or by the walk
// alone. The first ENOSYS from openat2 switches the process to the walk, so a kernel without it is
// asked once; tests choose the walk to run one table of cases through both.
enum class BeneathResolver { kernel, walk };
void use_beneath_resolver(BeneathResolver resolver);
BeneathResolver beneath_resolver();

// Opens `path`, relative to the directory `root`, with open(2) `flags` (O_CLOEXEC is added).
// O_NOFOLLOW refuses a final link with ELOOP; without it a final link is followed like any
// other, so O_PATH without O_NOFOLLOW answers what stat would. Returns the descriptor, or -1 with
// errno set: EXDEV for a path that would leave `root`, ELOOP for a final link under O_NOFOLLOW or
// for more than 40 links, else what open(2) gives (ENOENT, ENOTDIR, EACCES, ...). A magic link
// fails too: the kernel says ELOOP, the walk, which only reads a link's text, EXDEV or ENOENT.
int open_beneath(int root, std::string_view path, int flags);

// The same resolution done by hand, one component at a time with openat (links never followed by
// the kernel) and readlinkat: every link target is resolved from the directory holding the link,
// an absolute one and any ".." above `root` fail with EXDEV, and at most 40 links are followed.
int open_beneath_by_walk(int root, std::string_view path, int flags);

}  // namespace srb
