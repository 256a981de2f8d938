#include "location/bundle_path.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb {
namespace {

namespace fs = std::filesystem;

// The installed versions under both roots, in tag order, the per-user one first for a tag under
// both; directories without bundle.toml, names that are no version tag and a root that does not
// exist list nothing.
TEST(ListInstalledBundles, ListsTheVersionsHoldingAManifestInTagOrder) {
  const test::TempDir temp;
  const fs::path user = temp / "user";
  const fs::path system = temp / "system";
  for (const fs::path& manifest :
       {user / "2.0/bundle.toml", user / "1.0/bundle.toml", system / "1.0/bundle.toml",
        system / "10/bundle.toml", system / "1.5/bundle.toml/x"})
    test::write_file(manifest, "");
  fs::create_directories(user / "3.0");                 // no manifest
  test::write_file(user / "bundle.toml", "");           // the root's own, no version's
  test::write_file(system / "file-not-directory", "");  // no manifest below a file
  const Result<std::vector<InstalledVersion>> listed =
      list_installed_bundles({.user = user.string(), .system = system.string()});
  ASSERT_TRUE(listed) << message(listed.error());
  EXPECT_EQ(*listed, (std::vector<InstalledVersion>{
                         {"1.0", (user / "1.0").string(), true},
                         {"1.0", (system / "1.0").string(), false},
                         {"1.5", (system / "1.5").string(), false},
                         {"10", (system / "10").string(), false},
                         {"2.0", (user / "2.0").string(), true},
                     }));
  const Result<std::vector<InstalledVersion>> none = list_installed_bundles(
      {.user = (temp / "absent").string(), .system = (temp / "absent too").string()});
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->empty());
}

// Roots named for one request replace the environment's and the system's, for resolving as for
// finding an installed version.
TEST(FindInstalledBundle, UsesTheRootsOfTheRequest) {
  const test::TempDir temp;
  test::write_file(temp / "system/1.0/bundle.toml", "");
  const InstallRoots roots{.user = (temp / "user").string(), .system = (temp / "system").string()};
  EXPECT_EQ(*find_installed_bundle("1.0", roots), (temp / "system/1.0").string());
  EXPECT_EQ(*resolve_bundle_path("2.0", SystemOnly::no, roots), (temp / "user/2.0").string());
  EXPECT_EQ(*resolve_bundle_path("2.0", SystemOnly::yes, roots), (temp / "system/2.0").string());
  const Result<std::string> absent = find_installed_bundle("2.0", roots);
  ASSERT_FALSE(absent);
  EXPECT_EQ(message(absent.error()), "bundle version \"2.0\" is not installed: no bundle.toml in " +
                                         (temp / "user/2.0").string() + " nor in " +
                                         (temp / "system/2.0").string());
}

}  // namespace
}  // namespace srb
