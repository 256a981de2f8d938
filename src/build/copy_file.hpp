#pragma once
// The copy rule of a build: a bundle file is always a regular file, created afresh, holding the
// content of the source's final target and the source's permission bits (setuid, setgid and
// sticky dropped).
//
// A source is opened once and everything after (the type check, the self-copy check, the copy
// itself) works on that descriptor, so the file that was judged is the file that is read. The
// copy is created private (0600) and gets its final bits only once it has been digested, through
// the descriptor that digested it, so nobody else can write into it in between.

#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

#include "core/result.hpp"
#include "core/unique_fd.hpp"

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
  std::filesystem::path shown;
};

// The bundle file a copy left behind, as later checks must find it.
struct WrittenFile {
  dev_t device = 0;
  ino_t inode = 0;
  // The permission bits it gets once digested; absent for a source left in place.
  std::optional<mode_t> final_mode;
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

// Copies an opened source to its destination. When the destination already is the source file
// itself (a regular file with the same device and inode; links are not followed) it is left as it
// is. Otherwise the destination is created afresh with mode 0600 (whatever stood there removed
// first) and the whole content copied; ownership, times and extended attributes are not copied.
// Fails with UnsafeDestination for a link, FIFO, socket or device at the destination, or Io.
Result<WrittenFile> copy_opened_source(OpenedSource& source, const Destination& destination);

// Opens a written bundle file again for reading, without following a link or blocking, and
// checks that it still is the very file the copy left. Fails with DestinationChanged when it is
// not (gone, replaced, or no longer a regular file), or Io.
Result<UniqueFd> reopen_written_file(const Destination& destination, const WrittenFile& written);

// Gives a digested file its final permission bits, through the descriptor that was digested.
Result<void> seal_written_file(int fd, const WrittenFile& written);

}  // namespace srb
