#pragma once
// The detail text of a bundle.toml that does not read: where, the source line with a caret, why.

#include <cstdint>
#include <string>
#include <string_view>

namespace srb {

// A place in a text, both counts from 1; the column counts characters, not bytes.
struct TextPosition {
  std::uint32_t line = 1;
  std::uint32_t column = 1;
};

// Five lines joined by line feeds, without a final one:
//   TOML parse error at line 3, column 8
//     |
//   3 | size = -1
//     |        ^
//   invalid value: integer `-1`, expected u64
// Accepts any text and position: a line past the end shows empty, the caret stops one past the
// end of its line, a long line is cut to a window around the caret, and control characters and
// invalid UTF-8 show as U+FFFD so the terminal only ever receives printable text; in the reason
// they are escaped, as printable() writes them.
std::string describe_parse_error(std::string_view text, TextPosition where,
                                 std::string_view reason);

}  // namespace srb
