#include "build/copy_file.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/magic.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "manifest/digest.hpp"
#include "tests/support/syscall_faults.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb {
namespace {

namespace fs = std::filesystem;
using test::permissions_of;
using test::read_file;
using test::TempDir;
using test::write_file;

constexpr std::string_view kNotRegular =
    "i/o: the source path is neither a regular file nor a symlink to a regular file";

// Sets a umask for one test and puts the old one back.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(old_); }

 private:
  mode_t old_;
};

// A directory of a TempDir held open, as the build holds the bundle's directories.
class OpenDir {
 public:
  explicit OpenDir(const fs::path& path)
      : path_(path), fd_(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
  Destination at(const std::string& name) const {
    return {fd_.get(), name, (path_ / name).native(), std::nullopt, std::nullopt};
  }

 private:
  fs::path path_;
  UniqueFd fd_;
};

Result<FileDigest> copy(const fs::path& source, const Destination& destination) {
  TRY_ASSIGN(OpenedSource opened, open_host_source(source));
  return copy_opened_source(opened, destination);
}

struct stat status_of(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
  return status;
}

void make_socket(const fs::path& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ::close(fd);
}

// Whatever the umask, a copy ends with the source's bits less setuid, setgid, sticky and write
// for anyone but its owner, in the builder's group, and with the digest of what it holds.
TEST(CopyOpenedSource, CopiesContentWithItsDigestAndOnlyTheOwnersWriteBit) {
  TempDir dir;
  const OpenDir out(dir.path());
  const ScopedUmask umask(0777);
  const struct {
    mode_t source;
    mode_t copy;
  } cases[] = {{0751, 0751}, {0644, 0644},  {0400, 0400},  {0777, 0755}, {0666, 0644},
               {0620, 0600}, {04755, 0755}, {02755, 0755}, {01777, 0755}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    write_file(dir / "source", "library bytes", c.source);
    const Result<FileDigest> digest = copy(dir / "source", out.at("copy"));
    ASSERT_TRUE(digest) << message(digest.error());
    EXPECT_EQ(read_file(dir / "copy"), "library bytes");
    EXPECT_EQ(digest->hash, file_digest(dir / "source")->hash);
    EXPECT_EQ(digest->size, 13u);
    EXPECT_EQ(permissions_of(dir / "copy"), c.copy);
    EXPECT_EQ(status_of(dir / "copy").st_gid, ::getegid());
  }
}

TEST(CopyOpenedSource, CopiesEmptyAndLargeFiles) {
  TempDir dir;
  const OpenDir out(dir.path());
  std::string large(3 * (1 << 20) + 17, '\0');
  for (std::size_t i = 0; i < large.size(); ++i)
    large[i] = static_cast<char>(i * 7 + i / 4096);
  write_file(dir / "empty", "");
  write_file(dir / "large", large);
  ASSERT_TRUE(copy(dir / "empty", out.at("empty.copy")));
  const Result<FileDigest> large_digest = copy(dir / "large", out.at("large.copy"));
  ASSERT_TRUE(large_digest);
  EXPECT_EQ(read_file(dir / "empty.copy"), "");
  EXPECT_EQ(read_file(dir / "large.copy"), large);
  EXPECT_EQ(large_digest->size, large.size());
}

// The files of the kernel's pseudo file systems are made up as they are read: a process's
// environment, the map of its memory. None is a source, whatever it holds, and nothing is
// created for it.
TEST(OpenHostSource, RefusesFilesOfPseudoFileSystems) {
  TempDir dir;
  const struct {
    const char* source;
    const char* file_system;
  } cases[] = {
      {"/proc/version", "procfs"},
      {"/proc/self/environ", "procfs"},
      {"/proc/self/pagemap", "procfs"},
      {"/sys/kernel/uevent_seqnum", "sysfs"},
      {"/sys/fs/cgroup/cgroup.controllers", "cgroup2"},
  };
  int judged = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    if (::access(c.source, R_OK) != 0) continue;  // not mounted here
    const Result<OpenedSource> opened = open_host_source(c.source);
    ASSERT_FALSE(opened.has_value());
    EXPECT_EQ(message(opened.error()),
              std::string("i/o: the source path lies in a pseudo file system (") + c.file_system +
                  "), whose files the kernel makes up as they are read");
    ++judged;
  }
  EXPECT_GE(judged, 3) << "procfs is mounted wherever the tests run";
}

// Copies `source` to `destination` and returns the digest as "hash size", or the error's message.
// With `refusal` other than 0 the copy runs in a child whose copy_file_range fails with that
// error, as between two kinds of file system, or on a kernel or file system without it.
std::string copied(const fs::path& source, const Destination& destination, int refusal) {
  const auto work = [&] {
    const Result<FileDigest> digest = copy(source, destination);
    return digest ? digest->hash + " " + std::to_string(digest->size) : message(digest.error());
  };
  if (refusal == 0) return work();
  const test::SyscallFault faults[] = {{.number = SYS_copy_file_range, .error = refusal}};
  return test::run_with_faults(faults, work);
}

std::string digest_text(const fs::path& file) {
  const Result<FileDigest> digest = file_digest(file);
  return digest ? digest->hash + " " + std::to_string(digest->size) : message(digest.error());
}

// A hole in the source stays a hole in the copy: a file that is mostly holes must not turn into
// that many blocks of zeros. The content, and so the digest, is the same either way, whether the
// stretches move by copy_file_range or, where the kernel refuses it, by reads and writes.
TEST(CopyOpenedSource, KeepsHolesWhereverTheyLie) {
  TempDir dir;
  const OpenDir out(dir.path());
  constexpr off_t kSize = off_t{8} << 20;
  const struct {
    const char* name;
    std::vector<off_t> data;  // offsets of 4 KiB blocks of data
  } cases[] = {
      {"all hole", {}},
      {"data first, hole to the end", {0}},
      {"hole first, data last", {kSize - 4096}},
      {"data between holes", {off_t{2} << 20, off_t{5} << 20}},
  };
  for (const int refusal : {0, EXDEV}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (refusal != 0 ? ", by reads and writes" : ""));
      {
        const UniqueFd source(::open((dir / "sparse").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
        ASSERT_EQ(::ftruncate(source.get(), kSize), 0);
        const std::string block(4096, 'd' + static_cast<char>(refusal != 0));
        for (const off_t at : c.data)
          ASSERT_EQ(::pwrite(source.get(), block.data(), block.size(), at), 4096);
      }
      EXPECT_EQ(copied(dir / "sparse", out.at("copy"), refusal), digest_text(dir / "sparse"));
      EXPECT_EQ(read_file(dir / "copy"), read_file(dir / "sparse"));
      EXPECT_LE(status_of(dir / "copy").st_blocks * 512, 1 << 20);
    }
  }
}

// A source is copied as it was when opened and judged: what it gains afterwards, whether a hole
// of any size or appended data, adds nothing, so a source that grows while it is copied can
// neither be written dense nor make the copy run on. One that shrinks keeps what was read.
TEST(CopyOpenedSource, CopiesTheSourceAsItWasWhenOpened) {
  TempDir dir;
  const OpenDir out(dir.path());
  constexpr off_t kHole = off_t{64} << 20;
  const struct {
    const char* name;
    std::string before;
    off_t grown_to;  // a hole up to here, after the open; 0 to append instead
    std::string expected;
  } cases[] = {
      {"empty, grown into a hole", "", kHole, ""},
      {"data, grown into a hole", "abc", kHole, "abc"},
      {"data, appended to", "abc", 0, "abc"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(dir / "source", c.before);
    Result<OpenedSource> opened = open_host_source(dir / "source");
    ASSERT_TRUE(opened);
    {
      const UniqueFd grower(::open((dir / "source").c_str(), O_WRONLY | O_APPEND));
      if (c.grown_to > 0) {
        ASSERT_EQ(::ftruncate(grower.get(), c.grown_to), 0);
      } else {
        ASSERT_EQ(::write(grower.get(), "more", 4), 4);
      }
    }
    const Result<FileDigest> digest = copy_opened_source(*opened, out.at("copy"));
    ASSERT_TRUE(digest) << message(digest.error());
    EXPECT_EQ(read_file(dir / "copy"), c.expected);
    EXPECT_EQ(digest->size, c.expected.size());
    EXPECT_LE(status_of(dir / "copy").st_blocks * 512, 64 << 10);
  }
}

// Whatever way the kernel says it will not copy these files, the copy reads and writes them
// itself, across the 1 MiB pieces and the 64 KiB buffer; a real failure is an error. A copy from
// a tmpfs to the temporary directory's file system, where the kernel refuses copy_file_range
// between different kinds, goes the same way without a fault made up.
TEST(CopyOpenedSource, CopiesByReadsAndWritesWhereTheKernelRefuses) {
  TempDir dir;
  const OpenDir out(dir.path());
  std::string content(3 * (1 << 20) + 17, '\0');
  for (std::size_t i = 0; i < content.size(); ++i)
    content[i] = static_cast<char>(i * 7 + i / 4096);
  write_file(dir / "source", content);
  const struct {
    int refusal;
    std::string expected;  // empty for the source's digest
  } cases[] = {
      {EXDEV, ""},
      {ENOSYS, ""},
      {EOPNOTSUPP, ""},
      {EINVAL, ""},
      {EIO, "i/o: Input/output error (os error 5)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.refusal);
    fs::remove(dir / "copy");
    const std::string expected = c.expected.empty() ? digest_text(dir / "source") : c.expected;
    EXPECT_EQ(copied(dir / "source", out.at("copy"), c.refusal), expected);
    if (c.expected.empty()) {
      EXPECT_EQ(read_file(dir / "copy"), content);
    }
  }

  struct statfs shm {};
  if (::statfs("/dev/shm", &shm) != 0 || shm.f_type != TMPFS_MAGIC ||
      ::access("/dev/shm", W_OK) != 0)
    GTEST_SKIP() << "no writable tmpfs at /dev/shm";
  const TempDir memory(fs::path("/dev/shm"));
  if (status_of(memory.path()).st_dev == status_of(dir.path()).st_dev)
    GTEST_SKIP() << "the temporary directory is on /dev/shm's file system";
  write_file(memory / "source", content);
  fs::remove(dir / "copy");
  EXPECT_EQ(copied(memory / "source", out.at("copy"), 0), digest_text(memory / "source"));
  EXPECT_EQ(read_file(dir / "copy"), content);
}

TEST(CopyOpenedSource, FollowsALinkAtTheSourceAndWritesARegularFile) {
  TempDir dir;
  const OpenDir out(dir.path());
  write_file(dir / "target", "target bytes", 0755);
  fs::create_symlink("target", dir / "link");
  ASSERT_TRUE(copy(dir / "link", out.at("copy")));
  EXPECT_FALSE(fs::is_symlink(dir / "copy"));
  EXPECT_EQ(read_file(dir / "copy"), "target bytes");
}

TEST(OpenHostSource, RefusesWhatIsNotARegularFileWithoutBlocking) {
  TempDir dir;
  fs::create_directory(dir / "directory");
  fs::create_symlink("directory", dir / "link-to-directory");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);  // must not block the open
  for (const char* name : {"directory", "link-to-directory", "fifo"}) {
    SCOPED_TRACE(name);
    const Result<OpenedSource> opened = open_host_source(dir / name);
    ASSERT_FALSE(opened);
    EXPECT_EQ(message(opened.error()), kNotRegular);
  }
  const Result<OpenedSource> missing = open_host_source(dir / "missing");
  ASSERT_FALSE(missing);
  EXPECT_EQ(message(missing.error()), "i/o: No such file or directory (os error 2)");
}

// Whatever stands at the destination, a regular file is replaced and never written into, so
// another name of it keeps its content; anything a write could go through or block on is refused
// and left as it is.
TEST(CopyOpenedSource, ReplacesRegularFilesAndRefusesLinksAndSpecialFiles) {
  TempDir dir;
  const OpenDir out(dir.path());
  write_file(dir / "source", "new bytes");
  write_file(dir / "victim", "victim bytes", 0644);

  fs::create_hard_link(dir / "victim", dir / "hard");
  write_file(dir / "read-only", "an earlier, longer copy", 0444);
  for (const char* name : {"hard", "read-only"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(copy(dir / "source", out.at(name)));
    EXPECT_EQ(read_file(dir / name), "new bytes");
  }
  EXPECT_EQ(read_file(dir / "victim"), "victim bytes");
  EXPECT_EQ(fs::hard_link_count(dir / "victim"), 1u);

  fs::create_symlink("victim", dir / "link");
  fs::create_symlink("nowhere", dir / "dangling");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
  make_socket(dir / "socket");
  for (const char* name : {"link", "dangling", "fifo", "socket"}) {
    SCOPED_TRACE(name);
    const Result<FileDigest> written = copy(dir / "source", out.at(name));
    ASSERT_FALSE(written);
    EXPECT_EQ(message(written.error()),
              "bundle destination is a symbolic link or special file: " + (dir / name).string());
  }
  EXPECT_EQ(read_file(dir / "victim"), "victim bytes");
  EXPECT_FALSE(fs::exists(dir / "nowhere"));
  EXPECT_EQ(fs::status(dir / "fifo").type(), fs::file_type::fifo);

  fs::create_directory(dir / "directory");
  const Result<FileDigest> on_directory = copy(dir / "source", out.at("directory"));
  ASSERT_FALSE(on_directory);
  EXPECT_EQ(message(on_directory.error()), "i/o: Is a directory (os error 21)");
}

// A source that already is the destination (a rebuild from inside the bundle) keeps its content
// and its bits, and is digested as it stands; a link to the source is no such file and is
// refused.
TEST(CopyOpenedSource, LeavesTheSourceInPlaceOnlyWhenTheDestinationIsTheSameRegularFile) {
  TempDir dir;
  const OpenDir out(dir.path());
  write_file(dir / "lib.so", "precious", 04750);
  fs::create_hard_link(dir / "lib.so", dir / "hard.so");
  fs::create_symlink("lib.so", dir / "link.so");
  for (const char* destination : {"lib.so", "hard.so"}) {
    SCOPED_TRACE(destination);
    const Result<FileDigest> digest = copy(dir / "lib.so", out.at(destination));
    ASSERT_TRUE(digest);
    EXPECT_EQ(digest->hash, file_digest(dir / "lib.so")->hash);
    EXPECT_EQ(read_file(dir / "lib.so"), "precious");
    EXPECT_EQ(permissions_of(dir / "lib.so"), 04750u);
  }
  const Result<FileDigest> through_link = copy(dir / "lib.so", out.at("link.so"));
  ASSERT_FALSE(through_link);
  EXPECT_EQ(message(through_link.error()),
            "bundle destination is a symbolic link or special file: " + (dir / "link.so").string());
  EXPECT_EQ(read_file(dir / "lib.so"), "precious");
}

// Until the copy is closed, whatever takes its place at the name is noticed: the digest read
// through the copy's descriptor would otherwise be listed, and signed, for another file. Such a
// file is left as it is.
TEST(FinishCopy, RefusesANameThatNoLongerShowsTheCopy) {
  TempDir dir;
  const OpenDir out(dir.path());
  const struct {
    const char* name;
    void (*replace)(const fs::path&, const fs::path&);
  } cases[] = {
      {"removed and made again, same content",
       [](const fs::path&, const fs::path& copy) {
         fs::remove(copy);
         write_file(copy, "genuine", 0755);
       }},
      {"another file renamed over it",
       [](const fs::path& d, const fs::path& copy) {
         write_file(d / "evil", "EVIL", 0755);
         fs::rename(d / "evil", copy);
       }},
      {"fifo",
       [](const fs::path&, const fs::path& copy) {
         fs::remove(copy);
         ASSERT_EQ(::mkfifo(copy.c_str(), 0666), 0);
       }},
      {"link to the copy's own new name",
       [](const fs::path& d, const fs::path& copy) {
         fs::rename(copy, d / "moved");
         fs::create_symlink("moved", copy);
       }},
      {"removed", [](const fs::path&, const fs::path& copy) { fs::remove(copy); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Result<OpenCopy> created = create_copy(out.at("copy"), std::nullopt);
    ASSERT_TRUE(created) << message(created.error());
    ASSERT_TRUE(write_all(created->fd.get(), "genuine"));
    c.replace(dir.path(), dir / "copy");
    struct stat before {};
    const bool present = ::lstat((dir / "copy").c_str(), &before) == 0;
    const Result<FileDigest> finished = finish_copy(std::move(*created), out.at("copy"), 0755);
    ASSERT_FALSE(finished);
    EXPECT_EQ(message(finished.error()),
              "bundle file changed during the build: " + (dir / "copy").string());
    if (present) {
      EXPECT_EQ(status_of(dir / "copy").st_mode, before.st_mode);
    }
    fs::remove(dir / "copy");
    fs::remove(dir / "moved");
  }
  Result<OpenCopy> created = create_copy(out.at("copy"), std::nullopt);
  ASSERT_TRUE(created);
  ASSERT_TRUE(write_all(created->fd.get(), "genuine"));
  const Result<FileDigest> finished = finish_copy(std::move(*created), out.at("copy"), 0751);
  ASSERT_TRUE(finished) << message(finished.error());
  EXPECT_EQ(finished->size, 7u);
  EXPECT_EQ(permissions_of(dir / "copy"), 0751u);
}

}  // namespace
}  // namespace srb
