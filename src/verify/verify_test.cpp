#include "verify/verify.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <variant>

#include "core/error.hpp"
#include "tests/support/bundle_fixture.hpp"
#include "tests/support/descriptor_limit.hpp"
#include "tests/support/syscall_faults.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb {
namespace {

// The root hash is taken over a sorted copy; the manifest handed back keeps its own order.
TEST(VerifyBundle, ReturnsTheManifestAsRead) {
  const test::TempDir temp;
  const SigningKey key = test::test_key();
  BundleManifest manifest = test::make_payload(
      temp.path(), {"2.1", "aarch64", {{"lib/b", "b"}, {"etc/c", "c"}, {"lib/a", "a"}}, &key});
  std::reverse(manifest.files.begin(), manifest.files.end());
  test::write_manifest(temp.path(), manifest);

  const Result<VerifiedBundle> verified =
      verify_bundle({temp.path(), "aarch64", manifest.publisher_hex, RequireSignature::yes, "2.1"});
  ASSERT_TRUE(verified.has_value()) << message(verified.error());
  EXPECT_EQ(verified->manifest, manifest);
}

void expect_status_of(const std::filesystem::path& path, const CheckedStatus& checked) {
  struct stat status {};
  ASSERT_EQ(::lstat(path.c_str(), &status), 0) << path;
  EXPECT_EQ(checked.device, status.st_dev) << path;
  EXPECT_EQ(checked.inode, status.st_ino) << path;
  EXPECT_EQ(checked.owner, status.st_uid) << path;
  EXPECT_EQ(checked.group, status.st_gid) << path;
  EXPECT_EQ(checked.mode, status.st_mode) << path;
}

// What verify hands back is what it opened and read: each listed file in the manifest's order
// with its status and first bytes (a shorter file whole), bundle.toml's status, and every
// directory of the payload, the bundle's own first.
TEST(VerifyBundle, RecordsWhatItCheckedAsItSawIt) {
  const test::TempDir temp;
  const std::string long_file(100, 'x');
  test::make_bundle(temp.path(), {.files = {{"lib/b", "xy"}, {"lib/a", long_file}, {"etc/c", ""}}});
  VerifyOptions request;
  request.bundle_dir = temp.path();
  const Result<VerifiedBundle> verified = verify_bundle(request);
  ASSERT_TRUE(verified.has_value()) << message(verified.error());

  std::vector<std::pair<std::string, std::string>> heads;
  for (const CheckedFile& file : verified->files) {
    heads.emplace_back(file.path, file.head);
    expect_status_of(temp / file.path, file.status);
  }
  std::vector<std::pair<std::string, std::string>> expected;
  for (const BundleFile& file : verified->manifest.files)
    expected.emplace_back(file.path, file.path == "lib/a"   ? std::string(64, 'x')
                                     : file.path == "lib/b" ? "xy"
                                                            : "");
  EXPECT_EQ(heads, expected);
  expect_status_of(temp / "bundle.toml", verified->manifest_file);
  ASSERT_EQ(verified->directories.size(), 3u);
  EXPECT_EQ(verified->directories.front().path, "");
  for (const CheckedDirectory& directory : verified->directories)
    expect_status_of(temp / directory.path, directory.status);
}

// Verify holds the bundle, one file's parent directory and the file at a time, and the listing
// lets go of its outer directories on EMFILE: with room for only a few more descriptors than the
// bundle needs, it verifies however many directories the files lie in.
TEST(VerifyBundle, VerifiesWithOnlyAFewDescriptorsToSpare) {
  const test::TempDir temp;
  test::BundleParts parts;
  for (int i = 0; i < 400; ++i)
    parts.files.push_back(
        {"lib/d" + std::to_string(i % 40) + "/f" + std::to_string(i), std::to_string(i)});
  test::make_bundle(temp.path(), parts);
  VerifyOptions request;
  request.bundle_dir = temp.path();
  for (rlim_t spare : {4, 5, 8}) {
    Result<VerifiedBundle> verified = VerifiedBundle{};
    {
      const test::DescriptorLimit limit(test::DescriptorLimit::open_now() + spare);
      verified = verify_bundle(request);
    }
    ASSERT_TRUE(verified.has_value()) << spare << ": " << message(verified.error());
    EXPECT_EQ(verified->files.size(), 400u);
  }
}

class VerifyInsideTheBundle : public ::testing::TestWithParam<test::Openat2> {};
INSTANTIATE_TEST_SUITE_P(Openat2, VerifyInsideTheBundle,
                         ::testing::Values(test::Openat2::offered, test::Openat2::refused),
                         [](const auto& info) {
                           return info.param == test::Openat2::offered ? "offered" : "refused";
                         });

// bundle.toml and the listed files are found through links that stay inside the bundle, and
// through no other: whatever the kernel offers, a link out finds nothing. The files outside are
// valid in every way, so only the rule can make these bundles fail.
TEST_P(VerifyInsideTheBundle, FollowsLinksInsideAndFindsNothingOutside) {
  namespace fs = std::filesystem;
  const test::TempDir temp;
  const BundleManifest outside = test::make_bundle(temp / "outside", {.files = {{"lib/a", "a"}}});

  test::make_bundle(temp / "inside", {.files = {{"lib/a", "a"}}});
  fs::rename(temp / "inside/bundle.toml", temp / "inside/real.toml");
  fs::create_symlink("real.toml", temp / "inside/bundle.toml");

  fs::create_directories(temp / "manifest_out");
  fs::create_symlink("../outside/bundle.toml", temp / "manifest_out/bundle.toml");

  test::write_manifest(temp / "lib_out", outside);
  fs::create_symlink(temp / "outside/lib", temp / "lib_out/lib");

  // Each verify's message, computed with openat2 offered or refused as an older kernel would.
  const std::vector<std::string> messages = test::run_with_openat2(GetParam(), [&] {
    std::vector<std::string> texts;
    for (const char* dir : {"inside", "manifest_out", "lib_out"}) {
      VerifyOptions request;
      request.bundle_dir = temp / dir;
      const Result<VerifiedBundle> verified = verify_bundle(request);
      texts.push_back(verified ? "verified" : message(verified.error()));
    }
    return texts;
  });
  // Read through its link, the manifest is checked in full; what fails is the file it links to,
  // which the manifest does not list. A manifest or a file reached through a link out is not
  // there.
  EXPECT_EQ(messages,
            (std::vector<std::string>{message(UnlistedPayloadFile{"real.toml"}),
                                      message(ManifestMissing{temp / "manifest_out/bundle.toml"}),
                                      message(MissingFromPayload{"lib/a"})}));
}

}  // namespace
}  // namespace srb
