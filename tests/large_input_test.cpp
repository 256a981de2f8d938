// Bundles at the size and shape limits of what verify meets: a manifest of 200,000 entries, a
// payload of 100,000 files, a tree 5,000 directories deep, a name of 255 invalid bytes, a FIFO
// where bundle.toml should be, and directories the user may not read. Each must end with the
// right result or one clear error line, never a crash or a hang. The binary runs under
// `timeout`, so a hang fails the case instead of the whole suite.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "manifest/digest.hpp"
#include "manifest/manifest.hpp"
#include "tests/support/process.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb::test {
namespace {

namespace fs = std::filesystem;

// BLAKE3 of no bytes: the digest of every empty payload file and the root hash of no entries.
constexpr const char* kEmptyDigest =
    "af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262";
constexpr int kTimeoutStatus = 124;  // what timeout(1) returns when it had to stop the command

ProcessResult verify_bounded(const fs::path& bundle, int seconds, const RunOptions& options = {}) {
  return run_process({"timeout", std::to_string(seconds), tool_path_for(options).string(), "verify",
                      bundle.string()},
                     options);
}

// An empty file, made without the overhead of streams: these tests make a great many.
void touch(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  ::close(fd);
}

void write_manifest(const fs::path& bundle, std::vector<BundleFile> files) {
  BundleManifest manifest{"1.0", "x86_64", compute_root_hash(files), std::move(files), 0, {}, {}};
  const Result<std::string> text = render_manifest(manifest);
  ASSERT_TRUE(text.has_value());
  write_file(bundle / "bundle.toml", *text);
}

std::string unlisted(const std::string& key) {
  return "sarn-runtime-bundle verify: file present in payload but not listed in bundle.toml: " +
         key + "\n";
}

TEST(LargeInputs, ManifestOf200000EntriesVerifies) {
  TempDir bundle;
  std::vector<BundleFile> files;
  char name[32];
  for (int d = 0; d < 200; ++d) {
    std::snprintf(name, sizeof name, "lib/d%03d", d);
    fs::create_directories(bundle / name);
    for (int f = 0; f < 1000; ++f) {
      std::snprintf(name, sizeof name, "lib/d%03d/f%03d", d, f);
      touch(bundle / name);
      files.push_back({name, kEmptyDigest, 0});
    }
  }
  const std::string root_hash = compute_root_hash(files);
  write_manifest(bundle.path(), std::move(files));

  const ProcessResult r = verify_bounded(bundle.path(), 120);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "bundle " + bundle.path().string() +
                       " verified\n  version  : 1.0\n"
                       "  arch     : x86_64\n  files    : 200000\n  root-hash: blake3:" +
                       root_hash + "\n");
  EXPECT_EQ(r.status, 0);
}

TEST(LargeInputs, PayloadOf100000UnlistedFilesNamesTheSmallestKey) {
  TempDir bundle;
  fs::create_directories(bundle / "lib" / "0");
  char name[32];
  for (int i = 0; i < 100000; ++i) {
    std::snprintf(name, sizeof name, "lib/f%05d", i);
    touch(bundle / name);
  }
  touch(bundle / "lib/0/zz");  // made last, yet first in byte order
  write_manifest(bundle.path(), {});

  const ProcessResult r = verify_bounded(bundle.path(), 120);
  EXPECT_EQ(r.err, unlisted("lib/0/zz"));
  EXPECT_EQ(r.status, 1);
}

TEST(LargeInputs, NamesOf255InvalidBytesAreListedWithReplacementCharacters) {
  const std::string replacement = "\xEF\xBF\xBD";
  struct Case {
    std::string name;
    std::string shown;
  };
  std::string truncated_dashes, shown_dashes;
  for (int i = 0; i < 127; ++i)
    truncated_dashes += "\xE2\x80", shown_dashes += replacement;
  std::string all_ff(255, '\xFF'), shown_ff;
  for (int i = 0; i < 255; ++i)
    shown_ff += replacement;
  const Case cases[] = {
      {all_ff, shown_ff},                                       // one U+FFFD per stray byte
      {truncated_dashes + "\xFF", shown_dashes + replacement},  // one per cut-off sequence
  };
  for (const Case& c : cases) {
    ASSERT_EQ(c.name.size(), 255u);
    TempDir bundle;
    fs::create_directories(bundle / "lib");
    touch(bundle / "lib" / c.name);
    write_manifest(bundle.path(), {});
    const ProcessResult r = verify_bounded(bundle.path(), 30);
    EXPECT_EQ(r.err, unlisted("lib/" + c.shown));
    EXPECT_EQ(r.status, 1);
  }
}

TEST(LargeInputs, DirectoryTree5000LevelsDeepIsWalkedWhole) {
  TempDir bundle;
  write_manifest(bundle.path(), {});
  // Made one level at a time relative to the last: the whole path is far beyond PATH_MAX.
  int fd = ::open(bundle.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  std::string key;
  for (int level = 0; level < 5000; ++level) {
    ASSERT_EQ(::mkdirat(fd, "d", 0755), 0);
    const int child = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    ASSERT_GE(fd = child, 0);
    key += "d/";
  }
  const int leaf = ::openat(fd, "leaf", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ::close(leaf);
  ::close(fd);

  const ProcessResult r = verify_bounded(bundle.path(), 60);
  EXPECT_EQ(r.err, unlisted(key + "leaf"));
  EXPECT_EQ(r.status, 1);
  // rm walks by descriptors too; the TempDir clean-up goes by whole paths.
  EXPECT_EQ(run_process({"rm", "-rf", (bundle / "d").string()}).status, 0);
}

// A FIFO opened for reading waits for a writer that never comes; neither reader may wait.
TEST(LargeInputs, FifoInPlaceOfAFileEndsWithOneErrorLine) {
  TempDir dir;
  fs::create_directories(dir / "bundle");
  ASSERT_EQ(::mkfifo((dir / "bundle" / "bundle.toml").c_str(), 0644), 0);
  ASSERT_EQ(::mkfifo((dir / "identity.json").c_str(), 0644), 0);

  const ProcessResult verify = verify_bounded(dir / "bundle", 10);
  EXPECT_EQ(verify.err, "sarn-runtime-bundle verify: i/o: Invalid argument (os error 22)\n");
  EXPECT_EQ(verify.status, 1);

  const ProcessResult pubkey = run_process({"timeout", "10", tool_path().string(), "key", "pubkey",
                                            "--identity", (dir / "identity.json").string()});
  EXPECT_NE(pubkey.status, kTimeoutStatus);
  EXPECT_EQ(pubkey.status, 1);
  EXPECT_EQ(pubkey.err.rfind("sarn-runtime-bundle key pubkey: identity file: ", 0), 0u)
      << pubkey.err;
  EXPECT_EQ(pubkey.err.find('\n'), pubkey.err.size() - 1) << pubkey.err;
}

// Root reads every directory whatever its mode, so these run verify as an ordinary user.
TEST(LargeInputs, UnreadableDirectoriesFailWithOneClearLine) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run verify as another user";
  const RunOptions as_nobody = as_other_user();
  TempDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  const std::string denied = "i/o: Permission denied (os error 13)";
  struct Case {
    const char* bundle;
    const char* locked;  // the directory whose mode changes, relative to the bundle
    mode_t mode;
    std::string message;
  };
  const Case cases[] = {
      {"searchable-not-listable", ".", 0711, denied},
      {"subdirectory-not-listable", "lib", 0311, denied},
      {"not-searchable", ".", 0700,
       "bundle.toml not found at " + (dir / "not-searchable" / "bundle.toml").string()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bundle);
    const fs::path bundle = dir / c.bundle;
    fs::create_directories(bundle / "lib");
    touch(bundle / "lib" / "libc.so.6");
    write_manifest(bundle, {{"lib/libc.so.6", kEmptyDigest, 0}});
    ASSERT_EQ(::chmod((bundle / c.locked).c_str(), c.mode), 0);

    const ProcessResult r = verify_bounded(bundle, 30, as_nobody);
    EXPECT_EQ(r.err, "sarn-runtime-bundle verify: " + c.message + "\n");
    EXPECT_EQ(r.status, 1);
  }
}

// Runs verify with its address space limited to 1 GiB, as `ulimit -v` would: whatever the
// manifest, the result is one line and a status, never a signal.
ProcessResult verify_in_a_gibibyte(const fs::path& bundle, std::size_t address_space = 1 << 30) {
  return run_process({"prlimit", "--as=" + std::to_string(address_space), "timeout", "120",
                      tool_path().string(), "verify", bundle.string()});
}

// Writes `head`, then `piece(i)` for i = 0, 1, ... while the file stays within `size` bytes.
void write_repeated(const fs::path& path, const std::string& head,
                    const std::function<std::string(std::size_t)>& piece, std::size_t size) {
  std::string text = head;
  text.reserve(size);
  for (std::size_t i = 0;; ++i) {
    const std::string next = piece(i);
    if (text.size() + next.size() > size) break;
    text += next;
  }
  write_file(path, text);
}

constexpr std::size_t kManifestLimit = std::size_t{64} << 20;
const std::string kHead =
    "version = \"1.0\"\narch = \"x86_64\"\nroot_hash = \"" + std::string(kEmptyDigest) + "\"\n";

std::string numbered(const char* format, std::size_t i) {
  char text[256];
  std::snprintf(text, sizeof text, format, i, kEmptyDigest);
  return text;
}

std::string four_letter_key(std::size_t i) {
  constexpr std::string_view kLetters =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string key;
  for (int place = 0; place < 4; ++place, i /= kLetters.size())
    key += kLetters[i % kLetters.size()];
  return key + "=0\n";
}

// A sparse file claims any size; a document of small values swells about 36 times as a tree. Each
// must fail with one clear line within the limit: the first before reading, the others once their
// values would take more than the reader allows.
TEST(LargeInputs, HostileManifestsFailWithOneLineInAGibibyte) {
  if (!kAddressLimitsWork)
    GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
  const struct {
    const char* name;
    std::function<void(const fs::path&)> make;
    std::string error;  // the line's start
  } cases[] = {
      {"sparse 64 GB",
       [](const fs::path& path) {
         write_file(path, "");
         ASSERT_EQ(::truncate(path.c_str(), off_t{64} << 30), 0);
       },
       "i/o: File too large (os error 27)"},
      {"50 MB of zeros in an array",
       [](const fs::path& path) {
         write_repeated(
             path, "x=[", [](std::size_t) { return std::string("0,"); }, 50000000);
       },
       "bundle.toml parse error: TOML parse error at line 1, column "},
      {"64 MiB of short keys",
       [](const fs::path& path) { write_repeated(path, "", four_letter_key, kManifestLimit); },
       "bundle.toml parse error: TOML parse error at line "},
      {"64 MiB of empty inline tables",
       [](const fs::path& path) {
         write_repeated(
             path, kHead + "files=[", [](std::size_t) { return std::string("{},"); },
             kManifestLimit);
       },
       "bundle.toml parse error: TOML parse error at line 4, column "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TempDir bundle;
    c.make(bundle / "bundle.toml");
    const ProcessResult r = verify_in_a_gibibyte(bundle.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("sarn-runtime-bundle verify: " + c.error, 0), 0u) << r.err.substr(0, 300);
    if (c.error.starts_with("bundle.toml parse error")) {
      EXPECT_TRUE(
          r.err.ends_with("\ndocument too large to read: its values would take more than "
                          "768 MiB\n"))
          << r.err.substr(0, 300);
    }
  }
}

// Manifests of the largest size in the shapes a person or another tool would write still read
// within the limit: the first listed file is then looked for, and missing.
TEST(LargeInputs, LegitimateShapesOfTheLargestSizeStillRead) {
  if (!kAddressLimitsWork)
    GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
  const char* kPath = "lib/x86_64-linux-gnu/lib%07zu.so.6";
  const struct {
    const char* name;
    std::string head;
    std::string entry;  // printf format of one entry from its number and a digest
    const char* first;  // the first entry's path
  } cases[] = {
      {"inline tables", kHead + "files = [\n",
       std::string("  { path = \"") + kPath + "\", hash = \"%s\", size = 4096 },\n",
       "lib/x86_64-linux-gnu/lib0000000.so.6"},
      // The most entries, and so the most values, that 64 MiB of inline tables can hold.
      {"inline tables of the shortest entries", kHead + "files=[\n",
       "{path=\"l%zu\",hash=\"%s\",size=0},\n", "l0"},
      {"reordered keys", kHead,
       "[[files]]\nsize = 4096\nhash = \"%2$s\"\n"
       "path = \"lib/x86_64-linux-gnu/lib%1$07zu.so.6\"\n\n",
       "lib/x86_64-linux-gnu/lib0000000.so.6"},
      {"sequences", kHead + "files = [\n", std::string("  [\"") + kPath + "\", \"%s\", 4096],\n",
       "lib/x86_64-linux-gnu/lib0000000.so.6"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TempDir bundle;
    write_repeated(
        bundle / "bundle.toml", c.head, [&](std::size_t i) { return numbered(c.entry.c_str(), i); },
        kManifestLimit - 2);
    if (c.head.ends_with("[\n")) {  // close the array
      std::FILE* file = std::fopen((bundle / "bundle.toml").c_str(), "a");
      std::fputs("]\n", file);
      std::fclose(file);
    }
    const ProcessResult r = verify_in_a_gibibyte(bundle.path());
    EXPECT_EQ(
        r.err,
        "sarn-runtime-bundle verify: file listed in bundle.toml is missing from the payload: " +
            std::string(c.first) + "\n");
    EXPECT_EQ(r.status, 1);
  }
}

// Memory that runs out all the same, here under a far smaller limit, is an error like any other.
// 6 MB of zeros are within what the reader allows, and their tree alone takes some 250 MiB.
TEST(LargeInputs, RunningOutOfMemoryIsAnIoError) {
  if (!kAddressLimitsWork)
    GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
  const TempDir bundle;
  write_repeated(
      bundle / "bundle.toml", "x=[", [](std::size_t) { return std::string("0,"); }, 6000000);
  const ProcessResult r = verify_in_a_gibibyte(bundle.path(), std::size_t{200} << 20);
  EXPECT_EQ(r.err, "sarn-runtime-bundle verify: i/o: Cannot allocate memory (os error 12)\n");
  EXPECT_EQ(r.status, 1);
}

}  // namespace
}  // namespace srb::test
