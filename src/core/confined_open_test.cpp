#include "core/confined_open.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "core/unique_fd.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb {
namespace {

namespace fs = std::filesystem;

// Every case runs through the kernel's openat2 and through the walk that stands in for it.
class OpenConfined : public ::testing::TestWithParam<Resolver> {
 protected:
  int open_beneath(int base, std::string_view path, int flags) const {
    return open_confined(base, path, flags, Confinement::beneath, GetParam());
  }
  int open_in_root(int base, std::string_view path, int flags) const {
    return open_confined(base, path, flags, Confinement::in_root, GetParam());
  }
};
INSTANTIATE_TEST_SUITE_P(BothResolvers, OpenConfined,
                         ::testing::Values(Resolver::kernel, Resolver::walk), [](const auto& info) {
                           return info.param == Resolver::kernel ? "kernel" : "walk";
                         });

// What an open should give: the file at `opens` below the bundle (by device and inode), or the
// errno when `opens` is empty.
struct Expected {
  const char* opens;
  int error;
};

std::string describe(int fd, const fs::path& bundle) {
  if (fd < 0) return std::string("errno ") + std::strerror(errno);
  struct stat opened {};
  ::fstat(fd, &opened);
  for (const auto& entry : fs::recursive_directory_iterator(bundle.parent_path())) {
    struct stat status {};
    if (::lstat(entry.path().c_str(), &status) == 0 && is_same_file(status, opened))
      return fs::relative(entry.path(), bundle).string();
  }
  return "something unknown";
}

std::string describe(const Expected& expected) {
  if (expected.opens[0] == '\0') return std::string("errno ") + std::strerror(expected.error);
  return expected.opens;
}

// Links that stay inside the bundle are followed; every way out ends the resolution, including an
// absolute link that names a place inside the bundle, since it leaves before it comes back.
TEST_P(OpenConfined, BeneathFollowsLinksInsideAndRefusesEveryWayOut) {
  const test::TempDir temp;
  const fs::path bundle = temp / "bundle";
  test::write_file(temp / "secret", "outside");
  test::write_file(bundle / "lib/a", "a");
  fs::create_symlink("../lib", bundle / "lib/lib64");
  fs::create_symlink("../lib/a", bundle / "lib/back");
  fs::create_symlink("lib/a", bundle / "link_a");
  fs::create_symlink("..", bundle / "up");
  fs::create_symlink("../secret", bundle / "sneaky");
  fs::create_symlink("../../secret", bundle / "lib/deep");
  fs::create_symlink("/etc", bundle / "etc_link");
  fs::create_symlink(bundle / "lib", bundle / "absolute_inside");
  fs::create_symlink("/proc/self", bundle / "proc_link");
  fs::create_symlink("loop", bundle / "loop");
  fs::create_symlink("nowhere", bundle / "dangling");
  const UniqueFd root(::open(bundle.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  ASSERT_TRUE(root.is_open());

  constexpr int kRead = O_RDONLY | O_NONBLOCK;
  const struct {
    const char* path;
    int flags;
    Expected expected;
  } cases[] = {
      {"lib/a", kRead, {"lib/a", 0}},
      {"lib/lib64/a", kRead, {"lib/a", 0}},
      {"lib/lib64/lib64/a", kRead, {"lib/a", 0}},
      {"lib/back", kRead, {"lib/a", 0}},
      {"link_a", O_PATH, {"lib/a", 0}},
      {"lib/../lib/a", kRead, {"lib/a", 0}},
      {"lib/lib64/../lib/a", kRead, {"lib/a", 0}},  // ".." from where the link led, not lexical
      {"link_a", kRead | O_NOFOLLOW, {"", ELOOP}},
      {"lib/back", kRead | O_NOFOLLOW, {"", ELOOP}},
      {"loop", kRead, {"", ELOOP}},
      {"dangling", kRead, {"", ENOENT}},
      {"absent", kRead, {"", ENOENT}},
      {"", kRead, {"", ENOENT}},
      {"lib/a/x", kRead, {"", ENOTDIR}},
      {"../secret", kRead, {"", EXDEV}},
      {"up/secret", kRead, {"", EXDEV}},
      {"sneaky", kRead, {"", EXDEV}},
      {"sneaky", O_PATH, {"", EXDEV}},
      {"lib/deep", kRead, {"", EXDEV}},
      {"etc_link/passwd", kRead, {"", EXDEV}},
      {"absolute_inside/a", kRead, {"", EXDEV}},
      {"proc_link/status", kRead, {"", EXDEV}},
      {"proc_link", O_PATH, {"", EXDEV}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    errno = 0;
    const UniqueFd fd(open_beneath(root.get(), c.path, c.flags));
    EXPECT_EQ(describe(fd.get(), bundle), describe(c.expected));
  }
}

// While a directory holding a link to "../../inside" is exchanged again and again with one outside
// the bundle, the link's ".." must never climb past the bundle: the file opened is the bundle's
// own "inside", or nothing, never the "inside" that lies beside the bundle.
TEST_P(OpenConfined, BeneathDotDotCannotEscapeThroughARacingRename) {
  constexpr int kOpens = 300;
  const test::TempDir temp;
  const fs::path bundle = temp / "bundle";
  test::write_file(bundle / "inside", "bundle");
  test::write_file(temp / "inside", "outside");
  fs::create_directories(bundle / "d1/d2");
  fs::create_symlink("../../inside", bundle / "d1/d2/link");
  // Moved out, d2 lies two levels below temp, so "../.." from it would be temp itself.
  fs::create_directories(temp / "out/away");
  const UniqueFd root(::open(bundle.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  ASSERT_TRUE(root.is_open());

  std::atomic<bool> done = false;
  std::thread mover([&] {
    const std::string in = bundle / "d1/d2";
    const std::string out = temp / "out/away";
    while (!done)
      ::renameat2(AT_FDCWD, in.c_str(), AT_FDCWD, out.c_str(), RENAME_EXCHANGE);
  });
  int escaped = 0;
  for (int i = 0; i < kOpens; ++i) {
    const UniqueFd fd(open_beneath(root.get(), "d1/d2/link", O_RDONLY));
    char byte = 0;
    if (fd.is_open() && ::read(fd.get(), &byte, 1) == 1 && byte == 'o') ++escaped;
  }
  done = true;
  mover.join();
  EXPECT_EQ(escaped, 0);
}

// A process's proc directory holds magic links (cwd, root, fd/N), which lead into whatever that
// process sees; neither confinement follows one, whoever resolves. The ordinary link self at the
// top of proc is followed where the confinement allows it.
TEST_P(OpenConfined, NeverFollowsAMagicLink) {
  const UniqueFd proc_self(::open("/proc/self", O_PATH | O_DIRECTORY | O_CLOEXEC));
  ASSERT_TRUE(proc_self.is_open());
  for (const char* path : {"cwd", "cwd/.", "root/etc/passwd", "fd/0", "exe"}) {
    SCOPED_TRACE(path);
    errno = 0;
    EXPECT_FALSE(UniqueFd(open_beneath(proc_self.get(), path, O_RDONLY)).is_open());
    EXPECT_EQ(errno, ELOOP);
    errno = 0;
    EXPECT_FALSE(UniqueFd(open_in_root(proc_self.get(), path, O_RDONLY)).is_open());
    EXPECT_EQ(errno, ELOOP);
  }
  const UniqueFd proc(::open("/proc", O_PATH | O_DIRECTORY | O_CLOEXEC));
  EXPECT_TRUE(UniqueFd(open_beneath(proc.get(), "self/status", O_RDONLY)).is_open());
}

// In a root, absolute targets and ".." stay inside: the root's own files are what they find.
TEST_P(OpenConfined, InRootTakesAbsoluteLinksAndDotDotInsideTheRoot) {
  const test::TempDir temp;
  const fs::path root = temp / "root";
  test::write_file(temp / "secret", "outside");
  test::write_file(root / "secret", "inside");
  fs::create_directories(root / "lib");
  fs::create_symlink("/secret", root / "lib/absolute");
  fs::create_symlink("../../../secret", root / "lib/climbing");
  const UniqueFd base(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  for (const char* path : {"lib/absolute", "lib/climbing", "/secret", "../secret", "/../secret"}) {
    SCOPED_TRACE(path);
    const UniqueFd fd(open_in_root(base.get(), path, O_RDONLY));
    char content[16] = {};
    ASSERT_TRUE(fd.is_open());
    EXPECT_EQ(std::string(content, ::read(fd.get(), content, sizeof content)), "inside");
  }
}

TEST(ClassifyOpenFailure, TellsNothingThereFromTheSystemFailing) {
  const struct {
    int error;
    OpenFailure failure;
  } cases[] = {
      {ENOENT, OpenFailure::absent},       {ENOTDIR, OpenFailure::absent},
      {ENAMETOOLONG, OpenFailure::absent}, {EXDEV, OpenFailure::outside},
      {ELOOP, OpenFailure::loop},          {EACCES, OpenFailure::denied},
      {ENXIO, OpenFailure::unopenable},    {ENODEV, OpenFailure::unopenable},
      {EIO, OpenFailure::fault},           {ENOMEM, OpenFailure::fault},
      {EMFILE, OpenFailure::fault},        {ENFILE, OpenFailure::fault},
      {EPERM, OpenFailure::fault},         {EBADF, OpenFailure::fault},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::strerror(c.error));
    EXPECT_EQ(classify_open_failure(c.error), c.failure);
  }
}

}  // namespace
}  // namespace srb
