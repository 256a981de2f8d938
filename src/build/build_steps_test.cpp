#include "build/build_steps.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "manifest/digest.hpp"
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

// Each copy is digested as it is made, so a build that stops after the copies leaves them with
// their final bits, and the list holds their digests in copy order.
TEST_F(BuildSteps, GatheredCopiesCarryTheirDigestsAndFinalBits) {
  const Result<GatheredBundle> bundle = gather();
  ASSERT_TRUE(bundle) << message(bundle.error());
  ASSERT_EQ(bundle->files.size(), 2u);
  const struct {
    const char* bundle_path;
    const char* source;
    mode_t bits;
  } expected[] = {{"lib/lib64/ld-linux-x86-64.so.2", "root/lib64/ld-linux-x86-64.so.2", 0755},
                  {"etc/ld.so.cache", "root/etc/ld.so.cache", 0644}};
  for (std::size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(expected[i].bundle_path);
    const BundleFile& file = bundle->files[i];
    EXPECT_EQ(file.path, expected[i].bundle_path);
    EXPECT_EQ(file.hash, file_digest(dir_ / expected[i].source)->hash);
    EXPECT_EQ(file.size, read_file(dir_ / expected[i].source).size());
    EXPECT_EQ(permissions_of(dir_ / "out" / file.path), expected[i].bits);
  }
  EXPECT_FALSE(fs::exists(dir_ / "out/bundle.toml"));
}

// No copy is looked at again once its digest is taken: a file put in a copy's place afterwards
// is not what the manifest lists, so it fails verification instead of being vouched for.
TEST_F(BuildSteps, AFileSwappedInAfterTheCopyIsNotWhatTheManifestLists) {
  Result<GatheredBundle> bundle = gather();
  ASSERT_TRUE(bundle) << message(bundle.error());
  const std::string genuine = bundle->files[0].hash;
  write_file(dir_ / "evil", "EVIL", 0755);
  fs::rename(dir_ / "evil", dir_ / "out/lib/lib64/ld-linux-x86-64.so.2");
  const Result<BundleManifest> manifest =
      finish_bundle(request_, *select_host_source_table("x86_64"), std::move(*bundle));
  ASSERT_TRUE(manifest) << message(manifest.error());
  EXPECT_EQ(manifest->files[1].path, "lib/lib64/ld-linux-x86-64.so.2");
  EXPECT_EQ(manifest->files[1].hash, genuine);
}

}  // namespace
}  // namespace srb
