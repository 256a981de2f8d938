#include "verify/listed_file.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "core/error.hpp"
#include "manifest/digest.hpp"
#include "tests/support/syscall_faults.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb {
namespace {

namespace fs = std::filesystem;

// The table runs with openat2 as this kernel offers it, and with openat2 refused as an older
// kernel or a system-call filter would refuse it, so that the resolution by hand judges alike.
class OpenListedFile : public ::testing::TestWithParam<test::Openat2> {};
INSTANTIATE_TEST_SUITE_P(Openat2, OpenListedFile,
                         ::testing::Values(test::Openat2::offered, test::Openat2::refused),
                         [](const auto& info) {
                           return info.param == test::Openat2::offered ? "offered" : "refused";
                         });

enum class Judged { regular, not_regular, missing };

std::string to_text(Judged judged) {
  switch (judged) {
    case Judged::regular:
      return "regular";
    case Judged::not_regular:
      return "not regular";
    case Judged::missing:
      return "missing";
  }
  return "?";
}

UniqueFd open_directory(const fs::path& dir) {
  return UniqueFd(::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

Judged judge(int bundle, const std::string& path) {
  Result<OpenedListedFile> opened = open_listed_file(bundle, path);
  if (opened) {
    EXPECT_TRUE(opened->fd.is_open());
    return Judged::regular;
  }
  if (std::holds_alternative<NotRegularFile>(opened.error())) return Judged::not_regular;
  EXPECT_TRUE(std::holds_alternative<MissingFromPayload>(opened.error()))
      << message(opened.error());
  return Judged::missing;
}

void make_socket(const fs::path& path) {
  const UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
}

// Each case is what a bundle could hold, or a swap could leave, at a listed path. A FIFO without
// a writer would block a plain open for ever, /dev/zero would never end, and /etc/shadow must not
// be read: all must be refused at once. A final link is not a regular file unless it leads
// nowhere; a path that leads out of the bundle finds nothing.
TEST_P(OpenListedFile, JudgesWhatItOpensAndStaysInsideTheBundle) {
  const test::TempDir temp;
  const fs::path bundle = temp / "bundle";
  test::write_file(bundle / "real/lib/a", "a");
  test::write_file(temp / "outside/lib/a", "outside");
  ASSERT_EQ(::mkfifo((bundle / "fifo").c_str(), 0644), 0);
  make_socket(bundle / "socket");
  fs::create_symlink("/dev/zero", bundle / "zero");
  fs::create_symlink("real/lib/a", bundle / "link_to_file");
  fs::create_symlink(temp / "outside/lib/a", bundle / "link_out");
  fs::create_symlink("nowhere", bundle / "dangling");
  fs::create_symlink("real", bundle / "dir_link");
  fs::create_symlink("../outside", bundle / "dir_link_out");
  fs::create_symlink("/etc", bundle / "etc");
  const UniqueFd root = open_directory(bundle);

  const struct {
    const char* path;
    Judged expected;
  } cases[] = {
      {"real/lib/a", Judged::regular},
      {"dir_link/lib/a", Judged::regular},  // links on the way are the format's to follow
      {"fifo", Judged::not_regular},
      {"socket", Judged::not_regular},
      {"zero", Judged::not_regular},
      {"link_to_file", Judged::not_regular},
      {"link_out", Judged::not_regular},
      {"real/lib", Judged::not_regular},
      {"dangling", Judged::missing},
      {"absent", Judged::missing},
      {"real/lib/a/b", Judged::missing},
      {"dir_link_out/lib/a", Judged::missing},
      {"etc/shadow", Judged::missing},
  };
  const std::vector<std::string> judged = test::run_with_openat2(GetParam(), [&] {
    std::vector<std::string> texts;
    for (const auto& c : cases)
      texts.push_back(to_text(judge(root.get(), c.path)));
    return texts;
  });
  ASSERT_EQ(judged.size(), std::size(cases)) << judged.front();
  for (std::size_t i = 0; i < judged.size(); ++i)
    EXPECT_EQ(judged[i], to_text(cases[i].expected)) << cases[i].path;
}

// Paths in many directories, in sorted and in shuffled order, and names that share a prefix:
// each path must open its own file.
TEST(ListedFile, OpensEachPathInItsOwnDirectory) {
  const test::TempDir temp;
  std::vector<std::string> paths = {"top"};
  for (int i = 0; i < 12; ++i) {
    paths.push_back("d" + std::to_string(i) + "/f");
    paths.push_back("d" + std::to_string(i) + "/sub/f");
  }
  for (const std::string& path : paths)
    test::write_file(temp / path, path);
  const UniqueFd root = open_directory(temp.path());

  std::vector<std::string> order = paths;
  order.insert(order.end(), paths.rbegin(), paths.rend());
  for (std::size_t i = 0; i < paths.size(); i += 5)
    order.push_back(paths[i]);
  for (const std::string& path : order) {
    Result<OpenedListedFile> file = open_listed_file(root.get(), path);
    ASSERT_TRUE(file.has_value()) << path;
    char text[64] = {};
    EXPECT_EQ(std::string(text, ::read(file->fd.get(), text, sizeof text)), path);
  }
  const Result<OpenedListedFile> absent = open_listed_file(root.get(), "d3/absent");
  ASSERT_FALSE(absent.has_value());
  EXPECT_TRUE(std::holds_alternative<MissingFromPayload>(absent.error()));
}

// Once open, the entry can be replaced by anything: the digest still reads what was judged.
TEST(ListedFile, ASwapAfterTheOpenDoesNotRedirectTheRead) {
  const test::TempDir temp;
  test::write_file(temp / "a", "listed bytes");
  test::write_file(temp / "b", "listed bytes");
  const UniqueFd root = open_directory(temp.path());
  Result<OpenedListedFile> file = open_listed_file(root.get(), "a");
  ASSERT_TRUE(file.has_value());

  fs::remove(temp / "a");
  fs::create_symlink("/dev/zero", temp / "a");
  const Result<FileDigest> digest = descriptor_digest(file->fd.get());
  ASSERT_TRUE(digest.has_value());
  EXPECT_EQ(digest->hash, file_digest(temp / "b")->hash);
  EXPECT_EQ(digest->size, 12u);
}

}  // namespace
}  // namespace srb
