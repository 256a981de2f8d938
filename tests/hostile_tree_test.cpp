// Trees that another user (uid 65534) prepared and changes while root works on them: a directory
// of a bundle swapped for a link in the middle of verify's listing, a sysroot source grown into a
// huge hole in the middle of its copy, and the running system's /proc mounted inside a sysroot.
// Each change is made while the tool waits in the system call it must come before (a seccomp
// hook), so the window an attacker would have to hit by luck is hit on purpose.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "manifest/manifest.hpp"
#include "tests/support/bundle_fixture.hpp"
#include "tests/support/process.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb::test {
namespace {

namespace fs = std::filesystem;

void chown_tree(const fs::path& root, uid_t uid) {
  ASSERT_EQ(::lchown(root.c_str(), uid, uid), 0);
  for (const auto& entry : fs::recursive_directory_iterator(root))
    ASSERT_EQ(::lchown(entry.path().c_str(), uid, uid), 0) << entry.path();
}

class HostileTree : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to work on files another user prepared";
    fs::permissions(temp_.path(), fs::perms(0755));
    theirs_ = make_other_users_directory(temp_.path());
  }

  TempDir temp_;
  fs::path theirs_;
};

// The payload listing keeps only the innermost directories open and comes back to outer ones
// by opening them again. Here x/v is closed while the walk is deep in one of its subdirectories;
// at the moment the walk opens the deepest directory there, the owner swaps x for a link to a
// directory only root may read, whose v holds secrets under both names, and puts x back when the
// listed files are read. Coming back to x/v must not list the secrets (an unguarded reopen named
// them as unlisted files): the directory reached must be the one first opened, else the listing
// fails. The tool waits in its open while the swap is made (a seccomp hook), so every run races
// exactly at that moment.
TEST_F(HostileTree, ADirectorySwappedForALinkDuringTheListingNamesNothingOutside) {
  constexpr int kRuns = 30;
  constexpr int kDepth = 20;  // deeper than the directories the listing keeps open
  const fs::path secret = temp_ / "secret";
  write_file(secret / "v/a/0TOPSECRET-a.key", "secret");
  write_file(secret / "v/b/0TOPSECRET-b.key", "secret");
  fs::permissions(secret, fs::perms(0700));

  const fs::path bundle = theirs_ / "bundle";
  BundleParts parts;
  parts.files.push_back({"0first", "read first"});
  for (const std::string side : {"a", "b"}) {
    std::string chain = "x/v/" + side;
    for (int level = 1; level <= kDepth; ++level)
      chain += "/" + std::to_string(level);
    parts.files.push_back({chain + "/f", side});
  }
  make_bundle(bundle, parts);
  chown_tree(bundle, kOtherUser);

  const auto swap_in_link = [&] {
    with_file_rights_of(kOtherUser, kOtherUser, [&] {
      fs::rename(bundle / "x", bundle / "x.real");
      fs::create_directory_symlink(secret, bundle / "x");
    });
  };
  const auto put_back = [&] {
    with_file_rights_of(kOtherUser, kOtherUser, [&] {
      if (!fs::exists(bundle / "x.real")) return;
      fs::remove(bundle / "x");
      fs::rename(bundle / "x.real", bundle / "x");
    });
  };
  RunOptions options;
  options.faults = {{.number = SYS_openat, .path = std::to_string(kDepth), .before = swap_in_link},
                    {.number = SYS_openat, .path = "0first", .before = put_back}};
  for (int run = 0; run < kRuns; ++run) {
    SCOPED_TRACE(run);
    const ProcessResult r = run_tool({"verify", bundle.string()}, options);
    put_back();
    EXPECT_EQ(r.actions_run, 1) << "the swap must come while the walk is deep below x/v";
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              "sarn-runtime-bundle verify: i/o: a directory of the bundle was replaced while it "
              "was listed\n");
    EXPECT_EQ(r.status, 1);
  }
  // Untouched, the same bundle verifies.
  EXPECT_EQ(run_tool({"verify", bundle.string()}).status, 0);
}

// A sysroot source that is empty when opened and grown into a hole of 128 MiB right after, when
// the build creates its copy: the copy takes what the source held when it was opened and judged,
// so it stays empty and the disk is not filled with zeros (an unguarded copy streamed the source
// to its new end).
TEST_F(HostileTree, ASourceGrownIntoAHoleWhileCopiedIsNotWrittenDense) {
  constexpr off_t kHole = off_t{128} << 20;
  const fs::path root = theirs_ / "root";
  make_host_root(root, {"/lib64/ld-linux-x86-64.so.2"});
  write_file(root / "lib64/libc.so.6", "");
  chown_tree(root, kOtherUser);
  const auto grow = [&] {
    with_file_rights_of(kOtherUser, kOtherUser, [&] {
      ASSERT_EQ(::truncate((root / "lib64/libc.so.6").c_str(), kHole), 0);
    });
  };
  RunOptions options;
  // The copy is created (openat with O_CREAT) after the source was opened and its status read.
  options.faults = {{.number = SYS_openat, .path = "libc.so.6", .before = grow}};
  const fs::path out = temp_ / "out";
  const ProcessResult r = run_tool({"build", "--version", "1.0", "--out", out.string(), "--from",
                                    root.string(), "--arch", "x86_64"},
                                   options);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.actions_run, 1);
  EXPECT_EQ(fs::file_size(root / "lib64/libc.so.6"), static_cast<std::uintmax_t>(kHole));
  struct stat copy {};
  ASSERT_EQ(::stat((out / "lib/lib64/libc.so.6").c_str(), &copy), 0);
  EXPECT_EQ(copy.st_size, 0);
  EXPECT_LE(copy.st_blocks * 512, 64 << 10);
}

// With the running system's proc mounted inside a sysroot, as in a chroot in use, table entries
// that link to /proc/self/environ or /proc/self/pagemap would copy the builder's environment or
// stream the map of its memory. Both are refused before a byte is read, and nothing is copied.
TEST_F(HostileTree, AProcFileSystemInsideTheSysrootIsNoSource) {
  const struct {
    const char* entry;
    const char* target;
  } cases[] = {
      {"lib64/ld-linux-x86-64.so.2", "/proc/self/pagemap"},
      {"lib64/libc.so.6", "/proc/self/environ"},
      {"lib/x86_64-linux-gnu/libc.so.6", "../../proc/self/environ"},
  };
  int run = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry);
    const fs::path root = theirs_ / ("root" + std::to_string(run));
    const fs::path out = temp_ / ("out" + std::to_string(run++));
    make_host_root(root, {"/etc/ld.so.cache"});
    fs::create_directories(root / "proc");
    fs::create_directories((root / c.entry).parent_path());
    fs::create_symlink(c.target, root / c.entry);
    chown_tree(root, kOtherUser);
    if (::mount("proc", (root / "proc").c_str(), "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC,
                nullptr) != 0)
      GTEST_SKIP() << "cannot mount a proc file system here: " << std::strerror(errno);
    const ProcessResult r = run_tool({"build", "--version", "1.0", "--out", out.string(), "--from",
                                      root.string(), "--arch", "x86_64"});
    ::umount2((root / "proc").c_str(), MNT_DETACH);
    EXPECT_EQ(r.err,
              "sarn-runtime-bundle build: i/o: the source path lies in a pseudo file system "
              "(procfs), whose files the kernel makes up as they are read\n");
    EXPECT_EQ(r.status, 1);
    for (const auto& entry : fs::recursive_directory_iterator(out))
      EXPECT_TRUE(entry.is_directory()) << entry.path() << " was copied";
  }
}

}  // namespace
}  // namespace srb::test
