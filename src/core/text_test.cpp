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

}  // namespace
}  // namespace srb
