#include "build/copy_file.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "manifest/digest.hpp"
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
  Destination at(const std::string& name) const { return {fd_.get(), name, path_ / name}; }

 private:
  fs::path path_;
  UniqueFd fd_;
};

Result<WrittenFile> copy(const fs::path& source, const Destination& destination) {
  TRY_ASSIGN(OpenedSource opened, open_host_source(source));
  return copy_opened_source(opened, destination);
}

// The digest step in small: reopen, check, give the final bits.
Result<void> reopen_and_seal(const Destination& destination, const WrittenFile& written) {
  TRY_ASSIGN(const UniqueFd fd, reopen_written_file(destination, written));
  return seal_written_file(fd.get(), written);
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

// The copy stays private until digested; then it gets the permission bits of the source only.
TEST(CopyOpenedSource, CopiesContentPrivatelyAndSealsWithPermissionBitsOnly) {
  TempDir dir;
  const OpenDir out(dir.path());
  const ScopedUmask umask(0777);
  const struct {
    mode_t source;
    mode_t sealed;
  } cases[] = {{0751, 0751},  {0644, 0644},  {0400, 0400},
               {04755, 0755}, {02755, 0755}, {01777, 0777}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    write_file(dir / "source", "library bytes", c.source);
    const Result<WrittenFile> written = copy(dir / "source", out.at("copy"));
    ASSERT_TRUE(written) << message(written.error());
    EXPECT_EQ(read_file(dir / "copy"), "library bytes");
    EXPECT_EQ(permissions_of(dir / "copy"), 0600u);
    ASSERT_TRUE(reopen_and_seal(out.at("copy"), *written));
    EXPECT_EQ(permissions_of(dir / "copy"), c.sealed);
  }
}

TEST(CopyOpenedSource, CopiesEmptyLargeAndZeroSizedProcFiles) {
  TempDir dir;
  const OpenDir out(dir.path());
  std::string large(3 * (1 << 20) + 17, '\0');
  for (std::size_t i = 0; i < large.size(); ++i)
    large[i] = static_cast<char>(i * 7 + i / 4096);
  write_file(dir / "empty", "");
  write_file(dir / "large", large);
  ASSERT_TRUE(copy(dir / "empty", out.at("empty.copy")));
  ASSERT_TRUE(copy(dir / "large", out.at("large.copy")));
  EXPECT_EQ(read_file(dir / "empty.copy"), "");
  EXPECT_EQ(read_file(dir / "large.copy"), large);
  // A proc file reports size 0 yet has content; the copy must not come out empty.
  ASSERT_TRUE(copy("/proc/version", out.at("version")));
  EXPECT_EQ(read_file(dir / "version"), read_file("/proc/version"));
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
    const Result<WrittenFile> written = copy(dir / "source", out.at(name));
    ASSERT_FALSE(written);
    EXPECT_EQ(message(written.error()),
              "bundle destination is a symbolic link or special file: " + (dir / name).string());
  }
  EXPECT_EQ(read_file(dir / "victim"), "victim bytes");
  EXPECT_FALSE(fs::exists(dir / "nowhere"));
  EXPECT_EQ(fs::status(dir / "fifo").type(), fs::file_type::fifo);

  fs::create_directory(dir / "directory");
  const Result<WrittenFile> on_directory = copy(dir / "source", out.at("directory"));
  ASSERT_FALSE(on_directory);
  EXPECT_EQ(message(on_directory.error()), "i/o: Is a directory (os error 21)");
}

// A source that already is the destination (a rebuild from inside the bundle) keeps its content
// and its bits; a link to the source is no such file and is refused.
TEST(CopyOpenedSource, LeavesTheSourceInPlaceOnlyWhenTheDestinationIsTheSameRegularFile) {
  TempDir dir;
  const OpenDir out(dir.path());
  write_file(dir / "lib.so", "precious", 04750);
  fs::create_hard_link(dir / "lib.so", dir / "hard.so");
  fs::create_symlink("lib.so", dir / "link.so");
  for (const char* destination : {"lib.so", "hard.so"}) {
    SCOPED_TRACE(destination);
    const Result<WrittenFile> written = copy(dir / "lib.so", out.at(destination));
    ASSERT_TRUE(written);
    EXPECT_FALSE(written->final_mode);
    ASSERT_TRUE(reopen_and_seal(out.at(destination), *written));
    EXPECT_EQ(read_file(dir / "lib.so"), "precious");
    EXPECT_EQ(permissions_of(dir / "lib.so"), 04750u);
  }
  const Result<WrittenFile> through_link = copy(dir / "lib.so", out.at("link.so"));
  ASSERT_FALSE(through_link);
  EXPECT_EQ(message(through_link.error()),
            "bundle destination is a symbolic link or special file: " + (dir / "link.so").string());
  EXPECT_EQ(read_file(dir / "lib.so"), "precious");
}

// Between the copy and its digest, whatever takes the copy's place is noticed; nothing opened
// for the check may block or read a device.
TEST(ReopenWrittenFile, RefusesAnythingButTheFileTheCopyWrote) {
  TempDir dir;
  const OpenDir out(dir.path());
  write_file(dir / "source", "genuine");
  write_file(dir / "evil", "EVIL");
  const struct {
    const char* name;
    void (*replace)(const fs::path&, const fs::path&);
  } cases[] = {
      {"same content, another file",
       [](const fs::path& d, const fs::path& copy) {
         write_file(d / "twin", "genuine");
         fs::rename(d / "twin", copy);
       }},
      {"other content",
       [](const fs::path& d, const fs::path& copy) { fs::rename(d / "evil", copy); }},
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
      {"link to a device",
       [](const fs::path&, const fs::path& copy) {
         fs::remove(copy);
         fs::create_symlink("/dev/zero", copy);
       }},
      {"removed", [](const fs::path&, const fs::path& copy) { fs::remove(copy); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(dir / "evil", "EVIL");
    const Result<WrittenFile> written = copy(dir / "source", out.at("copy"));
    ASSERT_TRUE(written) << message(written.error());
    c.replace(dir.path(), dir / "copy");
    const Result<UniqueFd> reopened = reopen_written_file(out.at("copy"), *written);
    ASSERT_FALSE(reopened);
    EXPECT_EQ(message(reopened.error()),
              "bundle file changed during the build: " + (dir / "copy").string());
    fs::remove(dir / "copy");
    fs::remove(dir / "moved");
  }
  const Result<WrittenFile> written = copy(dir / "source", out.at("copy"));
  ASSERT_TRUE(written);
  const Result<UniqueFd> reopened = reopen_written_file(out.at("copy"), *written);
  ASSERT_TRUE(reopened);
  const Result<FileDigest> digest = descriptor_digest(reopened->get());
  ASSERT_TRUE(digest);
  EXPECT_EQ(digest->size, 7u);
}

}  // namespace
}  // namespace srb
