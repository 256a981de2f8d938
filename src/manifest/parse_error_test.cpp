#include "manifest/parse_error.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/text.hpp"
#include "manifest/manifest.hpp"

namespace srb {
namespace {

TEST(DescribeParseError, PlacesTheCaretUnderTheCharacter) {
  struct Case {
    const char* name;
    std::string text;
    TextPosition where;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"multi-byte characters count once",
       "v = \"\xC3\xA9\xE6\x97\xA5\" $\n",
       {1, 9},
       "TOML parse error at line 1, column 9\n  |\n1 | v = \"\xC3\xA9\xE6\x97\xA5\" $\n"
       "  |         ^\nwhy"},
      {"tabs are copied so the caret stays aligned",
       "v =\t\t$\n",
       {1, 6},
       "TOML parse error at line 1, column 6\n  |\n1 | v =\t\t$\n  |    \t\t^\nwhy"},
      {"CRLF line ending is not shown",
       "a = 1\r\nb = $\r\n",
       {2, 5},
       "TOML parse error at line 2, column 5\n  |\n2 | b = $\n  |     ^\nwhy"},
      {"empty text", "", {1, 1}, "TOML parse error at line 1, column 1\n  |\n1 |\n  | ^\nwhy"},
      {"line past the end",
       "a = 1\n",
       {2, 1},
       "TOML parse error at line 2, column 1\n  |\n2 |\n  | ^\nwhy"},
      {"far past the end",
       "a",
       {4000000000u, 7},
       "TOML parse error at line 4000000000, column 7\n           |\n4000000000 |\n"
       "           | ^\nwhy"},
      {"last line without a line feed",
       "a = 1\nb = [",
       {2, 6},
       "TOML parse error at line 2, column 6\n  |\n2 | b = [\n  |      ^\nwhy"},
      {"caret stops one past the end",
       "ab\n",
       {1, 90},
       "TOML parse error at line 1, column 90\n  |\n1 | ab\n  |   ^\nwhy"},
      {"position zero reads as one",
       "ab\n",
       {0, 0},
       "TOML parse error at line 1, column 1\n  |\n1 | ab\n  | ^\nwhy"},
      {"wider gutter from line 10",
       "\n\n\n\n\n\n\n\n\nx = ?\n",
       {10, 5},
       "TOML parse error at line 10, column 5\n   |\n10 | x = ?\n   |     ^\nwhy"},
      {"control characters and bad bytes show as U+FFFD",
       "a\x1b[2J\xC2\x9B\xFF\x7F$",
       {1, 8},
       "TOML parse error at line 1, column 8\n  |\n1 | a\xEF\xBF\xBD[2J\xEF\xBF\xBD\xEF\xBF\xBD"
       "\xEF\xBF\xBD$\n  |        ^\nwhy"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(describe_parse_error(c.text, c.where, "why"), c.expected);
  }
}

// The excerpt's third and fourth lines: the source line and the caret line.
std::pair<std::string, std::string> excerpt_lines(const std::string& detail) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start <= detail.size();) {
    const std::size_t lf = std::min(detail.find('\n', start), detail.size());
    lines.push_back(detail.substr(start, lf - start));
    start = lf + 1;
  }
  return {lines.at(2), lines.at(3)};
}

TEST(DescribeParseError, CutsLongLinesToAWindowAroundTheCaret) {
  // Every character of the line is distinct in its position mod 26, so the character above the
  // caret tells where the window went.
  std::string line;
  for (int i = 0; i < 5000; ++i)
    line += static_cast<char>('a' + i % 26);
  for (const std::uint32_t column : {1u, 2u, 60u, 61u, 62u, 500u, 4940u, 5000u, 5001u}) {
    SCOPED_TRACE(column);
    const auto [source, caret] =
        excerpt_lines(describe_parse_error(line + "\n", {1, column}, "why"));
    EXPECT_LE(source.size(), 4 + 3 + 120 + 3);
    const std::size_t at = caret.find('^');
    ASSERT_NE(at, std::string::npos);
    if (column <= line.size()) {
      ASSERT_LT(at, source.size());
      EXPECT_EQ(source[at], line[column - 1]);
    } else {
      EXPECT_EQ(at, source.size()) << "one past the end";
    }
    EXPECT_EQ(source.starts_with("1 | ..."), column > 61);
    EXPECT_EQ(source.ends_with("..."), column < 4941);
  }
}

// Whatever the document holds, the detail is five lines of printable text: a control character
// the parser quotes in its reason must not reach the terminal either.
TEST(DescribeParseError, HoldsNoControlCharacterButItsLineFeeds) {
  for (const std::string text : {"\xC2\x9B = 1\n", "\x1B = 1\n", "v = \"a\x1B[31m\"\n",
                                 "\"a\\u001b\\n\" = 1\n\"a\\u001b\\n\" = 2\n"}) {
    SCOPED_TRACE(text);
    const Result<BundleManifest> read = parse_manifest(text);
    ASSERT_FALSE(read);
    const std::string detail = std::get<ManifestParse>(read.error()).detail;
    ASSERT_TRUE(is_valid_utf8(detail));
    std::size_t line_feeds = 0;
    for (std::size_t pos = 0; pos < detail.size();) {
      const std::size_t length = utf8_sequence_length(static_cast<unsigned char>(detail[pos]));
      const char32_t c = utf8_code_point(detail.substr(pos, length));
      line_feeds += c == '\n';
      EXPECT_TRUE(c == '\n' || c == '\t' || !is_control_character(c))
          << static_cast<unsigned>(c) << " in " << detail;
      pos += length;
    }
    EXPECT_EQ(line_feeds, 4u) << detail;
  }
}

TEST(DescribeParseError, AgreesWithTheParserOnColumns) {
  // toml++ counts characters; the caret must land under the offending "$" for each line.
  const std::vector<std::string> lines = {"k = \"\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80\" $",
                                          "k =\t\t$", "\"\xC3\xA9\" = 1 $", "k = [1, 2, $]"};
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    const Result<BundleManifest> read = parse_manifest("a = 1\r\n" + line + "\r\n");
    ASSERT_FALSE(read);
    const std::string detail = std::get<ManifestParse>(read.error()).detail;
    const auto [source, caret] = excerpt_lines(detail);
    EXPECT_EQ(source, "2 | " + line);
    // Blank out each character (tab kept) of the source line, then the caret must follow.
    std::string expected_caret = "  | ";
    for (std::size_t i = 4; i < source.size() && source[i] != '$'; ++i) {
      const auto byte = static_cast<unsigned char>(source[i]);
      if ((byte & 0xC0) != 0x80) expected_caret += source[i] == '\t' ? '\t' : ' ';
    }
    EXPECT_EQ(caret, expected_caret + "^");
  }
}

}  // namespace
}  // namespace srb
