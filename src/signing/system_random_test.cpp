#include "signing/system_random.hpp"

#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>

namespace srb {
namespace {

constexpr int kFilterRefused = 250;
constexpr int kAllZero = 251;
constexpr int kNotIo = 252;

// Makes getrandom fail with `getrandom_errno` and, when `openat_errno` is not 0, every openat
// with that. Enough for a short-lived child that only draws random bytes.
bool install_filter(unsigned getrandom_errno, unsigned openat_errno) {
  const unsigned openat_action =
      openat_errno != 0 ? SECCOMP_RET_ERRNO | openat_errno : SECCOMP_RET_ALLOW;
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_getrandom, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | getrandom_errno),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, openat_action),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
  return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Draws 32 bytes in a child under the filter. Returns 0 for success, else the error number of
// the Io failure (or one of the k* codes above).
int draw_in_child(unsigned getrandom_errno, unsigned openat_errno) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (!install_filter(getrandom_errno, openat_errno)) ::_exit(kFilterRefused);
    std::array<unsigned char, 32> bytes{};
    const Result<void> drawn = fill_from_system_random(bytes);
    if (!drawn) {
      const Io* io = std::get_if<Io>(&drawn.error());
      ::_exit(io ? io->error.code : kNotIo);
    }
    ::_exit(std::all_of(bytes.begin(), bytes.end(), [](unsigned char b) { return b == 0; })
                ? kAllZero
                : 0);
  }
  int status = 0;
  EXPECT_EQ(::waitpid(pid, &status, 0), pid);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SystemRandomTest, FallsBackToTheDevicesOnlyWhereGetrandomIsMissingOrRefused) {
  struct Case {
    const char* name;
    unsigned getrandom_errno;
    unsigned openat_errno;
    int expected;
  };
  const Case cases[] = {
      {"getrandom missing", ENOSYS, 0, 0},
      {"getrandom refused", EPERM, 0, 0},
      {"devices unavailable too", ENOSYS, EACCES, EACCES},
      {"getrandom failing otherwise", EIO, 0, EIO},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int outcome = draw_in_child(c.getrandom_errno, c.openat_errno);
    if (outcome == kFilterRefused) GTEST_SKIP() << "seccomp filters are not available here";
    EXPECT_EQ(outcome, c.expected);
  }
}

}  // namespace
}  // namespace srb
