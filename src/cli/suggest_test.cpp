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
  EXPECT_EQ(closest_name("verixy", {"verify", "verity"}), "verify");
  EXPECT_EQ(closest_name("verixy", {"verity", "verify"}), "verity");
}

// A shortened name points to the name it starts or ends, before any typo does.
TEST(ClosestName, SuggestsTheNameAShortenedWordBelongsTo) {
  const std::vector<std::string> options = {"require-publisher", "require-signature",
                                            "require-arch", "help"};
  const SuggestCase cases[] = {
      {"require-sig", "require-signature"},  // nearer to require-arch by edit distance
      {"publisher", "require-publisher"},
      {"signature", "require-signature"},
      {"require", "require-publisher"},  // several start so: the first
      {"arch", "require-arch"},
      {"he", "help"},
      {"h", std::nullopt},          // one character names nothing
      {"quire-sig", std::nullopt},  // the middle of a name is not a shortening
  };
  for (const SuggestCase& c : cases) {
    SCOPED_TRACE(c.word);
    EXPECT_EQ(closest_name(c.word, options), c.expected);
  }
  EXPECT_EQ(closest_name("gen", {"generate", "pubkey", "help"}), "generate");
  EXPECT_EQ(closest_name("pub", {"generate", "pubkey", "help"}), "pubkey");
}

}  // namespace
}  // namespace srb
