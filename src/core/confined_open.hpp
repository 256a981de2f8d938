#pragma once
// The one way a path below a directory is opened, whether the directory is a bundle (nothing
// outside it may be reached) or another system's root (its links mean what they mean to that
// system). Every open inside a bundle or a sysroot goes through open_confined, and every failure
// of such an open is read by classify_open_failure, so that "not there" and "the system failed"
// mean the same everywhere.

#include <string_view>

namespace srb {

// The kernel's own limit on links followed while resolving one path.
inline constexpr int kMaxLinks = 40;

// Where a resolution may go.
enum class Confinement {
  // Below the directory. Links are followed while they stay inside; an absolute link target or a
  // ".." above the directory would leave it, and the resolution fails there with EXDEV, before
  // anything outside is looked up. For a bundle.
  beneath,
  // Inside the directory taken as the root, as chroot would: an absolute link target starts again
  // at the directory, and ".." at the directory stays there, so no link leads out. For a sysroot.
  in_root,
};

// Who resolves. The kernel does it in one openat2 call; where a kernel lacks openat2 (before 5.6)
// or a system-call filter refuses it, the same resolution is done by hand, one component at a
// time. Tests choose the walk to run their tables through both.
enum class Resolver { kernel, walk };

// Opens `path`, relative to the directory `base`, with open(2) `flags` (O_CLOEXEC is added),
// resolved under `confinement`. A magic link (the links of /proc/<pid>/ that lead to whatever
// another process sees) is never followed: ELOOP. O_NOFOLLOW refuses a final link with ELOOP;
// without it a final link is followed like any other. More than kMaxLinks links give ELOOP, an
// empty path ENOENT. Returns the descriptor, or -1 with errno set (EXDEV for a way out of a
// `beneath` directory, else what open(2) gives).
int open_confined(int base, std::string_view path, int flags, Confinement confinement,
                  Resolver resolver = Resolver::kernel);

// What a failed open says about the file it was asked for.
enum class OpenFailure {
  absent,      // ENOENT, ENOTDIR, ENAMETOOLONG: nothing is there by that name
  outside,     // EXDEV: the path leads out of the directory, so nothing is there for the caller
  loop,        // ELOOP: a final link under O_NOFOLLOW, too many links, or a magic link
  denied,      // EACCES: a directory on the way may not be searched, or the file may not be opened
  unopenable,  // ENXIO, ENODEV: a socket, or a device without its driver
  fault,       // anything else (EIO, ENOMEM, EMFILE, ENFILE...): the system failed, not the lookup
};
OpenFailure classify_open_failure(int error);

// True for the failures that mean nothing is there to open: absent, outside and loop. A denied
// open needs a second look to tell an unsearchable directory from an unreadable file.
bool is_nothing_there(OpenFailure failure);

}  // namespace srb
