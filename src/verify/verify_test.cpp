#include "verify/verify.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <variant>

#include "core/error.hpp"
#include "tests/support/beneath_resolver.hpp"
#include "tests/support/bundle_fixture.hpp"
#include "tests/support/descriptor_limit.hpp"
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

  const Result<BundleManifest> verified =
      verify_bundle({temp.path(), "aarch64", manifest.publisher_hex, RequireSignature::yes, "2.1"});
  ASSERT_TRUE(verified.has_value()) << message(verified.error());
  EXPECT_EQ(*verified, manifest);
}

// The heads come from the files verify digested: only those wanted, each cut to the size asked
// (a shorter file whole).
TEST(VerifyBundle, HandsBackTheFirstBytesOfTheFilesWanted) {
  const test::TempDir temp;
  test::make_bundle(temp.path(),
                    {.files = {{"lib/a", "abcdefgh"}, {"lib/b", "xy"}, {"lib/c", "ignored"}}});
  FileHeads heads{
      .wanted = [](std::string_view path) { return path != "lib/c"; }, .size = 4, .heads = {}};
  VerifyRequest request;
  request.bundle_dir = temp.path();
  const Result<BundleManifest> verified = verify_bundle(request, &heads);
  ASSERT_TRUE(verified.has_value()) << message(verified.error());
  EXPECT_EQ(heads.heads, (decltype(heads.heads){{"lib/a", "abcd"}, {"lib/b", "xy"}}));
}

// Descriptors of digested files are closed in batches. With room for only a few more than the
// bundle and its directories need, verify must close a batch early rather than fail with EMFILE.
TEST(VerifyBundle, VerifiesMoreFilesThanTheDescriptorLimitAllowsOpenAtOnce) {
  const test::TempDir temp;
  test::BundleParts parts;
  for (int i = 0; i < 100; ++i)
    parts.files.push_back({"lib/f" + std::to_string(i), std::to_string(i)});
  test::make_bundle(temp.path(), parts);
  VerifyRequest request;
  request.bundle_dir = temp.path();
  Result<BundleManifest> verified = BundleManifest{};
  {
    const test::DescriptorLimit limit(test::DescriptorLimit::open_now() + 6);
    verified = verify_bundle(request);
  }
  ASSERT_TRUE(verified.has_value()) << message(verified.error());
  EXPECT_EQ(verified->files.size(), 100u);
}

class VerifyInsideTheBundle : public test::BothResolvers {};
INSTANTIATE_TEST_SUITE_P(BothResolvers, VerifyInsideTheBundle, test::kBothResolvers,
                         test::resolver_name);

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

  const auto verify_dir = [](const fs::path& dir) {
    VerifyRequest request;
    request.bundle_dir = dir;
    return verify_bundle(request);
  };
  // Read through its link, the manifest is checked in full; what fails is the file it links to,
  // which the manifest does not list.
  const Result<BundleManifest> inside = verify_dir(temp / "inside");
  ASSERT_FALSE(inside.has_value());
  EXPECT_EQ(message(inside.error()), message(UnlistedPayloadFile{"real.toml"}));

  const Result<BundleManifest> manifest_out = verify_dir(temp / "manifest_out");
  ASSERT_FALSE(manifest_out.has_value());
  EXPECT_TRUE(std::holds_alternative<ManifestMissing>(manifest_out.error()));

  const Result<BundleManifest> lib_out = verify_dir(temp / "lib_out");
  ASSERT_FALSE(lib_out.has_value());
  EXPECT_EQ(message(lib_out.error()), message(MissingFromPayload{"lib/a"}));
}

}  // namespace
}  // namespace srb
