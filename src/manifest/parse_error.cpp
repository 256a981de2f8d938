#include "manifest/parse_error.hpp"

// Formats the excerpt under a parse error. The caret line copies each TAB of the source line in
// front of the caret, so the caret stays under its character on any tab width; every other
// character before it becomes one space, since the parser counts columns in characters.

#include <algorithm>

#include "core/text.hpp"

namespace srb {
namespace {

constexpr std::size_t kWindow = 120;  // characters shown of a longer line
constexpr std::string_view kEllipsis = "...";

// Line `number` of the text without its line ending; empty past the last line.
std::string_view source_line(std::string_view text, std::uint32_t number) {
  std::size_t start = 0;
  for (std::uint32_t i = 1; i < number; ++i) {
    const std::size_t lf = text.find('\n', start);
    if (lf == std::string_view::npos) return {};
    start = lf + 1;
  }
  std::string_view line = text.substr(start);
  line = line.substr(0, line.find('\n'));
  if (line.ends_with('\r')) line.remove_suffix(1);
  return line;
}

// Shown as U+FFFD: a control character would move or garble the excerpt. TAB is shown as it is.
bool is_hidden(std::string_view c) {
  return c != "\t" && is_control_character(utf8_code_point(c));
}

// What is shown of a line, and the padding that puts the caret under character `caret`.
struct Excerpt {
  std::string shown;
  std::string pad;
};

Excerpt cut_excerpt(std::string_view valid_line, std::size_t caret) {
  const std::size_t count = utf8_length(valid_line);
  caret = std::min(caret, count);
  // The window [first, last) of characters shown, centred on the caret where the line allows.
  std::size_t first = 0;
  if (count > kWindow && caret > kWindow / 2)
    first = std::min(caret - kWindow / 2, count - kWindow);
  const std::size_t last = std::min(count, first + kWindow);

  Excerpt out;
  if (first > 0) {
    out.shown = kEllipsis;
    out.pad.assign(kEllipsis.size(), ' ');
  }
  for (std::size_t pos = 0, index = 0; index < last; ++index) {
    const std::string_view c =
        valid_line.substr(pos, utf8_sequence_length(static_cast<unsigned char>(valid_line[pos])));
    pos += c.size();
    if (index < first) continue;
    out.shown += is_hidden(c) ? kReplacementCharacter : c;
    if (index < caret) out.pad += c == "\t" ? '\t' : ' ';
  }
  if (last < count) out.shown += kEllipsis;
  return out;
}

}  // namespace

std::string describe_parse_error(std::string_view text, TextPosition where,
                                 std::string_view reason) {
  const std::uint32_t line_number = std::max<std::uint32_t>(where.line, 1);
  const std::uint32_t column = std::max<std::uint32_t>(where.column, 1);
  // A line of a document that was read whole can be 64 MiB long: it is copied only when it needs
  // its invalid bytes replaced.
  const std::string_view raw = source_line(text, line_number);
  const std::string replaced = is_valid_utf8(raw) ? std::string() : lossy_utf8(raw);
  const Excerpt excerpt = cut_excerpt(replaced.empty() ? raw : replaced, column - 1);

  const std::string number = std::to_string(line_number);
  const std::string gutter(number.size(), ' ');
  std::string out = "TOML parse error at line " + number + ", column " + std::to_string(column);
  out += "\n" + gutter + " |\n" + number + " |";
  if (!excerpt.shown.empty()) out += " " + excerpt.shown;
  out += "\n" + gutter + " | " + excerpt.pad + "^\n";
  // The reason can quote a character of the text (toml++ writes a C1 control as it is).
  return out.append(printable(reason));
}

}  // namespace srb
