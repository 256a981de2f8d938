#pragma once
// The copy rule of a build: a bundle file is always a regular file, created afresh, holding the
// content of the source's final target and the source's permission bits (setuid, setgid and
// sticky dropped).
//
// A source is opened once and everything after (the type check, the self-copy check, the copy
// itself) works on that descriptor, so the file that was judged is the file that is read. The
// copy is created private (0600, in the builder's group), written, and digested by reading it
// back through the descriptor that wrote it; before that descriptor is closed the name must still
// show that very file, and only then does the copy get its final bits. No file is looked up again
// after it is closed, so nobody can put a file of their own where the digest will look.

#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#include <filesystem>
#include <optional>
#include <string>

#include "core/result.hpp"
#include "core/unique_fd.hpp"
#include "manifest/digest.hpp"

namespace srb {

// A build source opened for reading and known to be a regular file.
struct OpenedSource {
  UniqueFd fd;
  struct stat status {};
};

// Where a copy goes: a name in an open directory of the bundle, and the path errors show.
struct Destination {
  int directory = -1;
  std::string name;
  std::string shown;  // text, not a path object, which would split it into components per copy
  // The time a written copy is given (access and modification), or none to keep the real one.
  std::optional<struct timespec> time;
  // The builder's effective group, when the caller already knows it; asked for otherwise.
  std::optional<gid_t> group;
};

// Opens a host path (symbolic links followed) without blocking on a FIFO or a device, and checks
// through the descriptor that it is a regular file. Fails with Io: the fixed "neither a regular
// file nor a symlink to a regular file" text for any other kind of file, or the operating-system
// error of the open.
Result<OpenedSource> open_host_source(const std::filesystem::path& source);

// The open of open_host_source alone, for a caller that decides what a failure means: a closed
// descriptor with errno set when the path cannot be opened.
UniqueFd open_host_file(const char* source);

// Takes a descriptor opened for reading (non-blocking, so that a FIFO could not hang the open) as
// a build source, checking through it that it is a regular file. Fails with Io as
// open_host_source does.
Result<OpenedSource> as_build_source(UniqueFd fd);

// Copies an opened source to its destination and returns the digest of the copy. When the
// destination already is the source file itself (a regular file with the same device and inode;
// links are not followed) it is left as it is and digested through the source's descriptor.
// Otherwise the destination is created afresh (whatever stood there removed first) and the
// source's data copied, holes kept; ownership, times and extended attributes are not copied, and
// the copy ends with the source's permission bits less setuid, setgid, sticky and group and
// other write (mode & 0755). Fails with UnsafeDestination for a link, FIFO, socket or device at
// the destination, DestinationChanged when the name no longer shows the file written, or Io.
Result<FileDigest> copy_opened_source(OpenedSource& source, const Destination& destination);

// A copy being written: its descriptor, open for reading and writing, and its status as created.
struct OpenCopy {
  UniqueFd fd;
  struct stat status {};
};

// Creates the copy at `destination` (0600, the builder's group) over `existing`, which is what
// entry_to_write found there. Fails as create_fresh_file_over does.
Result<OpenCopy> create_copy(const Destination& destination,
                             const std::optional<struct stat>& existing);

// Takes a file just created at `destination` as the copy: into the builder's group, its status
// kept for the check before it is closed. Fails with Io.
Result<OpenCopy> take_as_copy(UniqueFd created, const Destination& destination);

// Digests a written copy from its first byte through its own descriptor, checks that the name
// still shows it (else DestinationChanged), gives it `bits` and the destination's time (after the
// read-back, which may touch the access time) and closes it.
Result<FileDigest> finish_copy(OpenCopy copy, const Destination& destination, mode_t bits);

}  // namespace srb
