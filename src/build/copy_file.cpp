#include "build/copy_file.hpp"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include "core/unique_fd.hpp"

// The source is opened first and examined through its descriptor, so the file that is checked is
// the file that is read. It is opened non-blocking, because a FIFO at a host path would otherwise
// hang the build before its type could be refused. The content moves by copy_file_range where the
// kernel supports it for this pair of files, then by sendfile, then by plain reads and writes;
// each method carries on from the file offsets the previous one reached.

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

bool is_same_file(const struct stat& source, const std::filesystem::path& destination) {
  struct stat existing;
  if (::stat(destination.c_str(), &existing) != 0) return false;
  return existing.st_dev == source.st_dev && existing.st_ino == source.st_ino;
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

Result<void> copy_opened_source(OpenedSource& source, const std::filesystem::path& destination) {
  // Truncating the destination would destroy the very content about to be copied.
  if (is_same_file(source.status, destination)) return {};
  const int in = source.fd.get();
  const int flags = ::fcntl(in, F_GETFL);
  if (flags < 0 || ::fcntl(in, F_SETFL, flags & ~O_NONBLOCK) != 0) return Io{last_os_error()};

  const mode_t permissions = source.status.st_mode & 07777;
  UniqueFd out(::open(destination.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, permissions));
  if (!out.is_open()) return Io{last_os_error()};
  if (::fchmod(out.get(), permissions) != 0) return Io{last_os_error()};
  TRY(copy_content(in, out.get()));
  return out.close();
}

Result<void> copy_host_file(const std::filesystem::path& source,
                            const std::filesystem::path& destination) {
  TRY_ASSIGN(OpenedSource opened, open_host_source(source));
  return copy_opened_source(opened, destination);
}

}  // namespace srb
