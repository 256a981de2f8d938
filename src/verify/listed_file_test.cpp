#include "verify/listed_file.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <variant>

#include "core/error.hpp"
#include "manifest/digest.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb {
namespace {

namespace fs = std::filesystem;

enum class Judged { regular, not_regular, missing };

Judged judge(const fs::path& full) {
  UniqueFd file;
  const Result<void> opened = open_listed_file(full.string(), "entry", file);
  if (opened) {
    EXPECT_TRUE(file.is_open());
    return Judged::regular;
  }
  EXPECT_FALSE(file.is_open());
  if (std::holds_alternative<NotRegularFile>(opened.error())) return Judged::not_regular;
  EXPECT_TRUE(std::holds_alternative<MissingFromPayload>(opened.error()))
      << message(opened.error());
  return Judged::missing;
}

// Each case is what a swap could leave at the path just before the open. A FIFO without a
// writer would block a plain open for ever, and /dev/zero would never end: both must be refused
// at once.
TEST(OpenListedFile, JudgesWhatItOpens) {
  const test::TempDir temp;
  test::write_file(temp / "real/lib/a", "a");
  ASSERT_EQ(::mkfifo((temp / "fifo").c_str(), 0644), 0);
  fs::create_symlink("/dev/zero", temp / "zero");
  fs::create_symlink(temp / "real/lib/a", temp / "link_to_file");
  fs::create_symlink(temp / "nowhere", temp / "dangling");
  fs::create_symlink(temp / "real", temp / "dir_link");

  const struct {
    const char* entry;
    Judged expected;
  } cases[] = {
      {"real/lib/a", Judged::regular},
      {"dir_link/lib/a", Judged::regular},  // links on the way are the format's to follow
      {"fifo", Judged::not_regular},
      {"zero", Judged::not_regular},
      {"link_to_file", Judged::not_regular},
      {"dangling", Judged::not_regular},  // classified as missing before, but never followed
      {"real/lib", Judged::not_regular},
      {"absent", Judged::missing},
  };
  for (const auto& c : cases)
    EXPECT_EQ(judge(temp / c.entry), c.expected) << c.entry;
}

// Once open, the entry can be replaced by anything: the digest still reads what was judged.
TEST(OpenListedFile, ASwapAfterTheOpenDoesNotRedirectTheRead) {
  const test::TempDir temp;
  test::write_file(temp / "a", "listed bytes");
  test::write_file(temp / "b", "listed bytes");
  UniqueFd file;
  ASSERT_TRUE(open_listed_file((temp / "a").string(), "a", file).has_value());

  fs::remove(temp / "a");
  fs::create_symlink("/dev/zero", temp / "a");
  const Result<FileDigest> digest = descriptor_digest(file.get());
  ASSERT_TRUE(digest.has_value());
  EXPECT_EQ(digest->hash, file_digest(temp / "b")->hash);
  EXPECT_EQ(digest->size, 12u);
}

}  // namespace
}  // namespace srb
