// What the commands do when the system fails under them: a failed query is no proof that a file
// is absent, so it stops the command with the i/o error instead of changing what it finds. Each
// fault is made by a seccomp filter in the tool's process, for the one call that names the file.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/syscall.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "manifest/manifest.hpp"
#include "tests/support/bundle_fixture.hpp"
#include "tests/support/process.hpp"
#include "tests/support/syscall_faults.hpp"
#include "tests/support/sysroot_fixture.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb {
namespace {

namespace fs = std::filesystem;
using test::SyscallFault;

std::string io_error(int error) {
  return "i/o: " + std::string(std::strerror(error)) + " (os error " + std::to_string(error) + ")";
}

// The open of the path ending in `suffix` fails with `error`, through openat2; or, where the kernel
// offers none, the walk's reading of the component `name`.
std::vector<SyscallFault> failing_open_of(std::string_view suffix, int error) {
  return {{.number = SYS_openat2, .error = error, .path = std::string(suffix)}};
}

std::vector<SyscallFault> failing_walk_at(std::string_view name, int error) {
  return {{.number = SYS_openat2, .error = ENOSYS},
          {.number = SYS_readlinkat, .error = error, .path = std::string(name)}};
}

// A table entry whose presence cannot be told must not be left out of a bundle, least of all a
// signed one: the build stops with the i/o error and writes no bundle.toml. What means "not
// there" (no such file, no permission on the way) still leaves the entry out.
TEST(BuildFault, AFailedPresenceTestStopsTheBuild) {
  const test::TempDir temp;
  test::make_debian_like_root(temp / "root");
  const struct {
    const char* name;
    std::vector<SyscallFault> faults;
    bool from_root;
    int status;
  } cases[] = {
      {"EIO on libc", failing_open_of("/libc.so.6", EIO), true, 1},
      {"ENOMEM on the loader", failing_open_of("/ld-linux-x86-64.so.2", ENOMEM), true, 1},
      {"EMFILE on libc", failing_open_of("/libc.so.6", EMFILE), true, 1},
      {"ENFILE on the cache", failing_open_of("/etc/ld.so.cache", ENFILE), true, 1},
      {"EIO on the host's libc", failing_open_of("/libc.so.6", EIO), false, 1},
      {"EIO in the walk", failing_walk_at("libc.so.6", EIO), true, 1},
      {"ENOENT on libc", failing_open_of("/libc.so.6", ENOENT), true, 0},
      {"EACCES on libc", failing_open_of("/libc.so.6", EACCES), true, 0},
      {"ENOTDIR in the walk", failing_walk_at("libc.so.6", ENOTDIR), true, 0},
  };
  int run = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path out = temp / ("out" + std::to_string(run++));
    std::vector<std::string> args = {"build", "--version", "1.0", "--out", out.string()};
    if (c.from_root) args.insert(args.end(), {"--from", (temp / "root").string()});
    test::RunOptions options;
    options.faults = c.faults;
    const test::ProcessResult r = test::run_tool(args, options);
    EXPECT_GE(r.faults_injected, 1);
    EXPECT_EQ(r.status, c.status) << r.err;
    if (c.status == 1) {
      EXPECT_EQ(r.err, "sarn-runtime-bundle build: " + io_error(c.faults.back().error) + "\n");
      EXPECT_FALSE(fs::exists(out / "bundle.toml"));
    } else {
      EXPECT_FALSE(fs::exists(out / "lib/lib/x86_64-linux-gnu/libc.so.6"));
      EXPECT_TRUE(fs::exists(out / "lib/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2"));
    }
  }
}

// `path` answers where a launcher finds a bundle: a status query that fails for any reason but
// absence must not send it to the other root.
TEST(PathFault, AFailedInstalledTestIsAnErrorNotAnotherLocation) {
  const test::TempDir temp;
  const fs::path user_root = temp / "user-root";
  fs::create_directories(user_root / "1.0");
  std::vector<std::string> env = test::minimal_env();
  env.push_back("SARN_RUNTIME_BUNDLE_DIR=" + user_root.string());
  const std::string user_manifest = "/user-root/1.0/bundle.toml";
  const std::string system_manifest = "/usr/lib/sarn-runtime/1.0/bundle.toml";
  const std::string fails = "sarn-runtime-bundle path: ";
  const struct {
    std::string suffix;
    int error;
    std::string out;
    std::string err;
  } cases[] = {
      {user_manifest, EIO, "", fails + io_error(EIO) + "\n"},
      {user_manifest, ENOMEM, "", fails + io_error(ENOMEM) + "\n"},
      {system_manifest, EIO, "", fails + io_error(EIO) + "\n"},
      {system_manifest, EOVERFLOW, "", fails + io_error(EOVERFLOW) + "\n"},
      {user_manifest, ENOENT, (user_root / "1.0").string() + "\n", ""},
      {user_manifest, EACCES, (user_root / "1.0").string() + "\n", ""},
      {user_manifest, ELOOP, (user_root / "1.0").string() + "\n", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.suffix + " " + std::strerror(c.error));
    test::RunOptions options;
    options.env = env;
    options.faults = {{.number = SYS_newfstatat, .error = c.error, .path = c.suffix}};
    const test::ProcessResult r = test::run_tool({"path", "--version", "1.0"}, options);
    EXPECT_EQ(r.faults_injected, 1);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.err.empty() ? 0 : 1);
  }
}

// Opening the bundle or its manifest: what finds nothing there is "not found", what the system
// fails at is the i/o error it is.
TEST(VerifyFault, OpeningTheBundleTellsAbsenceFromFailure) {
  const test::TempDir temp;
  const fs::path bundle = temp / "bundle";
  test::make_bundle(bundle, {.files = {{"lib/a", "a"}}});
  const std::string not_found = "sarn-runtime-bundle verify: bundle.toml not found at " +
                                (bundle / "bundle.toml").string() + "\n";
  const std::string fails = "sarn-runtime-bundle verify: ";
  const struct {
    long number;
    int error;
    const char* suffix;
    std::string err;
  } cases[] = {
      {SYS_openat2, EIO, "bundle.toml", fails + io_error(EIO) + "\n"},
      {SYS_openat2, EMFILE, "bundle.toml", fails + io_error(EMFILE) + "\n"},
      {SYS_openat, ENOMEM, "/bundle", fails + io_error(ENOMEM) + "\n"},
      {SYS_openat, ENFILE, "/bundle", fails + io_error(ENFILE) + "\n"},
      {SYS_openat2, ENOENT, "bundle.toml", not_found},
      {SYS_openat2, ELOOP, "bundle.toml", not_found},
      {SYS_openat, ENOTDIR, "/bundle", not_found},
      {SYS_openat, EACCES, "/bundle", not_found},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.suffix) + " " + std::strerror(c.error));
    test::RunOptions options;
    options.faults = {{.number = c.number, .error = c.error, .path = c.suffix}};
    const test::ProcessResult r = test::run_tool({"verify", bundle.string()}, options);
    EXPECT_GE(r.faults_injected, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, 1);
  }
}

// With room for only five descriptors beyond the standard three, an intact bundle verifies,
// whether it is a few files or thousands in many directories. With room for only one, nothing
// can be opened beside the bundle: that is the i/o error it is, not a missing bundle.
TEST(VerifyFault, AnIntactBundleVerifiesWhenDescriptorsAreScarce) {
  const test::TempDir temp;
  const fs::path few = temp / "few";
  const fs::path many = temp / "many";
  test::make_bundle(few, {.files = {{"etc/ld.so.cache", "cache"}, {"lib/lib64/ld.so", "ld"}}});
  test::BundleParts parts;
  for (int i = 0; i < 2000; ++i)
    parts.files.push_back(
        {"lib/d" + std::to_string(i % 50) + "/f" + std::to_string(i), std::to_string(i)});
  test::make_bundle(many, parts);
  for (const fs::path& bundle : {few, many}) {
    SCOPED_TRACE(bundle);
    test::RunOptions options;
    options.descriptor_limit = 8;
    const test::ProcessResult r = test::run_tool({"verify", bundle.string()}, options);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    options.descriptor_limit = 4;
    const test::ProcessResult scarce = test::run_tool({"verify", bundle.string()}, options);
    EXPECT_EQ(scarce.err, "sarn-runtime-bundle verify: " + io_error(EMFILE) + "\n");
    EXPECT_EQ(scarce.status, 1);
  }
}

}  // namespace
}  // namespace srb
