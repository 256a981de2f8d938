#include "build/copy_file.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/temp_dir.hpp"

namespace srb {
namespace {

using test::read_file;
using test::TempDir;
using test::write_file;

constexpr std::string_view kNotRegular =
    "i/o: the source path is neither a regular file nor a symlink to a regular file";

mode_t permissions_of(const std::filesystem::path& path) {
  struct stat status;
  EXPECT_EQ(::lstat(path.c_str(), &status), 0);
  return status.st_mode & 07777;
}

// Sets a umask for one test and puts the old one back.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(old_); }

 private:
  mode_t old_;
};

TEST(CopyHostFile, CopiesContentAndExactPermissionBitsDespiteTheUmask) {
  TempDir dir;
  const ScopedUmask umask(077);
  for (const mode_t mode : {mode_t{0751}, mode_t{0644}, mode_t{0400}}) {
    SCOPED_TRACE(mode);
    write_file(dir / "source", "library bytes", mode);
    ASSERT_TRUE(copy_host_file(dir / "source", dir / "copy"));
    EXPECT_EQ(read_file(dir / "copy"), "library bytes");
    EXPECT_EQ(permissions_of(dir / "copy"), mode);
  }
}

TEST(CopyHostFile, TruncatesALongerExistingDestination) {
  TempDir dir;
  write_file(dir / "source", "short");
  write_file(dir / "copy", "a much longer earlier content");
  ASSERT_TRUE(copy_host_file(dir / "source", dir / "copy"));
  EXPECT_EQ(read_file(dir / "copy"), "short");
}

TEST(CopyHostFile, CopiesEmptyLargeAndZeroSizedProcFiles) {
  TempDir dir;
  std::string large(3 * (1 << 20) + 17, '\0');
  for (std::size_t i = 0; i < large.size(); ++i)
    large[i] = static_cast<char>(i * 7 + i / 4096);
  write_file(dir / "empty", "");
  write_file(dir / "large", large);
  ASSERT_TRUE(copy_host_file(dir / "empty", dir / "empty.copy"));
  ASSERT_TRUE(copy_host_file(dir / "large", dir / "large.copy"));
  EXPECT_EQ(read_file(dir / "empty.copy"), "");
  EXPECT_EQ(read_file(dir / "large.copy"), large);
  // A proc file reports size 0 yet has content; the copy must not come out empty.
  ASSERT_TRUE(copy_host_file("/proc/version", dir / "version"));
  EXPECT_EQ(read_file(dir / "version"), read_file("/proc/version"));
}

TEST(CopyHostFile, FollowsALinkAndWritesARegularFile) {
  TempDir dir;
  write_file(dir / "target", "target bytes", 0755);
  std::filesystem::create_symlink("target", dir / "link");
  ASSERT_TRUE(copy_host_file(dir / "link", dir / "copy"));
  EXPECT_FALSE(std::filesystem::is_symlink(dir / "copy"));
  EXPECT_EQ(read_file(dir / "copy"), "target bytes");
  EXPECT_EQ(permissions_of(dir / "copy"), 0755u);
}

TEST(CopyHostFile, RefusesSourcesThatAreNotRegularFilesWithoutCreatingTheDestination) {
  TempDir dir;
  std::filesystem::create_directory(dir / "directory");
  std::filesystem::create_symlink("directory", dir / "link-to-directory");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);  // must not block the copy
  for (const char* name : {"directory", "link-to-directory", "fifo"}) {
    SCOPED_TRACE(name);
    const Result<void> copied = copy_host_file(dir / name, dir / "copy");
    ASSERT_FALSE(copied);
    EXPECT_EQ(message(copied.error()), kNotRegular);
    EXPECT_FALSE(std::filesystem::exists(dir / "copy"));
  }
}

TEST(CopyHostFile, ReportsOsErrorsWithoutPaths) {
  TempDir dir;
  write_file(dir / "source", "x");
  const Result<void> missing = copy_host_file(dir / "missing", dir / "copy");
  ASSERT_FALSE(missing);
  EXPECT_EQ(message(missing.error()), "i/o: No such file or directory (os error 2)");
  const Result<void> no_parent = copy_host_file(dir / "source", dir / "absent" / "copy");
  ASSERT_FALSE(no_parent);
  EXPECT_EQ(message(no_parent.error()), "i/o: No such file or directory (os error 2)");
}

TEST(CopyHostFile, LeavesTheSourceInPlaceWhenTheDestinationIsTheSameFile) {
  TempDir dir;
  write_file(dir / "lib.so", "precious", 0640);
  std::filesystem::create_symlink("lib.so", dir / "link.so");
  std::filesystem::create_hard_link(dir / "lib.so", dir / "hard.so");
  for (const char* destination : {"lib.so", "link.so", "hard.so"}) {
    SCOPED_TRACE(destination);
    ASSERT_TRUE(copy_host_file(dir / "lib.so", dir / destination));
    EXPECT_EQ(read_file(dir / "lib.so"), "precious");
  }
  ASSERT_TRUE(copy_host_file(dir / "link.so", dir / "lib.so"));
  EXPECT_EQ(read_file(dir / "lib.so"), "precious");
  EXPECT_EQ(permissions_of(dir / "lib.so"), 0640u);
}

}  // namespace
}  // namespace srb
