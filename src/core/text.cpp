#include "core/text.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace srb {
namespace {

struct Decoded {
  std::size_t length;  // bytes consumed: the character, or the maximal invalid subpart
  bool valid;
  char32_t code_point;
};

bool in_range(unsigned char byte, unsigned char low, unsigned char high) {
  return byte >= low && byte <= high;
}

// Decodes one character at `pos`. An invalid sequence consumes its maximal subpart, the longest
// prefix that could still have started a valid character, so one U+FFFD stands for it.
Decoded decode_at(std::string_view bytes, std::size_t pos) {
  const auto lead = static_cast<unsigned char>(bytes[pos]);
  if (lead < 0x80) return {1, true, lead};
  std::size_t need = 0;
  unsigned char low = 0x80, high = 0xBF;  // range of the first continuation byte
  char32_t value = 0;
  if (in_range(lead, 0xC2, 0xDF)) {
    need = 1, value = lead & 0x1F;
  } else if (in_range(lead, 0xE0, 0xEF)) {
    need = 2, value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (in_range(lead, 0xF0, 0xF4)) {
    need = 3, value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return {1, false, 0};
  }
  std::size_t length = 1;
  for (std::size_t i = 0; i < need; ++i, low = 0x80, high = 0xBF) {
    if (pos + length >= bytes.size()) return {length, false, 0};
    const auto next = static_cast<unsigned char>(bytes[pos + length]);
    if (!in_range(next, low, high)) return {length, false, 0};
    value = (value << 6) | (next & 0x3F);
    ++length;
  }
  return {length, true, value};
}

// The first position at or after `pos` that holds a byte above 0x7F, or the end. Manifests and
// paths are nearly all ASCII, so eight bytes are tested at a time.
std::size_t skip_ascii(std::string_view bytes, std::size_t pos) {
  constexpr std::uint64_t kHighBits = 0x8080808080808080u;
  for (std::uint64_t word = 0; pos + sizeof word <= bytes.size(); pos += sizeof word) {
    std::memcpy(&word, bytes.data() + pos, sizeof word);
    if ((word & kHighBits) != 0) break;
  }
  while (pos < bytes.size() && static_cast<unsigned char>(bytes[pos]) < 0x80)
    ++pos;
  return pos;
}

void append_hex_escape(std::string& out, const char* format, unsigned value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, format, value);
  out += buffer;
}

// A character of valid UTF-8 as printed: a control character escaped, anything else as it is.
void append_printable_char(std::string& out, std::string_view bytes, char32_t c) {
  switch (c) {
    case '\t':
      out += "\\t";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\0':
      out += "\\0";
      return;
  }
  if (is_control_character(c)) {
    append_hex_escape(out, "\\u{%x}", static_cast<unsigned>(c));
  } else {
    out += bytes;
  }
}

// The same inside double quotes, where the quote and the backslash are escaped too.
void append_quoted_char(std::string& out, std::string_view bytes, char32_t c) {
  if (c == '"' || c == '\\') {
    out += '\\';
    out += static_cast<char>(c);
  } else {
    append_printable_char(out, bytes, c);
  }
}

bool is_continuation_byte(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

}  // namespace

std::size_t utf8_sequence_length(unsigned char lead) {
  return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

std::size_t utf8_length(std::string_view valid) {
  return static_cast<std::size_t>(std::count_if(
      valid.begin(), valid.end(), [](char byte) { return !is_continuation_byte(byte); }));
}

std::size_t utf8_prefix_size(std::string_view valid, std::size_t count) {
  std::size_t pos = 0;
  for (std::size_t seen = 0; pos < valid.size(); ++pos) {
    if (!is_continuation_byte(valid[pos]) && seen++ == count) break;
  }
  return pos;
}

char32_t utf8_code_point(std::string_view character) {
  return character.empty() ? 0 : decode_at(character, 0).code_point;
}

bool is_control_character(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

bool is_valid_utf8(std::string_view bytes) {
  for (std::size_t pos = 0; pos < bytes.size();) {
    pos = skip_ascii(bytes, pos);
    if (pos == bytes.size()) break;
    const Decoded d = decode_at(bytes, pos);
    if (!d.valid) return false;
    pos += d.length;
  }
  return true;
}

std::string lossy_utf8(std::string_view bytes) {
  if (is_valid_utf8(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t pos = 0; pos < bytes.size();) {
    const Decoded d = decode_at(bytes, pos);
    out += d.valid ? bytes.substr(pos, d.length) : kReplacementCharacter;
    pos += d.length;
  }
  return out;
}

std::string printable(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t pos = 0; pos < bytes.size();) {
    const Decoded d = decode_at(bytes, pos);
    if (d.valid) {
      append_printable_char(out, bytes.substr(pos, d.length), d.code_point);
    } else {
      out += kReplacementCharacter;
    }
    pos += d.length;
  }
  return out;
}

std::string display(const std::filesystem::path& path) {
  return printable(path.native());
}

std::string quoted_text(std::string_view bytes) {
  std::string out = "\"";
  for (std::size_t pos = 0; pos < bytes.size();) {
    const Decoded d = decode_at(bytes, pos);
    if (d.valid) {
      append_quoted_char(out, bytes.substr(pos, d.length), d.code_point);
    } else {
      for (std::size_t i = 0; i < d.length; ++i)
        append_hex_escape(out, "\\x%02X", static_cast<unsigned char>(bytes[pos + i]));
    }
    pos += d.length;
  }
  return out + "\"";
}

std::string joined(const std::vector<std::string>& words, std::string_view separator) {
  std::string text;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) text += separator;
    text += words[i];
  }
  return text;
}

}  // namespace srb
