#include "core/join_path.hpp"

#include <gtest/gtest.h>

namespace srb {
namespace {

TEST(JoinPath, FollowsTheSlashAndAbsoluteRules) {
  struct Case {
    std::string_view left, right, expected;
  };
  const Case cases[] = {
      {"/usr/lib/sarn-runtime", "1.0", "/usr/lib/sarn-runtime/1.0"},
      {"/opt/b/", "1.0", "/opt/b/1.0"},            // no second slash
      {"/", ".local/share", "/.local/share"},      // root as the left side
      {"", "1.0", "1.0"},                          // empty left adds no slash
      {"/opt/b", "", "/opt/b/"},                   // empty right still gets the separator
      {"/opt/b/", "", "/opt/b/"},                  //
      {"", "", ""},                                //
      {"/opt/b", "/abs/v", "/abs/v"},              // an absolute right side replaces the left
      {"", "/abs/v", "/abs/v"},                    //
      {"rel", "1.0", "rel/1.0"},                   // relative left stays relative
      {"/a//b/./", "../c//d", "/a//b/./../c//d"},  // nothing is normalised
      {"/a\xff", "v\xfe", "/a\xff/v\xfe"},         // bytes, not text
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << c.left << "\" + \"" << c.right << '"');
    EXPECT_EQ(join_path(c.left, c.right), c.expected);
  }
}

}  // namespace
}  // namespace srb
