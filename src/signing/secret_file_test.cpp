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

// Another user renames a FIFO of theirs, which they hold open for reading, to --out right after
// root judged it: the moment a race would have to hit. Whether --out was to be replaced (nothing
// or root's file there) or written where it stands (root's link to a device), the FIFO is
// refused and reads nothing. With standard input closed, the FIFO opens as descriptor 0, the
// number of a standard stream, and still counts as none.
TEST(SecretFile, RefusesAFifoSwappedInAfterTheJudgement) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  struct Case {
    const char* name;
    const char* old_content;  // root's file at --out, if any
    const char* link_to;      // root's link at --out, if any
    bool stdin_closed;
  };
  const Case cases[] = {
      {"nothing at --out", nullptr, nullptr, false},
      {"root's identity at --out", "old identity\n", nullptr, false},
      {"root's link to a device", nullptr, "/dev/null", false},
      {"root's link to a device, standard input closed", nullptr, "/dev/null", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TempDir temp;
    const fs::path theirs = test::make_other_users_directory(temp.path());
    const fs::path out = theirs / "id.json";
    const fs::path fifo = theirs / "fifo";
    if (c.old_content) test::write_file(out, c.old_content, 0600);
    if (c.link_to) fs::create_symlink(c.link_to, out);
    UniqueFd reader;
    test::with_file_rights_of(kOtherUser, kOtherUser, [&] {
      ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
      reader.reset(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    });
    ASSERT_TRUE(reader.is_open());
    const AfterJudging swap_in_fifo = [&] {
      test::with_file_rights_of(kOtherUser, kOtherUser,
                                [&] { EXPECT_EQ(::rename(fifo.c_str(), out.c_str()), 0); });
    };

    Result<void> written;
    {
      const ClosedStdin closed(c.stdin_closed);
      written = write_secret_file(out, kSecret, swap_in_fifo);
    }
    ASSERT_FALSE(written);
    EXPECT_EQ(message(written.error()),
              "refusing to write a secret to a file owned by another user: " + out.string());
    char byte = 0;
    EXPECT_LE(::read(reader.get(), &byte, 1), 0);
    EXPECT_EQ(test::names_in(theirs), std::vector<std::string>{"id.json"});  // no new file left
  }
}

}  // namespace
}  // namespace srb
