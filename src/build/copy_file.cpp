#include "build/copy_file.hpp"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <optional>
#include <string_view>

#include "core/confined_write.hpp"
#include "core/unique_fd.hpp"

// A source is judged by its descriptor before a byte of it is read: it must be a regular file,
// and it must not lie in one of the kernel's pseudo file systems, whose files are made up as they
// are read (a process's environment, the map of its memory pages, a device's registers): a
// sysroot with the running system's /proc mounted inside it, or an include that names a file
// there, would otherwise put the builder's secrets into a signed bundle, or stream gigabytes.
//
// The source is opened non-blocking, because a FIFO at a host path would otherwise hang the build
// before its type could be refused. Once it is known to be a regular file the flag is left set:
// it has no effect on the reads of a regular file, so clearing it would cost two calls for
// nothing. Only the stretches of data the source reports are copied, each
// to the same offset of the copy, and the copy's length is set at the end, so a hole stays a hole
// instead of becoming blocks of zeros. A stretch moves by copy_file_range where the kernel
// supports it for this pair of files (between two kinds of file system it may not), and by plain
// reads and writes otherwise.

namespace srb {
namespace {

constexpr std::size_t kChunk = 1 << 20;
// The bits a copy may keep: no setuid, setgid or sticky, nobody but the owner may write.
constexpr mode_t kCopyBits = 0755;

// Bytes [at, end) of the source, copied to the same offsets of the copy; `at` advances as they
// move.
struct Stretch {
  off_t at = 0;
  off_t end = 0;
};

// Errors by which the kernel says "not for these files" rather than "this copy failed".
bool is_unsupported(int error) {
  return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP;
}

std::size_t next_count(const Stretch& stretch) {
  return static_cast<std::size_t>(std::min<off_t>(stretch.end - stretch.at, kChunk));
}

// Moves the rest of a stretch by copy_file_range. False when the kernel refuses it for these
// files before a byte has moved, or moves nothing at all (some file systems report a size of 0
// for files that have content): the caller then copies the stretch itself.
Result<bool> by_copy_file_range(int in, int out, Stretch& stretch) {
  bool moved = false;
  while (stretch.at < stretch.end) {
    off_t in_at = stretch.at;
    off_t out_at = stretch.at;
    const ssize_t n = ::copy_file_range(in, &in_at, out, &out_at, next_count(stretch), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && !moved && is_unsupported(errno)) return false;
    if (n < 0) return Io{last_os_error()};
    if (n == 0) return moved;
    moved = true;
    stretch.at += n;
  }
  return true;
}

Result<void> by_read_write(int in, int out, Stretch& stretch) {
  char buffer[65536];
  while (stretch.at < stretch.end) {
    ssize_t n = 0;
    do {
      n = ::pread(in, buffer, std::min(next_count(stretch), sizeof buffer), stretch.at);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return Io{last_os_error()};
    if (n == 0) return {};
    for (ssize_t done = 0; done < n;) {
      const ssize_t written =
          ::pwrite(out, buffer + done, static_cast<std::size_t>(n - done), stretch.at + done);
      if (written < 0 && errno == EINTR) continue;
      if (written < 0) return Io{last_os_error()};
      done += written;
    }
    stretch.at += n;
  }
  return {};
}

Result<void> copy_stretch(int in, int out, Stretch& stretch) {
  TRY_ASSIGN(const bool moved, by_copy_file_range(in, out, stretch));
  if (moved) return {};
  return by_read_write(in, out, stretch);
}

// The next stretch of data at or after `at` and before `size`, as lseek reports it right now, or
// none when no data lies there. A file system that cannot say where data lies has no holes: all
// of [at, size) is data.
Result<std::optional<Stretch>> next_data(int fd, off_t at, off_t size) {
  const off_t data = ::lseek(fd, at, SEEK_DATA);
  if (data < 0 && errno == ENXIO) return std::optional<Stretch>();
  if (data < 0 && is_unsupported(errno)) return std::optional<Stretch>(Stretch{at, size});
  if (data < 0) return Io{last_os_error()};
  if (data >= size) return std::optional<Stretch>();
  const off_t hole = ::lseek(fd, data, SEEK_HOLE);
  if (hole < 0 && errno != ENXIO) return Io{last_os_error()};
  return std::optional<Stretch>(Stretch{data, hole < 0 ? size : std::min(hole, size)});
}

// The source's data, as it was judged when opened: only the bytes below the size its status gave
// then, and of those only the stretches lseek reports as data just before each is copied, each to
// the same offsets of the copy. A source that grows meanwhile, even into a hole of any size, adds
// nothing; one that shrinks keeps the length that was read. The copy's length is set at the end,
// which a hole at the end leaves beyond the last byte written. A file whose status says 0 bytes
// is copied empty: the files that claim 0 bytes and still have content live in the pseudo file
// systems, which no source may come from.
Result<void> copy_content(const OpenedSource& source, int out) {
  off_t size = source.status.st_size;
  off_t at = 0;
  off_t written = 0;  // the end of the last stretch copied
  while (at < size) {
    TRY_ASSIGN(std::optional<Stretch> stretch, next_data(source.fd.get(), at, size));
    if (!stretch) break;
    const off_t end = stretch->end;
    TRY(copy_stretch(source.fd.get(), out, *stretch));
    written = stretch->at;
    if (written < end) {
      size = written;
      break;
    }
    at = end;
  }
  if (written < size && ::ftruncate(out, size) != 0) return Io{last_os_error()};
  return {};
}

// The name must still show `file` (the same regular file, device and inode), or whatever the
// build would record and sign is not what the bundle holds.
Result<void> require_still_named(const Destination& destination, const struct stat& file) {
  struct stat named;
  if (::fstatat(destination.directory, destination.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) !=
      0) {
    if (errno == ENOENT) return DestinationChanged{destination.shown};
    return Io{last_os_error()};
  }
  if (!S_ISREG(named.st_mode) || !is_same_file(named, file))
    return DestinationChanged{destination.shown};
  return {};
}

// A source that is its own destination keeps its content and its bits.
Result<FileDigest> digest_in_place(const OpenedSource& source, const Destination& destination) {
  TRY_ASSIGN(FileDigest digest, descriptor_digest_from_start(source.fd.get()));
  TRY(require_still_named(destination, source.status));
  return digest;
}

// The kernel's pseudo file systems, by the type fstatfs reports, and the name a message gives.
struct PseudoFileSystem {
  unsigned long type;
  std::string_view name;
};
constexpr unsigned long kConfigfsMagic = 0x62656570;  // not in <linux/magic.h>
constexpr PseudoFileSystem kPseudoFileSystems[] = {
    {PROC_SUPER_MAGIC, "procfs"},     {SYSFS_MAGIC, "sysfs"},
    {DEBUGFS_MAGIC, "debugfs"},       {TRACEFS_MAGIC, "tracefs"},
    {SECURITYFS_MAGIC, "securityfs"}, {CGROUP_SUPER_MAGIC, "cgroup"},
    {CGROUP2_SUPER_MAGIC, "cgroup2"}, {BPF_FS_MAGIC, "bpf"},
    {kConfigfsMagic, "configfs"},     {EFIVARFS_MAGIC, "efivarfs"},
};

std::optional<std::string_view> pseudo_file_system_name(__fsword_t type) {
  for (const PseudoFileSystem& pseudo : kPseudoFileSystems)
    if (static_cast<unsigned long>(type) == pseudo.type) return pseudo.name;
  return std::nullopt;
}

}  // namespace

Result<OpenedSource> open_host_source(const std::filesystem::path& source) {
  UniqueFd fd = open_host_file(source.c_str());
  if (!fd.is_open()) return Io{last_os_error()};
  return as_build_source(std::move(fd));
}

UniqueFd open_host_file(const char* source) {
  return UniqueFd(::open(source, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
}

Result<OpenedSource> as_build_source(UniqueFd fd) {
  OpenedSource opened;
  opened.fd = std::move(fd);
  if (::fstat(opened.fd.get(), &opened.status) != 0) return Io{last_os_error()};
  if (!S_ISREG(opened.status.st_mode))
    return Io{OsError{0, OsError::Fixed::copy_source_not_regular}};
  struct statfs file_system;
  if (::fstatfs(opened.fd.get(), &file_system) != 0) return Io{last_os_error()};
  if (const std::optional<std::string_view> name = pseudo_file_system_name(file_system.f_type))
    return Io{OsError{0, OsError::Fixed::copy_source_pseudo_file_system, *name}};
  return opened;
}

// Most copies go where nothing stands yet, so creation is tried first and what stands at the name
// is looked at only when something does.
Result<FileDigest> copy_opened_source(OpenedSource& source, const Destination& destination) {
  TRY_ASSIGN(std::optional<UniqueFd> created,
             create_new_file(destination.directory, destination.name.c_str(), 0600));
  OpenCopy copy;
  if (created) {
    TRY_ASSIGN(copy, take_as_copy(std::move(*created), destination));
  } else {
    TRY_ASSIGN(const std::optional<struct stat> existing,
               entry_to_write(destination.directory, destination.name.c_str(), destination.shown));
    // Replacing the destination would destroy the very content about to be copied.
    if (existing && S_ISREG(existing->st_mode) && is_same_file(*existing, source.status))
      return digest_in_place(source, destination);
    TRY_ASSIGN(copy, create_copy(destination, existing));
  }
  TRY(copy_content(source, copy.fd.get()));
  return finish_copy(std::move(copy), destination, source.status.st_mode & kCopyBits);
}

Result<OpenCopy> create_copy(const Destination& destination,
                             const std::optional<struct stat>& existing) {
  TRY_ASSIGN(UniqueFd created, create_fresh_file_over(destination.directory,
                                                      destination.name.c_str(), 0600, existing));
  return take_as_copy(std::move(created), destination);
}

Result<OpenCopy> take_as_copy(UniqueFd created, const Destination& destination) {
  OpenCopy copy;
  copy.fd = std::move(created);
  TRY_ASSIGN(copy.status, destination.group ? take_into_group(copy.fd.get(), *destination.group)
                                            : take_into_own_group(copy.fd.get()));
  return copy;
}

Result<FileDigest> finish_copy(OpenCopy copy, const Destination& destination, mode_t bits) {
  TRY_ASSIGN(FileDigest digest, descriptor_digest_from_start(copy.fd.get()));
  TRY(require_still_named(destination, copy.status));
  if (::fchmod(copy.fd.get(), bits) != 0) return Io{last_os_error()};
  TRY(fix_times(copy.fd.get(), destination.time));
  TRY(copy.fd.close());
  return digest;
}

}  // namespace srb
