#include "signing/secret_file.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "core/unique_fd.hpp"
#include "tests/support/process.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb {
namespace {

namespace fs = std::filesystem;
using test::kOtherUser;
using test::TempDir;

constexpr std::string_view kSecret = "{\"secret_key_hex\":\"not really secret\"}\n";

// Restores standard input when it was closed for a case.
class ClosedStdin {
 public:
  explicit ClosedStdin(bool close_it) : saved_(close_it ? ::dup(STDIN_FILENO) : -1) {
    if (saved_ >= 0) ::close(STDIN_FILENO);
  }
  ~ClosedStdin() {
    if (saved_ < 0) return;
    ::dup2(saved_, STDIN_FILENO);
    ::close(saved_);
  }
  ClosedStdin(const ClosedStdin&) = delete;
  ClosedStdin& operator=(const ClosedStdin&) = delete;

 private:
  int saved_;
};

// A directory of the other user's below `temp`, and in it a FIFO of theirs that they hold open
// for reading, ready to be renamed to --out.
struct TheirFifo {
  fs::path directory;
  fs::path fifo;
  UniqueFd reader;
};

TheirFifo make_their_fifo(const TempDir& temp) {
  TheirFifo theirs;
  theirs.directory = test::make_other_users_directory(temp.path());
  theirs.fifo = theirs.directory / "fifo";
  test::with_file_rights_of(kOtherUser, kOtherUser, [&] {
    if (::mkfifo(theirs.fifo.c_str(), 0666) == 0)
      theirs.reader.reset(::open(theirs.fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  });
  return theirs;
}

// The other user's single step: renaming their entry `from` over `to`.
AfterJudging their_rename(const fs::path& from, const fs::path& to) {
  return [from, to] {
    test::with_file_rights_of(kOtherUser, kOtherUser,
                              [&] { EXPECT_EQ(::rename(from.c_str(), to.c_str()), 0); });
  };
}

// True when nothing can be read from `fd`, opened non-blocking.
bool reads_nothing(int fd) {
  char byte = 0;
  return ::read(fd, &byte, 1) <= 0;
}

// Another user puts their FIFO at --out right after root judged it, the moment a race would
// have to hit. Whether --out was to be replaced (nothing there yet, in a sticky directory such as
// /tmp where they may add entries but not replace root's; or root's file, in their directory) or
// written where it stands (root's device node in their directory), the FIFO is refused and reads
// nothing. With standard input closed, the FIFO opens as descriptor 0, the number of a standard
// stream, and still counts as none.
TEST(SecretFile, RefusesAFifoSwappedInAfterTheJudgement) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  enum class AtOut { nothing, identity, device };
  struct Case {
    const char* name;
    bool sticky_directory;  // else theirs
    AtOut at_out;
    bool stdin_closed;
  };
  const Case cases[] = {
      {"nothing at --out in a sticky directory", true, AtOut::nothing, false},
      {"root's identity at --out in their directory", false, AtOut::identity, false},
      {"root's device node at --out in their directory", false, AtOut::device, false},
      {"root's device node at --out, standard input closed", false, AtOut::device, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TempDir temp;
    const TheirFifo theirs = make_their_fifo(temp);
    ASSERT_TRUE(theirs.reader.is_open());
    const fs::path directory = c.sticky_directory ? temp / "shared" : theirs.directory;
    if (c.sticky_directory) {
      fs::create_directory(directory);
      fs::permissions(directory, fs::perms(01777));
    }
    const fs::path out = directory / "id.json";
    if (c.at_out == AtOut::identity) test::write_file(out, "old identity\n", 0600);
    if (c.at_out == AtOut::device && !test::make_memory_device(out))
      GTEST_SKIP() << "cannot make device nodes here";

    const Result<WrittenSecret> written = [&] {
      const ClosedStdin closed(c.stdin_closed);
      return write_secret_file(out, kSecret, their_rename(theirs.fifo, out));
    }();
    ASSERT_FALSE(written);
    EXPECT_EQ(message(written.error()),
              "refusing to write a secret to a file owned by another user: " + out.string());
    EXPECT_TRUE(reads_nothing(theirs.reader.get()));
    // No new file is left beside the FIFO.
    EXPECT_EQ(test::names_in(directory), std::vector<std::string>{"id.json"});
  }
}

// Root's link at --out leads to a device, and the other user replaces that link after the
// judgement with their FIFO, or with their link to their own terminal. The device that was
// judged is written, and nothing reaches the other user.
TEST(SecretFile, WritesTheJudgedDeviceWhateverReplacesTheLink) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  const TempDir temp;
  if (!test::make_memory_device(temp / "null")) GTEST_SKIP() << "cannot make device nodes here";
  const TheirFifo theirs = make_their_fifo(temp);
  ASSERT_TRUE(theirs.reader.is_open());
  const UniqueFd terminal(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  // A chroot without /dev/pts mounted has no pseudo-terminals to give the other user.
  if (!terminal.is_open()) GTEST_SKIP() << "no pseudo-terminals here";
  ASSERT_EQ(::unlockpt(terminal.get()), 0);
  const fs::path their_terminal = ::ptsname(terminal.get());
  ASSERT_EQ(::chown(their_terminal.c_str(), kOtherUser, kOtherUser), 0);
  const fs::path their_link = theirs.directory / "link";
  test::with_file_rights_of(kOtherUser, kOtherUser, [&] {
    ASSERT_EQ(::symlink(their_terminal.c_str(), their_link.c_str()), 0);
  });
  const fs::path out = theirs.directory / "id.json";
  for (const fs::path& replacement : {theirs.fifo, their_link}) {
    SCOPED_TRACE(replacement);
    fs::create_symlink(temp / "null", out);
    const Result<WrittenSecret> written =
        write_secret_file(out, kSecret, their_rename(replacement, out));
    EXPECT_TRUE(written) << (written ? "" : message(written.error()));
    EXPECT_TRUE(reads_nothing(theirs.reader.get()));
    EXPECT_TRUE(reads_nothing(terminal.get()));
    fs::remove(out);
  }
}

}  // namespace
}  // namespace srb
