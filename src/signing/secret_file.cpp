#include "signing/secret_file.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <optional>
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
// is written. Everything else gets a file nobody else has ever held, in a directory nobody else
// may change: created without a name (O_TMPFILE), written and synced, linked in under a name
// nobody could guess and at once renamed over the destination, so an attacker's FIFO, hard link
// or open descriptor at --out sees nothing of the secret, a failure or a kill before the link
// leaves nothing behind, and one before the rename leaves the old identity as it was. Only a
// SIGKILL between the link and the rename can leave the new name behind; the signals a user
// sends are held back for that moment. After the rename the entry must be the file written.

namespace srb {
namespace {

// Random names do not collide by chance; these many collisions mean someone is creating them.
constexpr int kTempNameAttempts = 16;

// The failure for a destination found changed after it was judged: the refusal that what stands
// there now deserves, else EAGAIN, for something of the user's own that the next run judges
// afresh.
BundleError changed_destination(const struct stat& found, const std::filesystem::path& out) {
  const Result<void> replaceable = check_replaceable(found, out);
  if (!replaceable) return replaceable.error();
  return Io{os_error(EAGAIN)};
}

// Confirms that the descriptor opened for a judged stream still is one. Something else there
// is written in place no more than any other file.
Result<void> confirm_stream(int fd, const std::filesystem::path& out) {
  struct stat opened {};
  if (::fstat(fd, &opened) != 0) return Io{last_os_error()};
  if (is_stream(opened, fd)) return {};
  return changed_destination(opened, out);
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

Result<std::string> random_temp_name() {
  std::array<unsigned char, 8> bytes{};
  TRY(fill_from_system_random(bytes));
  return ".identity-" + encode_hex(bytes) + ".tmp";
}

// The signals a user stops a command with, held back while a named file holds the secret, so
// that the name is removed (or the rename done) before they take effect. Only this thread's mask
// changes; what the signals do is the program's own choice, left as it is.
class HeldSignals {
 public:
  HeldSignals() {
    ::sigemptyset(&held_);
    for (const int signal : kStopSignals)
      ::sigaddset(&held_, signal);
    ::pthread_sigmask(SIG_BLOCK, &held_, &saved_);
  }
  ~HeldSignals() { release(); }
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

  // Lets the signals through again; one that came meanwhile is delivered now.
  void release() {
    if (!holding_) return;
    holding_ = false;
    ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
  }

  // True when one of the signals came while held that the caller had not blocked itself.
  bool any_pending() const {
    sigset_t pending;
    if (::sigpending(&pending) != 0) return false;
    for (const int signal : kStopSignals) {
      if (::sigismember(&pending, signal) == 1 && ::sigismember(&saved_, signal) != 1) return true;
    }
    return false;
  }

 private:
  static constexpr std::array<int, 3> kStopSignals = {SIGINT, SIGTERM, SIGHUP};
  sigset_t held_{};
  sigset_t saved_{};
  bool holding_ = true;
};

// The file that will replace the entry, and what it was once written, to know it again after
// the rename.
struct NewFile {
  UniqueFd fd;
  std::string name;  // its name in the directory; empty while it has none of its own
  struct stat written {};
};

// Removes the new file's name when it is left before the rename, whatever went wrong.
class RemovedUnlessRenamed {
 public:
  RemovedUnlessRenamed(int directory, const NewFile& file) : directory_(directory), file_(file) {}
  ~RemovedUnlessRenamed() {
    if (!file_.name.empty()) ::unlinkat(directory_, file_.name.c_str(), 0);
  }
  RemovedUnlessRenamed(const RemovedUnlessRenamed&) = delete;
  RemovedUnlessRenamed& operator=(const RemovedUnlessRenamed&) = delete;

 private:
  int directory_;
  const NewFile& file_;
};

// An unnamed file in `directory`, or nothing where the file system (EOPNOTSUPP) or the kernel
// (EISDIR, EINVAL: before Linux 3.11) has none.
Result<std::optional<NewFile>> create_unnamed_file(int directory) {
  UniqueFd fd(::openat(directory, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
  if (fd.is_open()) return std::optional<NewFile>(NewFile{.fd = std::move(fd), .name = {}});
  if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) return std::optional<NewFile>();
  return Io{last_os_error()};
}

Result<NewFile> create_named_file(int directory) {
  for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    TRY_ASSIGN(std::string name, random_temp_name());
    UniqueFd fd(::openat(directory, name.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.is_open()) return NewFile{.fd = std::move(fd), .name = std::move(name)};
    if (errno != EEXIST) return Io{last_os_error()};
  }
  return Io{os_error(EEXIST)};
}

Result<void> write_and_sync(NewFile& file, std::string_view text) {
  // Created 0600 less the umask; the identity is owner-only exactly, whatever the umask.
  (void)::fchmod(file.fd.get(), 0600);
  TRY(write_all(file.fd.get(), text));
  if (::fsync(file.fd.get()) != 0) return Io{last_os_error()};
  if (::fstat(file.fd.get(), &file.written) != 0) return Io{last_os_error()};
  return {};
}

// Gives the unnamed file a random name in `directory`: by its descriptor, which older kernels
// allow only with CAP_DAC_READ_SEARCH, else through the process's own /proc/self/fd link. False
// when neither can (no /proc): the file stays unnamed, and vanishes when closed.
Result<bool> link_in(int directory, NewFile& file) {
  const std::string own_link = "/proc/self/fd/" + std::to_string(file.fd.get());
  for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    TRY_ASSIGN(std::string name, random_temp_name());
    int linked = ::linkat(file.fd.get(), "", directory, name.c_str(), AT_EMPTY_PATH);
    if (linked != 0 && errno == ENOENT)
      linked = ::linkat(AT_FDCWD, own_link.c_str(), directory, name.c_str(), AT_SYMLINK_FOLLOW);
    if (linked == 0) {
      file.name = std::move(name);
      return true;
    }
    if (errno == ENOENT) return false;
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

// Renames the named new file over `name`, lets the held signals through, and makes sure the
// entry is now the file that was written: whoever could have swapped it before the rename must
// not have their file taken for the identity.
Result<WrittenSecret> rename_over(int directory, NewFile& file, const std::filesystem::path& name,
                                  const std::filesystem::path& out, HeldSignals& held) {
  if (::renameat(directory, file.name.c_str(), directory, name.c_str()) != 0)
    return Io{last_os_error()};
  file.name.clear();
  held.release();
  // The rename is done: a failure from here on leaves the new identity in place (unless the
  // look below finds another file there, which someone put in place of the new one).
  WrittenSecret written{.replaced_file = true, .failed_after_replacing = std::nullopt};
  struct stat placed {};
  if (::fstatat(directory, name.c_str(), &placed, AT_SYMLINK_NOFOLLOW) != 0) {
    written.failed_after_replacing = last_os_error();
    return written;
  }
  if (!is_same_file(placed, file.written)) return changed_destination(placed, out);
  if (const Result<void> closed = file.fd.close(); !closed)
    written.failed_after_replacing = std::get<Io>(closed.error()).error;
  else if (::fsync(directory) != 0)  // the rename is durable only once the directory is
    written.failed_after_replacing = last_os_error();
  return written;
}

// The secret in an unnamed file, named only from the link to the rename, with the signals held
// in between. Nothing when it cannot be linked in.
Result<std::optional<WrittenSecret>> replace_by_unnamed_file(int directory, NewFile file,
                                                             const std::filesystem::path& name,
                                                             const std::filesystem::path& out,
                                                             std::string_view text) {
  TRY(write_and_sync(file, text));
  TRY(check_still_replaceable(directory, name, out));
  HeldSignals held;
  const RemovedUnlessRenamed named(directory, file);
  TRY_ASSIGN(const bool linked, link_in(directory, file));
  if (!linked) return std::optional<WrittenSecret>();
  TRY_ASSIGN(WrittenSecret written, rename_over(directory, file, name, out, held));
  return std::optional<WrittenSecret>(written);
}

// The secret in a file named from the start, with the signals held all along: one that comes
// before the rename removes the file.
Result<WrittenSecret> replace_by_named_file(int directory, const std::filesystem::path& name,
                                            const std::filesystem::path& out,
                                            std::string_view text) {
  HeldSignals held;
  TRY_ASSIGN(NewFile file, create_named_file(directory));
  const RemovedUnlessRenamed named(directory, file);
  TRY(write_and_sync(file, text));
  if (held.any_pending()) return Io{os_error(EINTR)};
  TRY(check_still_replaceable(directory, name, out));
  return rename_over(directory, file, name, out, held);
}

Result<WrittenSecret> replace_whole(const std::filesystem::path& path,
                                    const std::filesystem::path& out, std::string_view text) {
  const std::filesystem::path name = path.filename();
  if (name.empty() || name == "." || name == "..") return Io{os_error(EISDIR)};
  const std::filesystem::path parent = path.parent_path();
  const UniqueFd directory(
      ::open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!directory.is_open()) return Io{last_os_error()};
  struct stat directory_status {};
  if (::fstat(directory.get(), &directory_status) != 0) return Io{last_os_error()};
  TRY(check_secret_directory(directory_status, out));
  TRY_ASSIGN(std::optional<NewFile> unnamed, create_unnamed_file(directory.get()));
  if (unnamed) {
    TRY_ASSIGN(std::optional<WrittenSecret> written,
               replace_by_unnamed_file(directory.get(), std::move(*unnamed), name, out, text));
    if (written) return *written;
  }
  return replace_by_named_file(directory.get(), name, out, text);
}

}  // namespace

Result<WrittenSecret> write_secret_file(const std::filesystem::path& out, std::string_view text,
                                        const AfterJudging& after_judging) {
  TRY_ASSIGN(const IdentityDestination destination, judge_identity_destination(out));
  if (after_judging) after_judging();
  if (const auto* stream = std::get_if<StreamDestination>(&destination)) {
    TRY(write_to_stream(*stream, out, text));
    return WrittenSecret{};
  }
  return replace_whole(std::get<FileDestination>(destination).path, out, text);
}

}  // namespace srb
