#include "verify/payload_listing.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "core/error.hpp"
#include "core/unique_fd.hpp"
#include "tests/support/bundle_fixture.hpp"
#include "tests/support/descriptor_limit.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::write_file;

// The entries listed below the directory `root`, opened as verify opens a bundle.
Result<std::vector<std::string>> list(const fs::path& root) {
  const UniqueFd fd(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!fd.is_open()) return Io{last_os_error()};
  TRY_ASSIGN(PayloadListing listing, collect_payload(fd.get()));
  return std::move(listing.entries);
}

void bind_socket(const fs::path& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.native().size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, path.c_str());
  EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(fd);
}

TEST(CollectPayload, ListsEveryEntryButDirectoriesWithoutFollowingLinks) {
  const TempDir temp;
  const fs::path root = temp / "bundle";
  write_file(root / "bundle.toml", "");
  write_file(root / "lib/libc.so.6", "libc");
  write_file(root / "lib/sub/dir/ld.so", "ld");
  fs::create_directories(root / "lib/empty/too");
  fs::create_symlink("libc.so.6", root / "lib/to-file");
  fs::create_symlink("sub", root / "lib/to-dir");
  fs::create_symlink("nowhere", root / "lib/dangling");
  ASSERT_EQ(::mkfifo((root / "lib/fifo").c_str(), 0644), 0);
  bind_socket(root / "lib/sock");
  write_file(root / "lib/back\\slash", "");
  write_file(root / "lib/bad\xff\xfe name", "");

  const Result<std::vector<std::string>> listing = list(root);
  ASSERT_TRUE(listing.has_value()) << message(listing.error());
  const std::vector<std::string> expected = {
      "bundle.toml",  "lib/back/slash",    "lib/bad\xef\xbf\xbd\xef\xbf\xbd name",
      "lib/dangling", "lib/fifo",          "lib/libc.so.6",
      "lib/sock",     "lib/sub/dir/ld.so", "lib/to-dir",
      "lib/to-file",
  };
  EXPECT_EQ(*listing, expected);
}

// A file named "a\\b" beside a directory "a" holding "b", and two names whose invalid bytes both
// become U+FFFD: each location is listed once, in byte order, whatever order the directory reads.
TEST(CollectPayload, ListsALocationOnceWhenTwoEntriesMapToIt) {
  const TempDir temp;
  const fs::path root = temp / "bundle";
  write_file(root / "a\\b", "");
  write_file(root / "a/b", "");
  write_file(root / "x\xfe", "");
  write_file(root / "x\xff", "");
  write_file(root / "Z", "");

  const Result<std::vector<std::string>> listing = list(root);
  ASSERT_TRUE(listing.has_value()) << message(listing.error());
  EXPECT_EQ(*listing, (std::vector<std::string>{"Z", "a/b", "x\xef\xbf\xbd"}));
}

TEST(CollectPayload, FailsWhenTheRootCannotBeListed) {
  const TempDir temp;
  write_file(temp / "file", "");
  const UniqueFd file(::open((temp / "file").c_str(), O_PATH | O_CLOEXEC));
  const struct {
    int root;
    std::string message;
  } cases[] = {
      {file.get(), "i/o: Not a directory (os error 20)"},
      {-1, "i/o: Bad file descriptor (os error 9)"},
  };
  for (const auto& c : cases) {
    const Result<PayloadListing> listing = collect_payload(c.root);
    ASSERT_FALSE(listing.has_value());
    EXPECT_EQ(message(listing.error()), c.message);
  }
}

// Each directory walked is recorded as it was opened, the root first, under the location the
// listing gives its entries; empty ones included, though they list nothing.
TEST(CollectPayload, RecordsEveryDirectoryItWalked) {
  const TempDir temp;
  write_file(temp / "lib/sub/f", "");
  fs::create_directories(temp / "etc/empty");
  const UniqueFd root(::open(temp.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  const Result<PayloadListing> listing = collect_payload(root.get());
  ASSERT_TRUE(listing.has_value()) << message(listing.error());
  std::vector<std::string> paths;
  for (const CheckedDirectory& directory : listing->directories) {
    paths.push_back(directory.path);
    struct stat status {};
    ASSERT_EQ(::lstat((temp / directory.path).c_str(), &status), 0) << directory.path;
    EXPECT_EQ(directory.status.device, status.st_dev);
    EXPECT_EQ(directory.status.inode, status.st_ino);
    EXPECT_EQ(directory.status.mode, status.st_mode);
    EXPECT_EQ(directory.status.owner, status.st_uid);
  }
  ASSERT_FALSE(paths.empty());
  EXPECT_EQ(paths.front(), "");
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ(paths, (std::vector<std::string>{"", "etc", "etc/empty", "lib", "lib/sub"}));
}

// 5,000 levels make a path of 10,000 bytes, beyond PATH_MAX, and more directories than the
// lowered descriptor limit: a walk holding one descriptor per level runs out.
TEST(CollectPayload, WalksATreeDeeperThanPathsAndDescriptorsReach) {
  const TempDir temp = test::deep_tree_temp_dir();
  const test::DeepChain chain(temp.path(), 5000);
  Result<std::vector<std::string>> listing = std::vector<std::string>{};
  {
    const test::DescriptorLimit limit(64);
    listing = list(temp.path());
  }
  ASSERT_TRUE(listing.has_value()) << message(listing.error());
  EXPECT_EQ(*listing, std::vector<std::string>{chain.leaf_path()});
}

// Every level holds the next level between two side directories with one file each, so the
// walk must come back to outer levels after going deep, whichever order the directory returns.
// Long names push those levels beyond PATH_MAX.
class Comb {
 public:
  Comb(const fs::path& root, int depth) : root_(root) {
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; level < depth; ++level) {
      for (const std::string& name : {std::string("a"), kNext, std::string("z")}) {
        EXPECT_EQ(::mkdirat(fd, name.c_str(), 0755), 0);
        if (name != kNext) ::close(::openat(fd, (name + "/f").c_str(), O_CREAT | O_WRONLY, 0644));
      }
      for (const char* side : {"a/f", "z/f"})
        keys_.push_back(prefix_ + side);
      const int next = ::openat(fd, kNext.c_str(), O_RDONLY | O_DIRECTORY);
      ::close(fd);
      fd = next;
      prefix_ += kNext + "/";
    }
    ::close(fd);
  }
  ~Comb() {
    const int fd = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY);
    remove_below(fd);
    ::close(fd);
  }
  const std::vector<std::string>& keys() const { return keys_; }

 private:
  static void remove_below(int fd) {
    ::unlinkat(fd, "a/f", 0);
    ::unlinkat(fd, "z/f", 0);
    const int next = ::openat(fd, kNext.c_str(), O_RDONLY | O_DIRECTORY);
    if (next >= 0) {
      remove_below(next);
      ::close(next);
    }
    for (const std::string& name : {std::string("a"), kNext, std::string("z")})
      ::unlinkat(fd, name.c_str(), AT_REMOVEDIR);
  }

  static inline const std::string kNext = std::string(200, 'n');
  fs::path root_;
  std::string prefix_;
  std::vector<std::string> keys_;
};

TEST(CollectPayload, ReturnsToOuterLevelsBeyondPathMax) {
  const TempDir temp;
  const Comb comb(temp.path(), 40);
  std::vector<std::string> expected = comb.keys();
  std::sort(expected.begin(), expected.end());
  const Result<std::vector<std::string>> listing = list(temp.path());
  ASSERT_TRUE(listing.has_value()) << message(listing.error());
  EXPECT_EQ(*listing, expected);
  // With room for only a few descriptors beyond those open now, the walk closes outer levels
  // early and comes back to them all the same.
  Result<std::vector<std::string>> scarce = std::vector<std::string>{};
  {
    const test::DescriptorLimit limit(test::DescriptorLimit::open_now() + 3);
    scarce = list(temp.path());
  }
  ASSERT_TRUE(scarce.has_value()) << message(scarce.error());
  EXPECT_EQ(*scarce, expected);
}

}  // namespace
}  // namespace srb
