#include "manifest/parse_error.hpp"

// Formats the excerpt under a parse error. The caret line copies each TAB of the source line in
// front of the caret, so the caret stays under its character on any tab width; every other
// character before it becomes one space, since the parser counts columns in characters.

#include <algorithm>
#include <vector>

#include "cli/text.hpp"

namespace srb {
namespace {

constexpr std::size_t kWindow = 120;  // characters shown of a longer line
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
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

std::size_t sequence_length(unsigned char lead) {
  return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

bool is_control(std::string_view c) {
  const auto lead = static_cast<unsigned char>(c[0]);
  const bool c1 = lead == 0xC2 && static_cast<unsigned char>(c[1]) <= 0x9F;  // U+0080..U+009F
  return (lead < 0x20 && lead != '\t') || lead == 0x7F || c1;
}

// The characters of a line, each as it is shown.
std::vector<std::string_view> shown_characters(const std::string& valid_line) {
  std::vector<std::string_view> out;
  const std::string_view line = valid_line;
  for (std::size_t pos = 0; pos < line.size();) {
    const std::string_view c =
        line.substr(pos, sequence_length(static_cast<unsigned char>(line[pos])));
    out.push_back(is_control(c) ? kReplacement : c);
    pos += c.size();
  }
  return out;
}

}  // namespace

std::string describe_parse_error(std::string_view text, TextPosition where,
                                 std::string_view reason) {
  const std::uint32_t line_number = std::max<std::uint32_t>(where.line, 1);
  const std::uint32_t column = std::max<std::uint32_t>(where.column, 1);
  const std::string line = lossy_utf8(source_line(text, line_number));
  const std::vector<std::string_view> chars = shown_characters(line);

  // Index of the caret's character, and the window [first, last) of characters shown.
  const std::size_t caret = std::min<std::size_t>(column - 1, chars.size());
  std::size_t first = 0;
  if (chars.size() > kWindow && caret > kWindow / 2)
    first = std::min(caret - kWindow / 2, chars.size() - kWindow);
  const std::size_t last = std::min(chars.size(), first + kWindow);

  std::string shown = first > 0 ? std::string(kEllipsis) : "";
  std::string pad(shown.size(), ' ');
  for (std::size_t i = first; i < last; ++i)
    shown += chars[i];
  for (std::size_t i = first; i < caret; ++i)
    pad += chars[i] == "\t" ? '\t' : ' ';
  if (last < chars.size()) shown += kEllipsis;

  const std::string number = std::to_string(line_number);
  const std::string gutter(number.size(), ' ');
  std::string out = "TOML parse error at line " + number + ", column " + std::to_string(column);
  out += "\n" + gutter + " |\n" + number + " |";
  if (!shown.empty()) out += " " + shown;
  out += "\n" + gutter + " | " + pad + "^\n";
  return out.append(reason);
}

}  // namespace srb
