#include "build/copy_file.hpp"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <limits>

#include "core/confined_write.hpp"
#include "core/unique_fd.hpp"

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
constexpr off_t kEndOfFile = std::numeric_limits<off_t>::max();

enum class Transfer { done, unsupported, failed };
struct Outcome {
  Transfer transfer;
  int error = 0;  // errno of a failed transfer, or of the refusal of an unsupported one
};

// Bytes [at, end) of the source, copied to the same offsets of the copy; `at` advances as they
// move. A stretch to kEndOfFile runs until the source ends.
struct Stretch {
  off_t at = 0;
  off_t end = kEndOfFile;
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

// lseek for SEEK_DATA or SEEK_HOLE; kEndOfFile when there is no data at or after `at`.
Result<off_t> seek(int fd, off_t at, int whence) {
  const off_t found = ::lseek(fd, at, whence);
  if (found >= 0) return found;
  if (errno == ENXIO) return kEndOfFile;
  return Io{last_os_error()};
}

// The data stretches of the source from the first at `data`, copied in order, then the copy's
// length set to the source's, which a hole at the end leaves beyond the last byte written. A
// file that ends before its status said keeps the length that was read.
Result<void> copy_data(CopyPair& pair, off_t data, off_t size) {
  off_t written = 0;  // the end of the last stretch written
  while (data != kEndOfFile) {
    TRY_ASSIGN(const off_t hole, seek(pair.in, data, SEEK_HOLE));
    Stretch stretch{data, hole};
    TRY(copy_stretch(pair, stretch));
    written = stretch.at;
    if (written < hole) {
      size = written;
      break;
    }
    TRY_ASSIGN(data, seek(pair.in, hole, SEEK_DATA));
  }
  if (written < size && ::ftruncate(pair.out.fd, size) != 0) return Io{last_os_error()};
  return {};
}

// A source with as many bytes of blocks as bytes of content has no hole worth keeping (a hole
// there would be paid for by blocks beyond its end), so it is copied as one stretch of its size,
// without asking where data lies; the copy then takes no more room than the source does. A file
// that ends sooner keeps the length that was read.
Result<bool> copy_dense(const OpenedSource& source, CopyPair& pair) {
  const off_t size = source.status.st_size;
  if (size <= 0 || source.status.st_blocks < (size + 511) / 512) return false;
  Stretch whole{0, size};
  TRY(copy_stretch(pair, whole));
  return true;
}

// A file system that cannot say where data lies, and a file whose size of 0 may hide content
// (proc files make theirs on reading), are copied as one stream to their end: neither has holes
// to keep.
Result<void> copy_content(const OpenedSource& source, CopyPair& pair) {
  TRY_ASSIGN(const bool copied, copy_dense(source, pair));
  if (copied) return {};
  const off_t size = source.status.st_size;
  const off_t data = size > 0 ? ::lseek(pair.in, 0, SEEK_DATA) : -1;
  if (data >= 0) return copy_data(pair, data, size);
  if (size > 0 && errno == ENXIO) return copy_data(pair, kEndOfFile, size);
  if (size > 0 && !is_unsupported(errno)) return Io{last_os_error()};
  Stretch whole;
  return copy_stretch(pair, whole);
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
