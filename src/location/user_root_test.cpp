#include "location/user_root.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace srb {
namespace {

TEST(UserBundleRoot, ChoosesTheRootFromEnvironmentAndUserDatabase) {
  struct Case {
    const char* name;
    UserEnvironment env;
    std::optional<std::string> database_home;
    std::optional<std::string> expected;  // absent: DataDirUnresolvable
  };
  const Case cases[] = {
      {"bundle dir is the root itself", {"/opt/b", "/x", "/home/u"}, "/db", "/opt/b"},
      {"bundle dir keeps its trailing slash", {"/opt/b/", "", ""}, std::nullopt, "/opt/b/"},
      {"relative bundle dir stays relative", {"b", "", ""}, std::nullopt, "b"},
      {"bundle dir wins even without a home", {"/opt/b", "", ""}, std::nullopt, "/opt/b"},
      {"absolute XDG_DATA_HOME", {"", "/x", "/home/u"}, "/db", "/x/sarn-runtime"},
      {"XDG_DATA_HOME with trailing slash", {"", "/x/", ""}, std::nullopt, "/x/sarn-runtime"},
      {"relative XDG_DATA_HOME ignored",
       {"", "x", "/home/u"},
       "/db",
       "/home/u/.local/share/sarn-runtime"},
      {"HOME with trailing slash",
       {"", "", "/home/u/"},
       "/db",
       "/home/u/.local/share/sarn-runtime"},
      {"HOME is the root directory", {"", "", "/"}, std::nullopt, "/.local/share/sarn-runtime"},
      {"relative HOME is used as it is",
       {"", "", "h"},
       std::nullopt,
       "h/.local/share/sarn-runtime"},
      {"no HOME falls back to the database",
       {"", "", ""},
       "/root",
       "/root/.local/share/sarn-runtime"},
      {"relative XDG and no HOME use the database",
       {"", "x", ""},
       "/root",
       "/root/.local/share/sarn-runtime"},
      {"no home anywhere", {"", "", ""}, std::nullopt, std::nullopt},
      {"empty home in the database", {"", "", ""}, "", std::nullopt},
      {"relative XDG does not stand in for a home", {"", "x", ""}, std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Result<std::string> root = user_bundle_root(c.env, [&] { return c.database_home; });
    if (c.expected) {
      ASSERT_TRUE(root.has_value()) << message(root.error());
      EXPECT_EQ(*root, *c.expected);
    } else {
      ASSERT_FALSE(root.has_value()) << *root;
      EXPECT_TRUE(std::holds_alternative<DataDirUnresolvable>(root.error()));
    }
  }
}

// The user database is read only when no variable settles the question.
TEST(UserBundleRoot, ReadsTheUserDatabaseOnlyWithoutHome) {
  const UserEnvironment settled[] = {{"/opt/b", "", ""}, {"", "/x", ""}, {"", "", "/home/u"}};
  for (const UserEnvironment& env : settled) {
    int lookups = 0;
    const Result<std::string> root = user_bundle_root(env, [&] {
      ++lookups;
      return std::optional<std::string>("/db");
    });
    ASSERT_TRUE(root.has_value());
    EXPECT_EQ(lookups, 0) << *root;
  }
}

}  // namespace
}  // namespace srb
