#include "api/launch_safety.hpp"

#include <elf.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "api/launch_plan.hpp"
#include "core/error.hpp"
#include "tests/support/bundle_fixture.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kOtherUser = 65534;
const std::string kLoader = test::elf_image(ELFCLASS64, ELFDATA2LSB, EM_X86_64);
const std::string kLoaderPath = "lib/lib64/ld-linux-x86-64.so.2";
const std::string kLibcPath = "lib/lib/x86_64-linux-gnu/libc.so.6";

// An x86_64 bundle of version 1.0 installed under a system root of its own, made by root as a
// package would install it: directories 0755, files 0644.
class CheckedLaunch : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give files to another user";
    if (host_arch() != "x86_64") GTEST_SKIP() << "the bundles here are x86_64 ones";
    fs::permissions(temp_.path(), fs::perms(0755));
    test::make_bundle(bundle_, {.version = "1.0",
                                .arch = "x86_64",
                                .files = {{kLoaderPath, kLoader}, {kLibcPath, "libc"}}});
    spec_.version = "1.0";
    spec_.roots = {.user = (temp_ / "user").string(), .system = (temp_ / "system").string()};
  }

  std::string plan_or_error() const {
    const Result<PlannedLaunch> plan = plan_installed_launch(spec_);
    return plan ? "planned" : message(plan.error());
  }
  std::string unsafe(const fs::path& path, const std::string& reason) const {
    return message(UnsafeBundle{path, reason});
  }

  test::TempDir temp_;
  fs::path bundle_ = temp_ / "system/1.0";
  LaunchSpec spec_;
};

// Nobody but root and the caller may be able to change a file the launch runs or a directory on
// the way to one, or the loader's second open could find another file than the one verified.
TEST_F(CheckedLaunch, RunsOnlyWhatNobodyElseCanChange) {
  const fs::path libc = bundle_ / kLibcPath;
  const fs::path lib = bundle_ / "lib";
  const struct {
    const char* name;
    std::function<void()> change;
    std::function<void()> undo;
    std::string expected;
  } cases[] = {
      {"as installed", [] {}, [] {}, "planned"},
      {"libc another user's", [&] { ASSERT_EQ(::chown(libc.c_str(), kOtherUser, 0), 0); },
       [&] { ASSERT_EQ(::chown(libc.c_str(), 0, 0), 0); }, unsafe(libc, "is owned by user 65534")},
      {"libc writable by all", [&] { fs::permissions(libc, fs::perms(0666)); },
       [&] { fs::permissions(libc, fs::perms(0644)); }, unsafe(libc, "is writable by every user")},
      {"libc writable by a shared group",
       [&] {
         ASSERT_EQ(::chown(libc.c_str(), 0, 100), 0);
         fs::permissions(libc, fs::perms(0664));
       },
       [&] {
         ASSERT_EQ(::chown(libc.c_str(), 0, 0), 0);
         fs::permissions(libc, fs::perms(0644));
       },
       unsafe(libc, "is writable by group 100, which has members besides its owner")},
      {"libc writable by root's own group", [&] { fs::permissions(libc, fs::perms(0664)); },
       [&] { fs::permissions(libc, fs::perms(0644)); }, "planned"},
      {"lib/ writable by all", [&] { fs::permissions(lib, fs::perms(0777)); },
       [&] { fs::permissions(lib, fs::perms(0755)); }, unsafe(lib, "is writable by every user")},
      {"lib/ sticky and writable by all", [&] { fs::permissions(lib, fs::perms(01777)); },
       [&] { fs::permissions(lib, fs::perms(0755)); }, unsafe(lib, "is writable by every user")},
      {"bundle.toml another user's",
       [&] { ASSERT_EQ(::chown((bundle_ / "bundle.toml").c_str(), kOtherUser, 0), 0); },
       [&] { ASSERT_EQ(::chown((bundle_ / "bundle.toml").c_str(), 0, 0), 0); },
       unsafe(bundle_ / "bundle.toml", "is owned by user 65534")},
      {"the root writable by all", [&] { fs::permissions(temp_ / "system", fs::perms(0777)); },
       [&] { fs::permissions(temp_ / "system", fs::perms(0755)); },
       unsafe(temp_ / "system", "is writable by every user")},
      {"the root sticky and writable by all",
       [&] { fs::permissions(temp_ / "system", fs::perms(01777)); },
       [&] { fs::permissions(temp_ / "system", fs::perms(0755)); }, "planned"},
      {"the root another user's",
       [&] { ASSERT_EQ(::chown((temp_ / "system").c_str(), kOtherUser, 0), 0); },
       [&] { ASSERT_EQ(::chown((temp_ / "system").c_str(), 0, 0), 0); },
       unsafe(temp_ / "system", "is owned by user 65534")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.change();
    EXPECT_EQ(plan_or_error(), c.expected);
    spec_.ownership = OwnershipRule::skipped;
    EXPECT_EQ(plan_or_error(), "planned");
    spec_.ownership = OwnershipRule::required;
    c.undo();
  }
}

// Links on the way are followed and their targets judged too: a root reached through a link
// into another user's directory is theirs to change.
TEST_F(CheckedLaunch, JudgesTheDirectoriesALinkLeadsThrough) {
  const fs::path theirs = temp_ / "theirs";
  fs::create_directories(theirs);
  fs::rename(temp_ / "system", theirs / "system");
  fs::create_directory_symlink(theirs / "system", temp_ / "system");
  EXPECT_EQ(plan_or_error(), "planned");
  ASSERT_EQ(::chown(theirs.c_str(), kOtherUser, kOtherUser), 0);
  EXPECT_EQ(plan_or_error(), unsafe(theirs, "is owned by user 65534"));
}

// The bundle must be for this machine, unless the caller names another architecture itself (to
// run it under an emulator); that is settled before any payload file is read.
TEST_F(CheckedLaunch, AnotherMachinesBundleIsRefusedUnlessItsArchIsNamed) {
  fs::remove_all(bundle_);
  test::make_bundle(bundle_, {.version = "1.0",
                              .arch = "aarch64",
                              .files = {{"lib/lib/ld-linux-aarch64.so.1",
                                         test::elf_image(ELFCLASS64, ELFDATA2LSB, EM_AARCH64)}}});
  EXPECT_EQ(plan_or_error(), message(ArchMismatch{"aarch64", "x86_64"}));
  spec_.arch = "aarch64";
  EXPECT_EQ(plan_or_error(), "planned");
}

// One call tells a version that is not installed from one installed but damaged.
TEST_F(CheckedLaunch, NotInstalledIsNotADamagedBundle) {
  spec_.version = "2.0";
  EXPECT_EQ(plan_or_error(),
            message(NotInstalled{"2.0", {temp_ / "user/2.0", temp_ / "system/2.0"}}));
  spec_.version = "1.0";
  test::write_file(bundle_ / kLibcPath, "changed");
  const Result<PlannedLaunch> damaged = plan_installed_launch(spec_);
  ASSERT_FALSE(damaged);
  EXPECT_TRUE(std::holds_alternative<HashMismatch>(damaged.error()));
}

// Whether the loader offers --argv0 is read in the bytes verify digested, wherever the option's
// name lies in them, a piece boundary of the digest's reads included.
TEST_F(CheckedLaunch, LearnsFromTheVerifiedLoaderWhetherItOffersArgv0) {
  for (const std::size_t at : {std::size_t{100}, std::size_t{8190}, std::size_t{20000}}) {
    SCOPED_TRACE(at);
    std::string loader = kLoader;
    loader.resize(at + 100, 'x');
    loader.replace(at, 7, "--argv0");
    fs::remove_all(bundle_);
    test::make_bundle(bundle_,
                      {.version = "1.0", .arch = "x86_64", .files = {{kLoaderPath, loader}}});
    const Result<PlannedLaunch> plan = plan_installed_launch(spec_);
    ASSERT_TRUE(plan) << message(plan.error());
    EXPECT_TRUE(plan->loader_takes_argv0);
  }
  fs::remove_all(bundle_);
  test::make_bundle(bundle_,
                    {.version = "1.0", .arch = "x86_64", .files = {{kLoaderPath, kLoader}}});
  const Result<PlannedLaunch> without = plan_installed_launch(spec_);
  ASSERT_TRUE(without) << message(without.error());
  EXPECT_FALSE(without->loader_takes_argv0);
}

TEST(LaunchEnvironment, KeepsAllButTheLoadersVariables) {
  EXPECT_EQ(launch_environment({"PATH=/bin", "LD_PRELOAD=/tmp/evil.so", "LD_AUDIT=/x.so",
                                "LD_LIBRARY_PATH=/host", "HOME=/root", "OLD_LD_PRELOAD=kept",
                                "LD_=x", "ld_preload=lower case is no loader variable"}),
            (std::vector<std::string>{"PATH=/bin", "HOME=/root", "OLD_LD_PRELOAD=kept",
                                      "ld_preload=lower case is no loader variable"}));
}

}  // namespace
}  // namespace srb
