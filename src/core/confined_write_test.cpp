#include "core/confined_write.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/temp_dir.hpp"

namespace srb {
namespace {

namespace fs = std::filesystem;
using test::read_file;
using test::TempDir;
using test::write_file;

UniqueFd open_directory(const fs::path& path) {
  return UniqueFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

std::string unsafe(const std::string& path) {
  return "bundle destination is a symbolic link or special file: " + path;
}

TEST(MakeDirectoriesBelow, CreatesMissingLevelsAndEntersExistingOnes) {
  TempDir dir;
  fs::create_directories(dir / "out/lib");
  const UniqueFd out = open_directory(dir / "out");
  const Result<UniqueFd> made =
      make_directories_below(out.get(), "lib/lib/x86_64-linux-gnu", "out");
  ASSERT_TRUE(made) << message(made.error());
  EXPECT_TRUE(fs::is_directory(dir / "out/lib/lib/x86_64-linux-gnu"));
  // The descriptor is the innermost directory.
  ASSERT_EQ(::mkdirat(made->get(), "probe", 0700), 0);
  EXPECT_TRUE(fs::is_directory(dir / "out/lib/lib/x86_64-linux-gnu/probe"));
  EXPECT_TRUE(make_directories_below(out.get(), "lib/lib", "out"));
}

// The error names the entry that is in the way, out as the caller shows it joined with the part
// of the path walked so far; nothing is created beyond it or through it.
TEST(MakeDirectoriesBelow, RefusesLinksAndNonDirectoriesOnTheWay) {
  TempDir dir;
  fs::create_directories(dir / "out/lib");
  fs::create_directory(dir / "elsewhere");
  fs::create_directory_symlink(dir / "elsewhere", dir / "out/lib/lib64");
  fs::create_symlink("nowhere", dir / "out/dangling");
  fs::create_directory_symlink("lib", dir / "out/relative");
  write_file(dir / "out/file", "x");
  ASSERT_EQ(::mkfifo((dir / "out/lib/fifo").c_str(), 0644), 0);
  const UniqueFd out = open_directory(dir / "out");
  const struct {
    const char* relative;
    std::string message;
  } cases[] = {
      {"lib/lib64", unsafe("/tmp/b/lib/lib64")},
      {"lib/lib64/deeper", unsafe("/tmp/b/lib/lib64")},
      {"dangling/x", unsafe("/tmp/b/dangling")},
      {"relative", unsafe("/tmp/b/relative")},
      {"file/x", "i/o: Not a directory (os error 20)"},
      {"lib/fifo", "i/o: Not a directory (os error 20)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.relative);
    const Result<UniqueFd> made = make_directories_below(out.get(), c.relative, "/tmp/b/");
    ASSERT_FALSE(made);
    EXPECT_EQ(message(made.error()), c.message);
  }
  EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
  EXPECT_FALSE(fs::exists(dir / "out/nowhere"));
}

TEST(WriteFreshFile, CreatesWithTheModeAndReplacesWithoutWritingIntoTheOldFile) {
  TempDir dir;
  const UniqueFd out = open_directory(dir.path());
  const mode_t old_umask = ::umask(022);
  ASSERT_TRUE(write_fresh_file(out.get(), "new", "text", 0666, dir / "new"));
  ::umask(old_umask);
  EXPECT_EQ(read_file(dir / "new"), "text");
  EXPECT_EQ(fs::status(dir / "new").permissions(), fs::perms(0644));

  write_file(dir / "victim", "victim bytes", 0444);
  fs::create_hard_link(dir / "victim", dir / "hard");
  ASSERT_TRUE(write_fresh_file(out.get(), "hard", "short", 0666, dir / "hard"));
  EXPECT_EQ(read_file(dir / "hard"), "short");
  EXPECT_EQ(read_file(dir / "victim"), "victim bytes");
}

TEST(WriteFreshFile, RefusesLinksSpecialFilesAndDirectoriesLeavingThemAsTheyAre) {
  TempDir dir;
  write_file(dir / "victim", "victim bytes");
  fs::create_symlink(dir / "victim", dir / "link");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);  // must neither block nor be removed
  fs::create_directory(dir / "directory");
  const UniqueFd out = open_directory(dir.path());
  const struct {
    const char* name;
    std::string message;
  } cases[] = {
      {"link", unsafe("shown/link")},
      {"fifo", unsafe("shown/fifo")},
      {"directory", "i/o: Is a directory (os error 21)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Result<void> written =
        write_fresh_file(out.get(), c.name, "text", 0666, fs::path("shown") / c.name);
    ASSERT_FALSE(written);
    EXPECT_EQ(message(written.error()), c.message);
  }
  EXPECT_EQ(read_file(dir / "victim"), "victim bytes");
  EXPECT_TRUE(fs::is_symlink(dir / "link"));
  EXPECT_EQ(fs::status(dir / "fifo").type(), fs::file_type::fifo);
}

TEST(MakeAndOpenDirectory, CreatesAncestorsFollowsLinksAndRefusesAFile) {
  TempDir dir;
  fs::create_directory(dir / "real");
  fs::create_directory_symlink("real", dir / "link");
  ASSERT_TRUE(make_and_open_directory(dir / "link/a/b"));
  EXPECT_TRUE(fs::is_directory(dir / "real/a/b"));
  write_file(dir / "file", "x");
  fs::create_symlink("nowhere", dir / "dangling");
  const struct {
    const char* directory;
    const char* message;
  } refused[] = {{"file", "i/o: Not a directory (os error 20)"},
                 {"file/x", "i/o: Not a directory (os error 20)"},
                 {"dangling", "i/o: File exists (os error 17)"}};
  for (const auto& c : refused) {
    SCOPED_TRACE(c.directory);
    const Result<UniqueFd> made = make_and_open_directory(dir / c.directory);
    ASSERT_FALSE(made);
    EXPECT_EQ(message(made.error()), c.message);
  }
  EXPECT_FALSE(fs::exists(dir / "nowhere"));
}

// A setgid directory of another group hands what is created in it that group, and a directory
// its setgid bit too; with umask 0 a directory would be writable by all. What is created here
// takes the process's group and is at most 0755; what existed keeps what it had.
TEST(ConfinedWrite, WhatIsCreatedHasTheProcesssGroupAndNoWriteForOthers) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a directory another group";
  TempDir dir;
  constexpr gid_t kOtherGroup = 65534;
  fs::create_directory(dir / "shared");
  ASSERT_EQ(::chown((dir / "shared").c_str(), 0, kOtherGroup), 0);
  ASSERT_EQ(::chmod((dir / "shared").c_str(), 02777), 0);
  const mode_t old_umask = ::umask(0);
  const UniqueFd shared = open_directory(dir / "shared");
  ASSERT_TRUE(make_directories_below(shared.get(), "below/deeper", "shown"));
  ASSERT_TRUE(make_and_open_directory(dir / "shared/ancestor/out"));
  ASSERT_TRUE(write_fresh_file(shared.get(), "file", "text", 0644, "shown/file"));
  ::umask(old_umask);
  const struct {
    const char* created;
    mode_t bits;
  } cases[] = {{"below", 0755},
               {"below/deeper", 0755},
               {"ancestor", 0755},
               {"ancestor/out", 0755},
               {"file", 0644}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.created);
    struct stat status;
    ASSERT_EQ(::lstat((dir / "shared" / c.created).c_str(), &status), 0);
    EXPECT_EQ(status.st_gid, ::getegid());
    EXPECT_EQ(status.st_mode & 07777, c.bits);
  }
  struct stat shared_status;
  ASSERT_EQ(::stat((dir / "shared").c_str(), &shared_status), 0);
  EXPECT_EQ(shared_status.st_gid, kOtherGroup);
  EXPECT_EQ(shared_status.st_mode & 07777, 02777u);
}

}  // namespace
}  // namespace srb
