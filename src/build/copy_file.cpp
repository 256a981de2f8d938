#include "build/copy_file.hpp"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include "core/confined_write.hpp"
#include "core/unique_fd.hpp"

// The source is opened non-blocking, because a FIFO at a host path would otherwise hang the build
// before its type could be refused. The content moves by copy_file_range where the kernel
// supports it for this pair of files, then by sendfile, then by plain reads and writes; each
// method carries on from the file offsets the previous one reached.

namespace srb {
namespace {

constexpr std::size_t kChunk = 1 << 20;

enum class Transfer { done, unsupported, failed };
struct Outcome {
  Transfer transfer;
  int error = 0;  // errno of a failed transfer
};

// Errors by which the kernel says "not for these files" rather than "this copy failed".
bool is_unsupported(int error) {
  return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP;
}

// Runs one method until end of file. A method that reports no support before it has moved a
// byte leaves the rest to the next; so does one that reads nothing at all, since some file
// systems report a size of 0 for files that have content.
template <typename Step>
Outcome transfer_with(Step step) {
  bool moved = false;
  for (;;) {
    const ssize_t n = step();
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && !moved && is_unsupported(errno)) return {Transfer::unsupported};
    if (n < 0) return {Transfer::failed, errno};
    if (n == 0) return {moved ? Transfer::done : Transfer::unsupported};
    moved = true;
  }
}

Result<void> read_write_loop(int in, int out) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = read_some(in, buffer, sizeof buffer);
    if (n < 0) return Io{last_os_error()};
    if (n == 0) return {};
    TRY(write_all(out, std::string_view(buffer, static_cast<std::size_t>(n))));
  }
}

Result<void> copy_content(int in, int out) {
  Outcome outcome =
      transfer_with([&] { return ::copy_file_range(in, nullptr, out, nullptr, kChunk, 0); });
  if (outcome.transfer == Transfer::unsupported)
    outcome = transfer_with([&] { return ::sendfile(out, in, nullptr, kChunk); });
  if (outcome.transfer == Transfer::failed) return Io{os_error(outcome.error)};
  if (outcome.transfer == Transfer::unsupported) return read_write_loop(in, out);
  return {};
}

}  // namespace

Result<OpenedSource> open_host_source(const std::filesystem::path& source) {
  UniqueFd fd(::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.is_open()) return Io{last_os_error()};
  return as_build_source(std::move(fd));
}

Result<OpenedSource> as_build_source(UniqueFd fd) {
  OpenedSource opened;
  opened.fd = std::move(fd);
  if (::fstat(opened.fd.get(), &opened.status) != 0) return Io{last_os_error()};
  if (!S_ISREG(opened.status.st_mode))
    return Io{OsError{0, OsError::Fixed::copy_source_not_regular}};
  return opened;
}

Result<WrittenFile> copy_opened_source(OpenedSource& source, const Destination& destination) {
  const char* name = destination.name.c_str();
  TRY_ASSIGN(const std::optional<struct stat> existing,
             entry_to_write(destination.directory, name, destination.shown));
  // Replacing the destination would destroy the very content about to be copied.
  if (existing && S_ISREG(existing->st_mode) && is_same_file(*existing, source.status))
    return WrittenFile{
        .device = existing->st_dev, .inode = existing->st_ino, .final_mode = std::nullopt};
  if (!make_blocking(source.fd.get())) return Io{last_os_error()};

  TRY_ASSIGN(UniqueFd out, create_fresh_file_over(destination.directory, name, 0600, existing));
  struct stat created;
  // The umask may have taken bits the digest step needs to read the file back.
  if (::fchmod(out.get(), 0600) != 0 || ::fstat(out.get(), &created) != 0)
    return Io{last_os_error()};
  TRY(copy_content(source.fd.get(), out.get()));
  TRY(out.close());
  return WrittenFile{.device = created.st_dev,
                     .inode = created.st_ino,
                     .final_mode = source.status.st_mode & 0777};
}

Result<UniqueFd> reopen_written_file(const Destination& destination, const WrittenFile& written) {
  UniqueFd fd(::openat(destination.directory, destination.name.c_str(),
                       O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.is_open()) {
    // A link (ELOOP), nothing at all, or a socket: not the file that was written.
    if (errno == ELOOP || errno == ENOENT || errno == ENXIO)
      return DestinationChanged{destination.shown};
    return Io{last_os_error()};
  }
  struct stat status;
  if (::fstat(fd.get(), &status) != 0) return Io{last_os_error()};
  if (!S_ISREG(status.st_mode) || status.st_dev != written.device || status.st_ino != written.inode)
    return DestinationChanged{destination.shown};
  return fd;
}

Result<void> seal_written_file(int fd, const WrittenFile& written) {
  if (written.final_mode && ::fchmod(fd, *written.final_mode) != 0) return Io{last_os_error()};
  return {};
}

}  // namespace srb
