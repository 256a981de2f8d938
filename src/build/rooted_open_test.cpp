#include "build/rooted_open.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>

#include "build/host_sources.hpp"
#include "tests/support/syscall_faults.hpp"
#include "tests/support/sysroot_fixture.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

std::string content_of(int fd) {
  std::string content;
  char buffer[4096];
  for (off_t offset = 0;;) {
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, offset);
    if (n <= 0) return n == 0 ? content : "unreadable";
    content.append(buffer, static_cast<std::size_t>(n));
    offset += n;
  }
}

// What an open found, as text: "absent", the error message, "directory", "special file", or the
// content of the regular file that was opened.
std::string describe(const Result<std::optional<UniqueFd>>& opened) {
  if (!opened) return message(opened.error());
  if (!*opened) return "absent";
  struct stat status;
  if (::fstat((*opened)->get(), &status) != 0) return "fstat failed";
  if (S_ISDIR(status.st_mode)) return "directory";
  if (!S_ISREG(status.st_mode)) return "special file";
  return content_of((*opened)->get());
}

UniqueFd open_directory(const fs::path& path) {
  return UniqueFd(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

// What each entry's open in the root finds, with openat2 offered or refused.
std::vector<std::string> describe_in_root(test::Openat2 openat2, int root,
                                          const std::vector<std::string_view>& entries) {
  return test::run_with_openat2(openat2, [&] {
    std::vector<std::string> found;
    for (std::string_view entry : entries)
      found.push_back(describe(open_in_root(root, entry)));
    return found;
  });
}

std::vector<std::string> describe_roots(test::Openat2 openat2, const std::vector<fs::path>& roots) {
  return test::run_with_openat2(openat2, [&] {
    std::vector<std::string> found;
    for (const fs::path& root : roots)
      found.push_back(describe(open_root_directory(root)));
    return found;
  });
}

class RootedOpen : public ::testing::TestWithParam<test::Openat2> {};
INSTANTIATE_TEST_SUITE_P(Openat2, RootedOpen,
                         ::testing::Values(test::Openat2::offered, test::Openat2::refused),
                         [](const auto& info) {
                           return info.param == test::Openat2::offered ? "offered" : "refused";
                         });

// The linked root, plus links that only the resolution itself cares about: chains of 40 and 41
// links, targets with a trailing "/", and a FIFO.
fs::path make_walk_root(const fs::path& dir) {
  const fs::path root = test::make_linked_root(dir);
  fs::create_directories(root / "chain");
  for (int i = 0; i < 40; ++i)
    fs::create_symlink(i == 39 ? "/secret" : "l" + std::to_string(i + 1),
                       root / "chain" / ("l" + std::to_string(i)));
  for (int i = 0; i < 41; ++i)
    fs::create_symlink(i == 40 ? "/secret" : "m" + std::to_string(i + 1),
                       root / "chain" / ("m" + std::to_string(i)));
  fs::create_symlink("usr/lib/", root / "directory-slash");
  fs::create_symlink("secret/", root / "file-slash");
  ::mkfifo((root / "fifo").c_str(), 0644);
  return root;
}

TEST_P(RootedOpen, ResolvesAsTheRootsOwnSystemWould) {
  TempDir dir;
  const UniqueFd root = open_directory(make_walk_root(dir.path()));
  ASSERT_TRUE(root.is_open());
  const std::string loader = "content of /usr/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2\n";
  const std::string libc = "content of /usr/lib/x86_64-linux-gnu/libc.so.6\n";
  const std::string secret = "content of /secret\n";
  struct Case {
    std::string_view entry;
    std::string expected;
  };
  const Case cases[] = {
      // Absolute targets, through the directory link lib -> /usr/lib too, stay in the root.
      {"/lib64/ld-linux-x86-64.so.2", loader},
      {"/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2", loader},
      {"/lib64/libc.so.6", libc},
      {"/lib64/libm.so.6", "absent"},  // its target exists only on the host
      // ".." never climbs above the root, whether in a link or in the entry.
      {"/lib64/libdl.so.2", secret},
      {"/lib64/libutil.so.1", "absent"},
      {"/../../secret", secret},
      {"/lib64/../../../secret", secret},
      // ".." after a directory link leaves the link's target, not the link's directory.
      {"/lib/../lib64/libc.so.6", "absent"},
      {"/lib/../lib/x86_64-linux-gnu/libc.so.6", libc},
      {"/lib64/libpthread.so.0", "absent"},
      {"/chain/l0", secret},    // 40 links in all
      {"/chain/m0", "absent"},  // 41
      {"/directory-slash/x86_64-linux-gnu/libc.so.6", libc},
      {"/file-slash", "absent"},
      {"/lib64/libc.so.6/", "absent"},
      {"/lib64/libc.so.6/.", "absent"},
      {"/etc/ld.so.cache", "content of /etc/ld.so.cache\n"},
      {"/lib/ld-linux.so.2", "absent"},
      {"/", "directory"},
      {"/lib/", "directory"},
      {"/lib64/..", "directory"},
      {"", "absent"},
      {"/fifo", "special file"},  // opened without waiting for a writer
  };
  std::vector<std::string_view> entries;
  for (const Case& c : cases)
    entries.push_back(c.entry);
  const std::vector<std::string> found = describe_in_root(GetParam(), root.get(), entries);
  ASSERT_EQ(found.size(), std::size(cases)) << found.front();
  for (std::size_t i = 0; i < found.size(); ++i)
    EXPECT_EQ(found[i], cases[i].expected) << cases[i].entry;
}

bool has_openat2() {
  open_how how{};
  how.flags = O_PATH | O_CLOEXEC;
  how.resolve = RESOLVE_IN_ROOT;
  const UniqueFd fd(static_cast<int>(::syscall(SYS_openat2, AT_FDCWD, "/", &how, sizeof how)));
  return fd.is_open();
}

TEST(RootedOpenWalk, AgreesWithOpenat2OnEveryEntryOfTheFabricatedRoots) {
  if (!has_openat2()) GTEST_SKIP() << "openat2 is not available here";
  TempDir dir;
  const fs::path linked = make_walk_root(dir.path());
  test::make_debian_like_root(dir / "debian");
  for (const fs::path& root_path : {linked, dir / "debian"}) {
    const UniqueFd root = open_directory(root_path);
    ASSERT_TRUE(root.is_open());
    std::vector<std::string_view> entries = {kLoaderCacheHostPath, "/", "/lib64/..", "/usr/lib64/"};
    for (const HostSourceTable& table : host_source_tables())
      for (const HostEntry& entry : table.entries)
        entries.push_back(entry.path);
    SCOPED_TRACE(root_path.string());
    EXPECT_EQ(describe_in_root(test::Openat2::refused, root.get(), entries),
              describe_in_root(test::Openat2::offered, root.get(), entries));
  }
}

// A failure that is not an outcome of resolution must never pass for an absent file.
TEST_P(RootedOpen, ReportsFailuresOtherThanResolution) {
  const std::string bad = "i/o: Bad file descriptor (os error 9)";
  EXPECT_EQ(describe_in_root(GetParam(), -1, {"/lib64/libc.so.6", "/"}),
            (std::vector<std::string>{bad, bad}));
}

// Links in the root path are followed, except magic ones, which lead into what a process sees;
// the walk that stands in for openat2 gives the same answers.
TEST_P(RootedOpen, RootPathFollowsOrdinaryLinksRefusesMagicOnesAndFindsNothingWhenMissing) {
  TempDir dir;
  test::write_file(dir / "file", "x");
  fs::create_directory(dir / "root");
  fs::create_directory_symlink("root", dir / "link");
  fs::create_directory_symlink("loop", dir / "loop");
  const UniqueFd held = open_directory(dir / "root");
  const std::string through_magic_link = "i/o: Too many levels of symbolic links (os error 40)";
  struct Case {
    fs::path root;
    std::string expected;
  };
  const Case cases[] = {
      {dir / "root", "directory"},
      {dir / "root/", "directory"},
      {dir / "link", "directory"},
      {dir / "link/../root", "directory"},
      {"", "directory"},  // the working directory
      {"/", "directory"},
      {"/proc/self", "directory"},  // an ordinary link at the top of proc
      {dir / "missing", "absent"},
      {dir / "file", "absent"},
      {dir / "file/x", "absent"},
      {dir / "loop", "absent"},
      {"/proc/self/root" + (dir / "root").string(), through_magic_link},
      {"/proc/self/root" + (dir / "missing").string(), through_magic_link},
      {"/proc/thread-self/cwd", through_magic_link},
      {"/proc/self/fd/" + std::to_string(held.get()), through_magic_link},
  };
  std::vector<fs::path> roots;
  for (const Case& c : cases)
    roots.push_back(c.root);
  const std::vector<std::string> found = describe_roots(GetParam(), roots);
  ASSERT_EQ(found.size(), std::size(cases)) << found.front();
  for (std::size_t i = 0; i < found.size(); ++i)
    EXPECT_EQ(found[i], cases[i].expected) << cases[i].root;
}

// A root inside a process's proc directory holds only magic links; neither resolution follows one.
TEST_P(RootedOpen, FollowsNoMagicLinkInsideTheRoot) {
  const UniqueFd root = open_directory("/proc/self");
  ASSERT_TRUE(root.is_open());
  // Read as text, root -> / would name the root itself, and root/comm this process's name.
  EXPECT_EQ(describe_in_root(GetParam(), root.get(), {"/root/comm", "/root/.", "/cwd", "/fd/0"}),
            std::vector<std::string>(4, "absent"));
}

}  // namespace
}  // namespace srb
