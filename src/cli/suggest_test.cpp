#include "cli/suggest.hpp"

#include <gtest/gtest.h>

namespace srb {
namespace {

struct SuggestCase {
  std::string word;
  std::optional<std::string> expected;
};

TEST(ClosestName, SuggestsOnlyLikelyTypos) {
  const std::vector<std::string> names = {"build", "verify", "path", "key", "help"};
  const SuggestCase cases[] = {
      {"biuld", "build"},   // swapped neighbours are one edit
      {"buld", "build"},    // one left out
      {"Build", "build"},   // case counts as an edit, a small one
      {"verfy", "verify"},  // one left out
      {"vrfy", "verify"},   // two edits on six letters
      {"pth", "path"},     {"kye", "key"},
      {"hepl", "help"},    {"bld", std::nullopt},  // two edits on five letters is too far
      {"keys", "key"},     {"generate", std::nullopt},
      {"", std::nullopt},  {"x", std::nullopt},
  };
  for (const SuggestCase& c : cases) {
    SCOPED_TRACE(c.word);
    EXPECT_EQ(closest_name(c.word, names), c.expected);
  }
}

TEST(ClosestName, PrefersTheNearestThenTheEarliest) {
  EXPECT_EQ(closest_name("require-arc", {"require-signature", "require-arch"}), "require-arch");
  EXPECT_EQ(closest_name("pat", {"path", "part"}), "path");
  EXPECT_EQ(closest_name("pat", {"part", "path"}), "part");
}

}  // namespace
}  // namespace srb
