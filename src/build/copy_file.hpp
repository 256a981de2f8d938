#pragma once
// The copy rule of a build: a bundle file is always a regular file holding the content of the
// source's final target, with the source's permission bits exactly.
//
// A source is opened once and everything after (the type check, the self-copy check, the copy
// itself) works on that descriptor, so the file that was judged is the file that is read.

#include <sys/stat.h>

#include <filesystem>

#include "core/result.hpp"
#include "core/unique_fd.hpp"

namespace srb {

// A build source opened for reading and known to be a regular file.
struct OpenedSource {
  UniqueFd fd;
  struct stat status {};
};

// Opens a host path (symbolic links followed) without blocking on a FIFO or a device, and checks
// through the descriptor that it is a regular file. Fails with Io: the fixed "neither a regular
// file nor a symlink to a regular file" text for any other kind of file, or the operating-system
// error of the open.
Result<OpenedSource> open_host_source(const std::filesystem::path& source);

// Takes a descriptor opened for reading (non-blocking, so that a FIFO could not hang the open) as
// a build source, checking through it that it is a regular file. Fails with Io as
// open_host_source does.
Result<OpenedSource> as_build_source(UniqueFd fd);

// Copies an opened source to `destination`, creating or truncating it, and sets exactly the
// source's permission bits whatever the umask. Ownership, times and extended attributes are not
// copied. When the destination already is the source file itself (same device and inode, links
// followed), it is left as it is. Fails with Io.
Result<void> copy_opened_source(OpenedSource& source, const std::filesystem::path& destination);

// open_host_source, then copy_opened_source.
Result<void> copy_host_file(const std::filesystem::path& source,
                            const std::filesystem::path& destination);

}  // namespace srb
