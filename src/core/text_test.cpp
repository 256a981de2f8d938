#include "core/text.hpp"

#include <gtest/gtest.h>

namespace srb {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

std::string replaced(int count) {
  std::string out;
  for (int i = 0; i < count; ++i)
    out += kReplacement;
  return out;
}

struct Utf8Case {
  std::string bytes;
  std::string lossy;  // each maximal invalid subpart becomes one U+FFFD
};

TEST(LossyUtf8, ReplacesEachMaximalInvalidSubpart) {
  const Utf8Case cases[] = {
      {"", ""},
      {"plain /tmp/b", "plain /tmp/b"},
      {"\xC3\xA9\xE2\x80\x94\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x80\x94\xF0\x9F\x98\x80"},
      {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},  // U+10FFFF, the last code point
      {"a\xFF"
       "b",
       "a" + replaced(1) + "b"},
      {"\xE2\x80", replaced(1)},  // truncated at the end
      {"\xE2\x80"
       "A",
       replaced(1) + "A"},  // truncated before ASCII
      {"\xF0\x9F\x98"
       "x",
       replaced(1) + "x"},                // three of four bytes
      {"\xF0\x80\x80", replaced(3)},      // overlong lead: no valid prefix
      {"\xC0\x80", replaced(2)},          // overlong two-byte NUL
      {"\xE0\x80\xAF", replaced(3)},      // overlong three-byte
      {"\xED\xA0\x80", replaced(3)},      // surrogate U+D800
      {"\xF4\x90\x80\x80", replaced(4)},  // above U+10FFFF
      {"\xF5\x80", replaced(2)},
      {"\x80\xBF", replaced(2)},  // lone continuation bytes
      {"\xE2\x80\xE2\x80\x94", replaced(1) + "\xE2\x80\x94"},
  };
  for (const Utf8Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    EXPECT_EQ(lossy_utf8(c.bytes), c.lossy);
    EXPECT_EQ(is_valid_utf8(c.bytes), c.lossy == c.bytes);
  }
}

// The escapes of text values are pinned with the ArchMismatch message; paths add \xHH.
TEST(QuotedText, WritesInvalidBytesAsUpperCaseHex) {
  EXPECT_EQ(quoted_text("/lib/\xFF\xAB.so"), "\"/lib/\\xFF\\xAB.so\"");
  EXPECT_EQ(quoted_text("\xE2\x80"
                        "a"),
            "\"\\xE2\\x80a\"");
  EXPECT_EQ(quoted_text("\xE2\x80\x94 \xC3\xA9"), "\"\xE2\x80\x94 \xC3\xA9\"");
}

TEST(Display, ShowsPathBytesAsUtf8) {
  EXPECT_EQ(display("/tmp/b"), "/tmp/b");
  EXPECT_EQ(display("/tmp/\xFF\xC3/b\xC3\xA9"), "/tmp/\xEF\xBF\xBD\xEF\xBF\xBD/b\xC3\xA9");
}

// "a", "é" (2 bytes), "€" (3 bytes), U+1F600 (4 bytes).
constexpr std::string_view kMixed = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";

TEST(Utf8Walk, CountsAndCutsWholeCharacters) {
  EXPECT_EQ(utf8_length(""), 0u);
  EXPECT_EQ(utf8_length(kMixed), 4u);
  const struct {
    std::size_t count;
    std::size_t bytes;
  } prefixes[] = {{0, 0}, {1, 1}, {2, 3}, {3, 6}, {4, 10}, {5, 10}, {100, 10}};
  for (const auto& p : prefixes)
    EXPECT_EQ(utf8_prefix_size(kMixed, p.count), p.bytes) << p.count;
  const struct {
    std::string_view character;
    char32_t code_point;
  } characters[] = {
      {"a", U'a'}, {"\xC3\xA9", 0xE9}, {"\xE2\x82\xAC", 0x20AC}, {"\xF0\x9F\x98\x80", 0x1F600}};
  for (const auto& c : characters) {
    EXPECT_EQ(utf8_sequence_length(static_cast<unsigned char>(c.character[0])), c.character.size());
    EXPECT_EQ(utf8_code_point(c.character), c.code_point);
  }
}

TEST(Utf8Walk, ControlCharactersAreC0DelAndC1) {
  for (const char32_t c : {0x00, 0x09, 0x0A, 0x1F, 0x7F, 0x80, 0x85, 0x9F})
    EXPECT_TRUE(is_control_character(c)) << static_cast<unsigned>(c);
  for (const char32_t c : {0x20, 0x7E, 0xA0, 0xE9, 0x2028})
    EXPECT_FALSE(is_control_character(c)) << static_cast<unsigned>(c);
}

}  // namespace
}  // namespace srb
