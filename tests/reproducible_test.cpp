// End-to-end tests of reproducible bundle trees: with SOURCE_DATE_EPOCH set, two builds of the
// same inputs, made at different times into different directories, pack into identical archives
// and images.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/process.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb::test {
namespace {

namespace fs = std::filesystem;

constexpr long kEpoch = 1700000000;

RunOptions build_options(std::optional<long> epoch) {
  RunOptions options;
  options.env = minimal_env();
  if (epoch) options.env->push_back("SOURCE_DATE_EPOCH=" + std::to_string(*epoch));
  options.umask = 022;
  return options;
}

// A fixed sysroot (the loader reached through a link, libc two directories deep, the loader
// cache) and two includes, one of them a link: nothing the host may change between two builds.
struct Inputs {
  explicit Inputs(const fs::path& dir) : root(dir / "root") {
    make_host_root(root, {"/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2",
                          "/lib/x86_64-linux-gnu/libc.so.6", "/etc/ld.so.cache"});
    fs::create_directories(root / "lib64");
    fs::create_symlink("../lib/x86_64-linux-gnu/ld-linux-x86-64.so.2",
                       root / "lib64/ld-linux-x86-64.so.2");
    write_file(dir / "inc/libextra.so", "extra", 0755);
    fs::create_symlink("libextra.so", dir / "inc/libalias.so");
    includes = {(dir / "inc/libextra.so").string(), (dir / "inc/libalias.so").string()};
  }
  fs::path root;
  std::vector<std::string> includes;
};

ProcessResult build_into(const fs::path& out, const Inputs& inputs, std::optional<long> epoch) {
  std::vector<std::string> args{"build",  "--version",          "1.0",    "--out", out.string(),
                                "--from", inputs.root.string(), "--arch", "x86_64"};
  for (const std::string& include : inputs.includes) {
    args.push_back("--include");
    args.push_back(include);
  }
  return run_tool(args, build_options(epoch));
}

// The modification time of `dir` itself and of every entry below it, links not followed, by
// relative path ("." for `dir`).
std::vector<std::pair<std::string, long>> times_below(const fs::path& dir) {
  std::vector<std::pair<std::string, long>> times;
  const auto add = [&](const fs::path& path, const std::string& name) {
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0) throw std::runtime_error("lstat " + path.string());
    times.emplace_back(name, static_cast<long>(status.st_mtim.tv_sec));
  };
  add(dir, ".");
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir))
    add(entry.path(), fs::relative(entry.path(), dir).string());
  return times;
}

// The tree packed as a tar stream, names relative to `dir`, so the directory's own name is not
// in it.
std::string tar_of(const fs::path& dir) {
  const ProcessResult r = run_process({"tar", "--sort=name", "--owner=0", "--group=0",
                                       "--numeric-owner", "-cf", "-", "-C", dir.string(), "."});
  if (r.status != 0) throw std::runtime_error("tar: " + r.err);
  return r.out;
}

bool has_mksquashfs() {
  return run_process({"sh", "-c", "command -v mksquashfs"}).status == 0;
}

// A squashfs image of the tree. mksquashfs would set every time itself under SOURCE_DATE_EPOCH,
// so it runs without it: the image must show the times the build gave.
std::string squashfs_of(const fs::path& dir, const fs::path& image) {
  RunOptions options;
  options.env = minimal_env();
  const ProcessResult r =
      run_process({"mksquashfs", dir.string(), image.string(), "-reproducible", "-mkfs-time", "0",
                   "-noappend", "-no-progress", "-processors", "1"},
                  options);
  if (r.status != 0) throw std::runtime_error("mksquashfs: " + r.err);
  return read_file(image);
}

TEST(Reproducible, TwoBuildsSecondsApartPackIdentically) {
  TempDir dir;
  const Inputs inputs(dir.path());
  // One out directory is made by the build, the other exists beforehand with the same bits.
  fs::create_directory(dir / "two");
  fs::permissions(dir / "two", static_cast<fs::perms>(0755));
  ASSERT_EQ(build_into(dir / "one", inputs, kEpoch).err, "");
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  ASSERT_EQ(build_into(dir / "two", inputs, kEpoch).err, "");

  for (const auto& [name, time] : times_below(dir / "one")) {
    SCOPED_TRACE(name);
    EXPECT_EQ(time, kEpoch);
  }
  EXPECT_EQ(times_below(dir / "one"), times_below(dir / "two"));
  EXPECT_EQ(tar_of(dir / "one"), tar_of(dir / "two"));
  EXPECT_EQ(run_tool({"verify", (dir / "one").string()}).status, 0);
  EXPECT_EQ(run_tool({"verify", (dir / "two").string()}).status, 0);

  if (!has_mksquashfs())
    GTEST_SKIP() << "mksquashfs is missing: scripts/install-deps installs squashfs-tools";
  EXPECT_EQ(squashfs_of(dir / "one", dir / "one.img"), squashfs_of(dir / "two", dir / "two.img"));
}

// Rebuilding over a bundle re-stamps what is kept: the existing directories the build enters
// and out, which the new bundle.toml changes.
TEST(Reproducible, ARebuildIntoAnExistingBundleIsStampedAgain) {
  TempDir dir;
  const Inputs inputs(dir.path());
  ASSERT_EQ(build_into(dir / "out", inputs, kEpoch).err, "");
  ASSERT_EQ(build_into(dir / "out", inputs, kEpoch + 60).err, "");
  for (const auto& [name, time] : times_below(dir / "out")) {
    SCOPED_TRACE(name);
    EXPECT_EQ(time, kEpoch + 60);
  }
}

TEST(Reproducible, WithoutSourceDateEpochTheTreeKeepsTheTimeOfTheBuild) {
  TempDir dir;
  const Inputs inputs(dir.path());
  // time() reads the clock as of the last tick, which may lag the precise clock that the tool
  // and the file system read by a few milliseconds, so the precise clock bounds the end.
  const long before = static_cast<long>(::time(nullptr));
  ASSERT_EQ(build_into(dir / "out", inputs, std::nullopt).err, "");
  const long after = static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(
                                           std::chrono::system_clock::now().time_since_epoch())
                                           .count());
  for (const auto& [name, time] : times_below(dir / "out")) {
    SCOPED_TRACE(name);
    EXPECT_LE(before, time);
    EXPECT_LE(time, after);
  }
}

}  // namespace
}  // namespace srb::test
