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
  EXPECT_EQ(display("lib/\x1B[31m\r.so"), "lib/\\u{1b}[31m\\r.so");
}

// A printed field escapes control characters as a quoted one does, but without the quotes and
// leaving quotes and backslashes alone, so that ordinary text prints as it always has.
TEST(Printable, EscapesControlCharactersOnly) {
  const struct {
    std::string bytes;
    std::string printed;
    std::string quoted;
  } cases[] = {
      {"", "", R"("")"},
      {"1.0.0 x86_64 lib/libc.so.6", "1.0.0 x86_64 lib/libc.so.6",
       R"("1.0.0 x86_64 lib/libc.so.6")"},
      {R"(a\b "c" \n)", R"(a\b "c" \n)", R"("a\\b \"c\" \\n")"},
      {"\t\r\n", R"(\t\r\n)", R"("\t\r\n")"},
      {std::string("a\0b", 3), R"(a\0b)", R"("a\0b")"},
      {"\x01\x1B[31m\x1F", R"(\u{1}\u{1b}[31m\u{1f})", R"("\u{1}\u{1b}[31m\u{1f}")"},
      {"\x7F", R"(\u{7f})", R"("\u{7f}")"},
      {"\xC2\x80\xC2\x85\xC2\x9B\xC2\x9F", R"(\u{80}\u{85}\u{9b}\u{9f})",
       R"("\u{80}\u{85}\u{9b}\u{9f}")"},
      {"\xC2\xA0\xC3\xA9\xE2\x80\x94\xE2\x80\xA8\xF0\x9F\x98\x80",
       "\xC2\xA0\xC3\xA9\xE2\x80\x94\xE2\x80\xA8\xF0\x9F\x98\x80",
       "\"\xC2\xA0\xC3\xA9\xE2\x80\x94\xE2\x80\xA8\xF0\x9F\x98\x80\""},
      {"1\n  publisher: ed25519:00\x1B[31m", R"(1\n  publisher: ed25519:00\u{1b}[31m)",
       R"("1\n  publisher: ed25519:00\u{1b}[31m")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(printable(c.bytes), c.printed);
    EXPECT_EQ(quoted_text(c.bytes), c.quoted);
  }
  // A lone C1 byte is no character: it is replaced, never passed on raw.
  EXPECT_EQ(printable("a\x9B"
                      "b\xFF"),
            "a" + replaced(1) + "b" + replaced(1));
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
