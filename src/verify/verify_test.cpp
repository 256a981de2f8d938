#include "verify/verify.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/error.hpp"
#include "tests/support/bundle_fixture.hpp"
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

}  // namespace
}  // namespace srb
