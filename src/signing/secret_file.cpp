#include "signing/secret_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string>
#include <variant>

#include "core/hex.hpp"
#include "core/unique_fd.hpp"
#include "signing/identity_destination.hpp"
#include "signing/system_random.hpp"

// Once --out is judged, the secret goes one of two ways. A device or standard stream is opened
// without O_CREAT, without waiting, and by the name it was judged under: the device itself, not
// following a link, or the process's own /proc/self/fd/N, so a link swapped in at --out
// afterwards leads nowhere. Whatever the open found must again be such a stream before anything
// is written. Everything else gets a file nobody else has ever held: created with O_EXCL under a
// name nobody could guess, written and synced, then renamed over the destination, so an
// attacker's FIFO, hard link or open descriptor at --out sees nothing of the secret, and a
// failure before the rename leaves the old identity as it was.

namespace srb {
namespace {

// Random names do not collide by chance; these many collisions mean someone is creating them.
constexpr int kTempNameAttempts = 16;

// Confirms that the descriptor opened for a judged stream still is one.
Result<void> confirm_stream(int fd, const std::filesystem::path& out) {
  struct stat opened {};
  if (::fstat(fd, &opened) != 0) return Io{last_os_error()};
  if (is_stream(opened, fd)) return {};
  TRY(check_replaceable(opened, out));
  // Something of the user's own took the stream's place; it is written in place no more than
  // any other file, and the next run judges it afresh.
  return Io{os_error(EAGAIN)};
}

Result<void> write_to_stream(const StreamDestination& stream, const std::filesystem::path& out,
                             std::string_view text) {
  int flags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  if (stream.kind == StreamPath::by_name) flags |= O_NOFOLLOW;
  UniqueFd fd(::open(stream.path.c_str(), flags));
  if (!fd.is_open()) return Io{last_os_error()};
  TRY(confirm_stream(fd.get(), out));
  // Writes wait again, so a pipe whose reader is slow still takes the whole text.
  if (!make_blocking(fd.get())) return Io{last_os_error()};
  TRY(write_all(fd.get(), text));
  return fd.close();
}

struct TempFile {
  UniqueFd fd;
  std::string name;
};

Result<std::string> random_temp_name() {
  std::array<unsigned char, 8> bytes{};
  TRY(fill_from_system_random(bytes));
  return ".identity-" + encode_hex(bytes) + ".tmp";
}

Result<TempFile> create_temp_file(int directory) {
  for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    TRY_ASSIGN(std::string name, random_temp_name());
    UniqueFd fd(::openat(directory, name.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.is_open()) return TempFile{std::move(fd), std::move(name)};
    if (errno != EEXIST) return Io{last_os_error()};
  }
  return Io{os_error(EEXIST)};
}

// The entry about to be replaced is judged once more after the slow part: another user's FIFO
// or link that appeared at the destination meanwhile is refused as it would have been at first.
Result<void> check_still_replaceable(int directory, const std::filesystem::path& name,
                                     const std::filesystem::path& out) {
  struct stat entry {};
  if (::fstatat(directory, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return {};
    return Io{last_os_error()};
  }
  return check_replaceable(entry, out);
}

Result<void> fill_and_rename(int directory, TempFile& temp, const std::filesystem::path& name,
                             const std::filesystem::path& out, std::string_view text) {
  // Created 0600 less the umask; the identity is owner-only exactly, whatever the umask.
  (void)::fchmod(temp.fd.get(), 0600);
  TRY(write_all(temp.fd.get(), text));
  if (::fsync(temp.fd.get()) != 0) return Io{last_os_error()};
  TRY(temp.fd.close());
  TRY(check_still_replaceable(directory, name, out));
  if (::renameat(directory, temp.name.c_str(), directory, name.c_str()) != 0)
    return Io{last_os_error()};
  return {};
}

Result<void> replace_whole(const std::filesystem::path& path, const std::filesystem::path& out,
                           std::string_view text) {
  const std::filesystem::path name = path.filename();
  if (name.empty() || name == "." || name == "..") return Io{os_error(EISDIR)};
  const std::filesystem::path parent = path.parent_path();
  const UniqueFd directory(
      ::open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!directory.is_open()) return Io{last_os_error()};
  TRY_ASSIGN(TempFile temp, create_temp_file(directory.get()));
  const Result<void> placed = fill_and_rename(directory.get(), temp, name, out, text);
  if (!placed) {
    ::unlinkat(directory.get(), temp.name.c_str(), 0);
    return placed;
  }
  // The rename is durable only once the directory is.
  if (::fsync(directory.get()) != 0) return Io{last_os_error()};
  return {};
}

}  // namespace

Result<void> write_secret_file(const std::filesystem::path& out, std::string_view text,
                               const AfterJudging& after_judging) {
  TRY_ASSIGN(const IdentityDestination destination, judge_identity_destination(out));
  if (after_judging) after_judging();
  if (const auto* stream = std::get_if<StreamDestination>(&destination))
    return write_to_stream(*stream, out, text);
  return replace_whole(std::get<FileDestination>(destination).path, out, text);
}

}  // namespace srb
