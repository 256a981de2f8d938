#include "core/hex.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace srb {
namespace {

TEST(Hex, EncodesLowerCaseHighNibbleFirst) {
  const std::vector<unsigned char> bytes = {0x00, 0x0F, 0xA5, 0xFF};
  EXPECT_EQ(encode_hex(bytes), "000fa5ff");
  EXPECT_EQ(encode_hex({}), "");
}

TEST(Hex, DecodesEitherCaseAndNamesTheFirstBadCharacter) {
  struct Case {
    std::string text;
    std::vector<unsigned char> bytes;
    std::string error;  // empty: decodes
  };
  const std::vector<Case> cases = {
      {"", {}, ""},
      {"000fA5fF", {0x00, 0x0F, 0xA5, 0xFF}, ""},
      {"abc", {}, "Odd number of digits"},
      {"zzz", {}, "Odd number of digits"},  // the length is checked before any character
      {"zz" + std::string(62, '0'), {}, "Invalid character 'z' at position 0"},
      {"0g", {}, "Invalid character 'g' at position 1"},
      {"00 1", {}, "Invalid character ' ' at position 2"},
      {"0x", {}, "Invalid character 'x' at position 1"},
      {"00'0", {}, "Invalid character '\\'' at position 2"},
      {"\\0", {}, "Invalid character '\\\\' at position 0"},
      {"0\t", {}, "Invalid character '\\t' at position 1"},
      {std::string("\0"
                   "0",
                   2),
       {},
       "Invalid character '\\0' at position 0"},
      {"\x01"
       "0",
       {},
       "Invalid character '\\u{1}' at position 0"},
      {"0\x7f", {}, "Invalid character '\\u{7f}' at position 1"},
      {"\xC2\x85"
       "0",
       {},
       "Invalid character '\\u{85}' at position 0"},
      // A non-ASCII character is shown whole, at the byte position where it starts.
      {"00\xC3\xA9"
       "0",
       {},
       "Invalid character '\xC3\xA9' at position 2"},
      {"0\xE6\x97\xA5"
       "00",
       {},
       "Invalid character '\xE6\x97\xA5' at position 1"},
      {"\xF0\x9F\x98\x80"
       "0",
       {},
       "Invalid character '\xF0\x9F\x98\x80' at position 0"},
      // Digits are counted as characters, so a two-byte character makes the count even or odd
      // as a one-byte one would.
      {std::string(63, '0') + "\xC2\x85", {}, "Invalid character '\\u{85}' at position 63"},
      {std::string(62, '0') + "\xC3\xA9", {}, "Odd number of digits"},
      {"\xC3\xA9", {}, "Odd number of digits"},
      // Bytes that are not UTF-8 never reach the message raw.
      {"0\xFF", {}, "Invalid character '\xEF\xBF\xBD' at position 1"},
      {"\xC3"
       "0",
       {},
       "Invalid character '\xEF\xBF\xBD' at position 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const HexDecoded decoded = decode_hex(c.text);
    EXPECT_EQ(decoded.error.value_or(""), c.error);
    EXPECT_EQ(decoded.bytes, c.bytes);
  }
}

}  // namespace
}  // namespace srb
