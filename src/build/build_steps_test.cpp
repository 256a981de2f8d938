#include "build/build_steps.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/temp_dir.hpp"

namespace srb {
namespace {

namespace fs = std::filesystem;
using test::make_host_root;
using test::permissions_of;
using test::read_file;
using test::TempDir;
using test::write_file;

class BuildSteps : public ::testing::Test {
 protected:
  BuildSteps() {
    make_host_root(dir_ / "root", {"/lib64/ld-linux-x86-64.so.2", "/etc/ld.so.cache"});
    ::chmod((dir_ / "root/lib64/ld-linux-x86-64.so.2").c_str(), 04755);
    request_.version = "1.0";
    request_.out = dir_ / "out";
    request_.from = dir_ / "root";
    request_.arch = "x86_64";
  }

  Result<GatheredBundle> gather() {
    return gather_bundle(request_, *select_host_source_table("x86_64"));
  }

  TempDir dir_;
  BuildRequest request_;
};

// The copies stay private from copy to digest: nobody else can write between the two.
TEST_F(BuildSteps, CopiesAreSealedWithTheirFinalBitsOnlyOnceDigested) {
  const Result<GatheredBundle> bundle = gather();
  ASSERT_TRUE(bundle) << message(bundle.error());
  EXPECT_EQ(permissions_of(dir_ / "out/lib/lib64/ld-linux-x86-64.so.2"), 0600u);
  EXPECT_EQ(permissions_of(dir_ / "out/etc/ld.so.cache"), 0600u);
  const Result<std::vector<BundleFile>> files = digest_bundle(*bundle);
  ASSERT_TRUE(files) << message(files.error());
  ASSERT_EQ(files->size(), 2u);
  EXPECT_EQ((*files)[0].path, "lib/lib64/ld-linux-x86-64.so.2");
  EXPECT_EQ((*files)[0].size, read_file(dir_ / "root/lib64/ld-linux-x86-64.so.2").size());
  EXPECT_EQ(permissions_of(dir_ / "out/lib/lib64/ld-linux-x86-64.so.2"), 0755u);
  EXPECT_EQ(permissions_of(dir_ / "out/etc/ld.so.cache"), 0644u);
}

// Whoever swaps a copy between the copy step and the digest step would have the manifest, and the
// signature over it, vouch for bytes the build never wrote.
TEST_F(BuildSteps, ACopyReplacedBeforeItsDigestFailsTheBuild) {
  for (const char* bundle_path : {"lib/lib64/ld-linux-x86-64.so.2", "etc/ld.so.cache"}) {
    SCOPED_TRACE(bundle_path);
    const Result<GatheredBundle> bundle = gather();
    ASSERT_TRUE(bundle) << message(bundle.error());
    const fs::path copy = dir_ / "out" / bundle_path;
    write_file(dir_ / "evil", "EVIL", 0755);
    fs::rename(dir_ / "evil", copy);

    const Result<std::vector<BundleFile>> files = digest_bundle(*bundle);
    ASSERT_FALSE(files);
    EXPECT_EQ(message(files.error()), "bundle file changed during the build: " + copy.string());
    EXPECT_FALSE(fs::exists(dir_ / "out/bundle.toml"));
  }
}

}  // namespace
}  // namespace srb
