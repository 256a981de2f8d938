#include "packaging/render_docs.hpp"

#include <gtest/gtest.h>

namespace srb {
namespace {

TEST(RoffText, EscapesWhatRoffWouldMisread) {
  const struct {
    std::string_view text;
    std::string_view roff;
  } cases[] = {
      {"cross-arch bundle", "cross-arch bundle"},  // a hyphen in prose stays a hyphen
      {"to `--out`", "to \\%\\fB\\-\\-out\\fR"},   // code: bold, minus signs, never hyphenated
      {"(`-C prefer-dynamic`)", "\\%(\\fB\\-C \\%prefer\\-dynamic\\fR)"},
      {"`unclosed code", "\\%\\fBunclosed \\%code\\fR"},
      {".starts like a request", "\\&.starts like a request"},
      {"'starts like a request", "\\&'starts like a request"},
      {"a\\b", "a\\eb"},
      {"dash \xE2\x80\x94 here", "dash \\[u2014] here"},
      {"cut \xE2\x80", "cut \\[uFFFD]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(roff_text(c.text), c.roff);
  }
}

TEST(SingleQuoted, SurvivesQuotesInside) {
  EXPECT_EQ(single_quoted(""), "''");
  EXPECT_EQ(single_quoted("the bundle's `lib/`"), "'the bundle'\\''s `lib/`'");
}

}  // namespace
}  // namespace srb
