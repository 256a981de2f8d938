#include "build/copy_file.hpp"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/sendfile.h>
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
// supports it for this pair of files, then by sendfile, then by plain reads and writes; each
// method carries on from where the previous one stopped. Once copy_file_range has refused a pair
// of file systems outright, the build's later copies between them start with sendfile.

namespace srb {
namespace {

constexpr std::size_t kChunk = 1 << 20;
// The bits a copy may keep: no setuid, setgid or sticky, nobody but the owner may write.
constexpr mode_t kCopyBits = 0755;

enum class Transfer { done, unsupported, failed };
struct Outcome {
  Transfer transfer;
  int error = 0;  // errno of a failed transfer, or of the refusal of an unsupported one
};

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

// Runs one method over the rest of a stretch: `step(at, count)` moves up to `count` bytes from
// offset `at` and returns how many, 0 at the source's end, or -1 with errno. A method that
// reports no support before it has moved a byte leaves the rest to the next; so does one that
// moves nothing at all, since some file systems report a size of 0 for files that have content.
template <typename Step>
Outcome transfer_with(Stretch& stretch, Step step) {
  bool moved = false;
  while (stretch.at < stretch.end) {
    const ssize_t n = step(stretch.at, next_count(stretch));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && !moved && is_unsupported(errno)) return {Transfer::unsupported, errno};
    if (n < 0) return {Transfer::failed, errno};
    if (n == 0) return {moved ? Transfer::done : Transfer::unsupported};
    moved = true;
    stretch.at += n;
  }
  return {Transfer::done};
}

// The copy being written, with its file offset as far as it is known: a fresh copy starts at 0,
// copy_file_range leaves the offset alone, and sendfile and write move it past what they wrote.
// Knowing it spares the lseek before each sendfile.
struct Target {
  int fd;
  off_t offset = 0;

  bool move_to(off_t at) {
    if (at == offset) return true;
    if (::lseek(fd, at, SEEK_SET) < 0) return false;
    offset = at;
    return true;
  }
};

// A source and its copy, and what earlier copies learnt about the pair.
struct CopyPair {
  int in;
  dev_t in_device;
  Target out;
  dev_t out_device;
  CopyRoutes* routes;

  bool range_refused() const {
    return routes != nullptr && routes->range_refused && routes->from == in_device &&
           routes->to == out_device;
  }
  void remember_range_refused(int error) {
    if (routes == nullptr || (error != EXDEV && error != ENOSYS)) return;
    *routes = CopyRoutes{.range_refused = true, .from = in_device, .to = out_device};
  }
};

Outcome by_copy_file_range(CopyPair& pair, Stretch& stretch) {
  return transfer_with(stretch, [&](off_t at, std::size_t count) {
    off_t in_at = at;
    off_t out_at = at;
    return ::copy_file_range(pair.in, &in_at, pair.out.fd, &out_at, count, 0);
  });
}

// sendfile writes at the copy's file offset, so that is moved to the stretch first.
Outcome by_sendfile(CopyPair& pair, Stretch& stretch) {
  if (!pair.out.move_to(stretch.at)) return {Transfer::failed, errno};
  const Outcome outcome = transfer_with(stretch, [&](off_t at, std::size_t count) {
    off_t in_at = at;
    return ::sendfile(pair.out.fd, pair.in, &in_at, count);
  });
  pair.out.offset = stretch.at;
  return outcome;
}

Result<void> by_read_write(CopyPair& pair, Stretch& stretch) {
  if (!pair.out.move_to(stretch.at)) return Io{last_os_error()};
  char buffer[65536];
  while (stretch.at < stretch.end) {
    ssize_t n = 0;
    do {
      n = ::pread(pair.in, buffer, std::min(next_count(stretch), sizeof buffer), stretch.at);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return Io{last_os_error()};
    if (n == 0) return {};
    // A failed write leaves the offset unknown; the copy is abandoned then anyway.
    TRY(write_all(pair.out.fd, std::string_view(buffer, static_cast<std::size_t>(n))));
    stretch.at += n;
    pair.out.offset = stretch.at;
  }
  return {};
}

Result<void> copy_stretch(CopyPair& pair, Stretch& stretch) {
  Outcome outcome{Transfer::unsupported};
  if (!pair.range_refused()) {
    outcome = by_copy_file_range(pair, stretch);
    // Unsupported means that nothing moved, so the refusal is the pair's.
    if (outcome.transfer == Transfer::unsupported) pair.remember_range_refused(outcome.error);
  }
  if (outcome.transfer == Transfer::unsupported) outcome = by_sendfile(pair, stretch);
  if (outcome.transfer == Transfer::failed) return Io{os_error(outcome.error)};
  if (outcome.transfer == Transfer::unsupported) return by_read_write(pair, stretch);
  return {};
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
Result<void> copy_content(const OpenedSource& source, CopyPair& pair) {
  off_t size = source.status.st_size;
  off_t at = 0;
  off_t written = 0;  // the end of the last stretch copied
  while (at < size) {
    TRY_ASSIGN(std::optional<Stretch> stretch, next_data(pair.in, at, size));
    if (!stretch) break;
    const off_t end = stretch->end;
    TRY(copy_stretch(pair, *stretch));
    written = stretch->at;
    if (written < end) {
      size = written;
      break;
    }
    at = end;
  }
  if (written < size && ::ftruncate(pair.out.fd, size) != 0) return Io{last_os_error()};
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
  CopyPair pair{.in = source.fd.get(),
                .in_device = source.status.st_dev,
                .out = Target{.fd = copy.fd.get()},
                .out_device = copy.status.st_dev,
                .routes = destination.routes};
  TRY(copy_content(source, pair));
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
