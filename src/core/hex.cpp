#include "core/hex.hpp"

#include <algorithm>
#include <cstdio>

#include "core/text.hpp"

namespace srb {
namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The offending character as a character literal. The text is UTF-8, so a non-ASCII character
// is shown whole; its position stays the byte index of its first byte.
std::string char_literal(std::string_view text, std::size_t pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  length = std::min(length, text.size() - pos);
  const std::string_view c = text.substr(pos, length);
  if (!is_valid_utf8(c)) return "'\xEF\xBF\xBD'";  // a stray byte: U+FFFD, never raw
  if (c == "'") return "'\\''";
  if (c == "\\") return "'\\\\'";
  if (c == "\t") return "'\\t'";
  if (c == "\r") return "'\\r'";
  if (c == "\n") return "'\\n'";
  if (c == std::string_view("\0", 1)) return "'\\0'";
  // C0 and C1 control characters, U+0000..U+001F and U+007F..U+009F.
  const unsigned code = lead == 0xC2 ? static_cast<unsigned char>(c[1]) : lead;
  if (code < 0x20 || (code >= 0x7F && code <= 0x9F)) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "'\\u{%x}'", code);
    return buffer;
  }
  return "'" + std::string(c) + "'";
}

// The length that decides "odd" is counted in characters: a two-byte character is one. Every
// byte but a continuation byte starts a character. (Both readers refuse text that is not UTF-8
// before any hex is decoded; a stray byte here only has to be reported, not counted exactly.)
std::size_t count_characters(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

}  // namespace

std::string encode_hex(std::span<const unsigned char> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out(bytes.size() * 2, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    out[2 * i] = kDigits[bytes[i] >> 4];
    out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  return out;
}

HexDecoded decode_hex(std::string_view text) {
  HexDecoded result;
  if (count_characters(text) % 2 != 0) {
    result.error = "Odd number of digits";
    return result;
  }
  // Every byte before the first bad one is an ASCII digit, so that byte starts its character.
  const std::size_t bad = static_cast<std::size_t>(
      std::find_if(text.begin(), text.end(), [](char c) { return hex_value(c) < 0; }) -
      text.begin());
  if (bad != text.size()) {
    result.error =
        "Invalid character " + char_literal(text, bad) + " at position " + std::to_string(bad);
    return result;
  }
  result.bytes.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    result.bytes.push_back(
        static_cast<unsigned char>(hex_value(text[i]) << 4 | hex_value(text[i + 1])));
  }
  return result;
}

}  // namespace srb
