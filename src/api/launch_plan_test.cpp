#include "api/launch_plan.hpp"

#include <elf.h>

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "build/build.hpp"
#include "core/error.hpp"
#include "tests/support/bundle_fixture.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb {
namespace {

using test::elf_image;

const std::string kX86_64Loader = elf_image(ELFCLASS64, ELFDATA2LSB, EM_X86_64);
const std::string kI386Loader = elf_image(ELFCLASS32, ELFDATA2LSB, EM_386);
const std::string kAarch64Loader = elf_image(ELFCLASS64, ELFDATA2LSB, EM_AARCH64);

struct PlannedBundle {
  test::TempDir dir;
  Result<PlannedLaunch> plan = Io{os_error(0)};
};

// Makes a bundle of `files` for `arch` and plans its launch through verify.
void plan_bundle(PlannedBundle& bundle, const std::string& arch,
                 std::vector<test::PayloadFile> files) {
  test::make_bundle(bundle.dir.path(), {.arch = arch, .files = std::move(files)});
  VerifyOptions request;
  request.bundle_dir = bundle.dir.path();
  bundle.plan = verify_and_plan(request);
}

// A host with 32-bit libc gives an x86_64 bundle two ld-linux files; the 32-bit one comes first
// in the table here, so only its header can tell it is not the loader. The library directories
// follow the table (lib64 before lib/x86_64-linux-gnu), not the manifest's byte order.
TEST(LaunchPlan, X86_64BundleHoldingThe32BitLoaderToo) {
  PlannedBundle bundle;
  plan_bundle(bundle, "x86_64",
              {{"lib/lib/ld-linux.so.2", kI386Loader},
               {"lib/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2", kX86_64Loader},
               {"lib/lib/x86_64-linux-gnu/libc.so.6", "libc"},
               {"lib/lib/x86_64-linux-gnu/libm.so.6", "libm"},
               {"lib/lib64/libm.so.6", "libm"},
               {"lib/libextra.so", "included"},
               {"etc/ld.so.cache", "cache"}});
  ASSERT_TRUE(bundle.plan) << message(bundle.plan.error());
  const std::string root = bundle.dir.path().string();
  EXPECT_EQ(bundle.plan->loader, root + "/lib/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2");
  EXPECT_EQ(bundle.plan->library_dirs,
            (std::vector<std::string>{root + "/lib/lib64", root + "/lib/lib/x86_64-linux-gnu",
                                      root + "/lib"}));
  EXPECT_EQ(bundle.plan->manifest.arch, "x86_64");
}

// Both x86-64 loaders present: the first of the table's order is taken.
TEST(LaunchPlan, FirstMatchingLoaderInTableOrder) {
  PlannedBundle bundle;
  plan_bundle(bundle, "x86_64",
              {{"lib/lib64/ld-linux-x86-64.so.2", kX86_64Loader},
               {"lib/lib/ld-linux.so.2", kI386Loader},
               {"lib/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2", kX86_64Loader + "other"}});
  ASSERT_TRUE(bundle.plan) << message(bundle.plan.error());
  EXPECT_EQ(bundle.plan->loader, (bundle.dir / "lib/lib64/ld-linux-x86-64.so.2").string());
  EXPECT_EQ(bundle.plan->library_dirs, std::vector<std::string>{(bundle.dir / "lib").string()});
}

// Without a loader of its own arch a bundle cannot start anything: exec's "Exec format error".
TEST(LaunchPlan, NoLoaderOfTheManifestsArchIsAnExecFormatError) {
  const struct {
    std::string arch;
    std::vector<test::PayloadFile> files;
  } cases[] = {
      {"x86_64", {{"lib/lib/ld-linux.so.2", kI386Loader}}},
      {"x86_64", {{"lib/lib64/ld-linux-x86-64.so.2", kAarch64Loader}}},
      {"aarch64", {{"lib/lib/ld-linux-aarch64.so.1", kX86_64Loader}}},
      {"x86_64", {{"lib/lib64/libc.so.6", "libc"}}},
      // A loader's name outside the table's places is no loader.
      {"x86_64", {{"lib/ld-linux-x86-64.so.2", kX86_64Loader}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.files[0].path);
    PlannedBundle bundle;
    plan_bundle(bundle, c.arch, c.files);
    ASSERT_FALSE(bundle.plan);
    EXPECT_EQ(message(bundle.plan.error()), "i/o: Exec format error (os error 8)");
  }

  PlannedBundle unknown;
  plan_bundle(unknown, "riscv64", {{"lib/lib64/ld-linux-x86-64.so.2", kX86_64Loader}});
  ASSERT_FALSE(unknown.plan);
  EXPECT_TRUE(std::holds_alternative<UnsupportedArch>(unknown.plan.error()));
}

// An architecture is one record in the tables: handed a table the program does not ship, build,
// verify and the plan treat its bundles like any other, with no other change.
TEST(LaunchPlan, AMadeUpArchitectureIsOneMoreTable) {
  constexpr std::uint16_t kToyMachine = 0x7a7a;
  const HostEntry toy_entries[] = {{"/lib/ld-toy.so.1", true},
                                   {"/lib/toy-linux/libc.so.6", false},
                                   {"/lib/toy-linux/libm.so.6", false}};
  std::vector<HostSourceTable> tables(host_source_tables().begin(), host_source_tables().end());
  tables.push_back({"toy", {ELFCLASS64, ELFDATA2MSB, kToyMachine}, toy_entries});

  test::TempDir dir;
  test::write_file(dir / "root/lib/ld-toy.so.1", elf_image(ELFCLASS64, ELFDATA2MSB, kToyMachine));
  test::write_file(dir / "root/lib/toy-linux/libc.so.6", "toy libc");
  BuildRequest build;
  build.version = "1.0";
  build.out = dir / "bundle";
  build.from = dir / "root";
  build.arch = "toy";
  const Result<BundleManifest> built = build_bundle(build, tables);
  ASSERT_TRUE(built) << message(built.error());
  EXPECT_EQ(built->arch, "toy");
  const Result<BundleManifest> unknown_here = build_bundle(build);
  ASSERT_FALSE(unknown_here);
  EXPECT_EQ(message(unknown_here.error()),
            "no host source table for arch toy \u2014 supported: x86_64, aarch64");

  VerifyOptions request;
  request.bundle_dir = dir / "bundle";
  request.require_arch = "toy";
  Result<VerifiedBundle> verified = verify_bundle(request);
  ASSERT_TRUE(verified) << message(verified.error());
  const Result<PlannedLaunch> plan =
      plan_from_verified(request.bundle_dir, std::move(*verified), tables);
  ASSERT_TRUE(plan) << message(plan.error());
  EXPECT_EQ(plan->loader, (dir / "bundle/lib/lib/ld-toy.so.1").string());
  EXPECT_EQ(plan->library_dirs,
            (std::vector<std::string>{(dir / "bundle/lib/lib/toy-linux").string(),
                                      (dir / "bundle/lib").string()}));
}

// The plan is made only from a bundle that verifies.
TEST(LaunchPlan, TamperedLoaderFailsAsVerifyDoes) {
  PlannedBundle bundle;
  test::make_bundle(bundle.dir.path(),
                    {.files = {{"lib/lib64/ld-linux-x86-64.so.2", kX86_64Loader}}});
  test::write_file(bundle.dir / "lib/lib64/ld-linux-x86-64.so.2", kI386Loader);
  VerifyOptions request;
  request.bundle_dir = bundle.dir.path();
  const Result<PlannedLaunch> plan = verify_and_plan(request);
  ASSERT_FALSE(plan);
  EXPECT_TRUE(std::holds_alternative<HashMismatch>(plan.error()));
}

TEST(LaunchArgv, LoaderLibraryPathProgramAndArguments) {
  const std::vector<std::string> dirs = {"/b/lib/lib64", "/b/lib"};
  const std::vector<std::string> args = {"-l", "", "two words"};
  const Result<std::vector<std::string>> argv =
      launch_argv("/b/lib/lib64/ld-linux-x86-64.so.2", dirs, "/bin/ls", args);
  ASSERT_TRUE(argv) << message(argv.error());
  EXPECT_EQ(*argv,
            (std::vector<std::string>{"/b/lib/lib64/ld-linux-x86-64.so.2", "--library-path",
                                      "/b/lib/lib64:/b/lib", "/bin/ls", "-l", "", "two words"}));
}

// --library-path splits at ':', so a bundle under a path holding one would search other
// directories; and a program starting with '-' would be read as one of the loader's options.
// One table of what the loader would read otherwise: ':' and ';' split --library-path, '$'
// starts $ORIGIN, $LIB or $PLATFORM, a program without '/' is looked for among the library
// directories rather than on PATH, and a leading '-' makes an option of it.
TEST(LaunchArgv, RefusesWhatTheLoaderWouldReadOtherwise) {
  const struct {
    std::string loader;
    std::vector<std::string> dirs;
    std::string program;
  } cases[] = {
      {"/b/ld.so", {"/srv/a:b/lib/lib64", "/srv/a:b/lib"}, "/bin/true"},
      {"/b/ld.so", {"/b/lib", "/b/lib:"}, "/bin/true"},
      {"/b/ld.so", {"/x/rt;v2/1.0/lib"}, "/bin/true"},
      {"/b/ld.so", {"/x/$LIB/1.0/lib"}, "/bin/true"},
      {"/b/ld.so", {"/x/$ORIGIN/lib"}, "/bin/true"},
      {"/x/rt;v2/ld.so", {"/b/lib"}, "/bin/true"},
      {"/x/$PLATFORM/ld.so", {"/b/lib"}, "/bin/true"},
      {"/x/a:b/ld.so", {"/b/lib"}, "/bin/true"},
      {"/b/ld.so", {"/b/lib"}, "/bin/a:b"},
      {"/b/ld.so", {"/b/lib"}, "/bin/a;b"},
      {"/b/ld.so", {"/b/lib"}, "/bin/$LIB"},
      {"/b/ld.so", {"/b/lib"}, "cat"},
      {"/b/ld.so", {"/b/lib"}, "libc.so.6"},
      {"/b/ld.so", {"/b/lib"}, "--list"},
      {"/b/ld.so", {"/b/lib"}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.loader + " " + c.dirs.back() + " " + c.program);
    const Result<std::vector<std::string>> argv = launch_argv(c.loader, c.dirs, c.program, {});
    ASSERT_FALSE(argv);
    EXPECT_EQ(message(argv.error()), "i/o: Invalid argument (os error 22)");
  }
  // A relative program with a '/' is the caller's to resolve, as exec would.
  EXPECT_TRUE(launch_argv("/b/ld.so", std::vector<std::string>{"/b/lib"}, "./app", {}));
}

// argv[0] reaches the program through the loader's --argv0 when the verified loader has it;
// without it only the default, the program's own path, can be had.
TEST(LaunchCommand, SetsArgv0OnlyThroughALoaderThatOffersIt) {
  PlannedLaunch plan;
  plan.loader = "/b/ld.so";
  plan.library_dirs = {"/b/lib"};
  const std::vector<std::string> args = {"-x"};
  plan.loader_takes_argv0 = true;
  EXPECT_EQ(*launch_command(plan, "/bin/app", "app", args),
            (std::vector<std::string>{"/b/ld.so", "--argv0", "app", "--library-path", "/b/lib",
                                      "/bin/app", "-x"}));
  EXPECT_EQ(*launch_command(plan, "/bin/app", std::nullopt, args),
            (std::vector<std::string>{"/b/ld.so", "--library-path", "/b/lib", "/bin/app", "-x"}));
  plan.loader_takes_argv0 = false;
  EXPECT_EQ(*launch_command(plan, "/bin/app", "/bin/app", args),
            (std::vector<std::string>{"/b/ld.so", "--library-path", "/b/lib", "/bin/app", "-x"}));
  const Result<std::vector<std::string>> refused = launch_command(plan, "/bin/app", "app", args);
  ASSERT_FALSE(refused);
  EXPECT_EQ(message(refused.error()), "i/o: Operation not supported (os error 95)");
}

}  // namespace
}  // namespace srb
