#include "manifest/nesting_bound.hpp"

#include <algorithm>
#include <string>

// Outside strings and comments, each level of nesting is either a '[' or '{' still open, or one
// part of a dotted key. Dotted keys nest below the table of the last header, and inside inline
// tables, whose values may continue over several lines through multi-line arrays; so the bound
// allows every open bracket its own line of dotted keys, plus a header line of them:
// (dots + 1) * (brackets + 1) + dots + 1, with dots the most on any one line. toml++ refuses
// brackets nested deeper than 256, so deeper ones are not counted. A one-line string or a
// comment ends at a line feed here, where the parser either ends it too or stops with an error,
// so the scan never skips text that the parser goes on to read as structure.

namespace srb {
namespace {

constexpr std::size_t kParserBracketLimit = 257;

// The index after the string whose opening quote is at `i`.
std::size_t skip_string(std::string_view text, std::size_t i) {
  const char quote = text[i];
  const bool escapes = quote == '"';
  const std::string triple(3, quote);
  const bool multiline = text.substr(i, 3) == triple;
  i += multiline ? 3 : 1;
  while (i < text.size()) {
    const char c = text[i];
    if (escapes && c == '\\') {
      i += (i + 1 < text.size() && (multiline || text[i + 1] != '\n')) ? 2 : 1;
    } else if (!multiline && (c == quote || c == '\n')) {
      return i + 1;
    } else if (multiline && text.substr(i, 3) == triple) {
      // Up to two more quotes belong to the content: the run's last three close it.
      const std::size_t run_end = text.find_first_not_of(quote, i);
      return run_end == std::string_view::npos ? text.size() : run_end;
    } else {
      ++i;
    }
  }
  return i;
}

}  // namespace

std::size_t nesting_bound(std::string_view text) {
  std::size_t brackets = 0, most_brackets = 0;
  std::size_t dots = 0, most_dots = 0;
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '"' || c == '\'') {
      i = skip_string(text, i);
      continue;
    }
    if (c == '#') {
      i = std::min(text.find('\n', i), text.size());
      continue;
    }
    if (c == '\n') {
      dots = 0;
    } else if (c == '.') {
      most_dots = std::max(most_dots, ++dots);
    } else if (c == '[' || c == '{') {
      most_brackets = std::max(most_brackets, ++brackets);
    } else if ((c == ']' || c == '}') && brackets > 0) {
      --brackets;
    }
    ++i;
  }
  most_brackets = std::min(most_brackets, kParserBracketLimit);
  return (most_dots + 1) * (most_brackets + 1) + most_dots + 1;
}

}  // namespace srb
