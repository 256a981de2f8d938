#include "manifest/nesting_bound.hpp"

#include <gtest/gtest.h>

#include <string>

namespace srb {
namespace {

// Each text nests `depth` levels deep; the bound may be larger, never smaller.
TEST(NestingBound, CoversEveryWayToNest) {
  const struct {
    std::string text;
    std::size_t depth;
  } cases[] = {
      {"k.k.k.k = 1\n", 4},
      {"[a.b.c]\nx.y.z = 1\n", 6},
      {"[[a.b]]\n[[a.b]]\nc.d = 1\n", 4},
      {"x = [[[[1]]]]\n", 5},
      {"x = {a.b = {c.d = 1}}\n", 5},
      // An inline table continues over lines inside a multi-line array.
      {"x = {a.b.c = [\n{d.e.f = [\n{g.h.i = 1}]}]}\n", 13},
      // Closing brackets inside strings and comments do not close anything.
      {"x = [[[\"]]]]\", ''']]]''', [[[1]]]]]] # ]]]]\n", 7},
      // A one-line string ends at the line feed, where the parser stops reading it as well.
      {"x = \"a\ny = [[[[1]]]]\n", 5},
      // Up to two quotes before the closing three belong to a multi-line string.
      {"x = ['''a'''', {a.b.c.d = 1}]\n", 6},
      {"x = [\"\"\"a\\\"\"\"\"\", {a.b.c.d = 1}]\n", 6},
  };
  for (const auto& c : cases)
    EXPECT_GE(nesting_bound(c.text), c.depth) << c.text;
}

// File names hold dots and hashes are long, but inside strings neither nests anything: a manifest
// of any length is bounded like one of a single entry.
TEST(NestingBound, IgnoresStringsAndComments) {
  const std::string entry =
      "{ path = \"lib/x86_64-linux-gnu/libc.so.6\", hash = 'a.b.c', size = 1 }, # v1.2.3\n";
  std::string many = "files = [\n";
  for (int i = 0; i < 10000; ++i)
    many += entry;
  many += "]\n";
  EXPECT_EQ(nesting_bound(many), nesting_bound("files = [\n" + entry + "]\n"));
  EXPECT_LT(nesting_bound(many), 10u);
}

}  // namespace
}  // namespace srb
