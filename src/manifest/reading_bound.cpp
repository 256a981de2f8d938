#include "manifest/reading_bound.hpp"

// The scan follows TOML's lexical structure closely enough to tell, for each bare word or string,
// what the parser makes of it, judged by the next character on its line: before '.' it is a key
// part that may create a table, before '=' the last part of a key, inside a header the header's
// key, and otherwise a value. Each is charged what toml++ allocates for it, as the node sizes of
// the installed version in glibc's malloc chunks, and the record what the manifest reader copies
// out of the tree. Shared parts are charged again at each use: a table that a second dotted key
// reuses costs nothing, and a bound may be loose where no manifest goes. Where a text is not TOML
// the parser stops at the first error, and each word is charged at least what the parser may have
// stored for it by then under any reading, so the bound holds for the part it read.
//
// Buffers the parser reuses (its key and string buffers) cost their largest fill, and a buffer
// grown by doubling is charged four times what it holds: its capacity stays under twice that,
// and the blocks it gave back on the way add up to less than its capacity. Nesting costs stack:
// toml++ frees nested tables recursively.
//
// Nesting: outside strings and comments, each level of nesting is either a '[' or '{' still open,
// one part of a dotted key, or one part of a header, which may be an array of tables holding the
// table below. Dotted keys nest below the table of the last header, and inside inline tables,
// whose values may continue over several lines through multi-line arrays; so the bound allows
// every open bracket its own line of dotted keys, plus the header's parts twice:
// 2 * (header dots + 1) + (dots + 1) * (brackets + 1), with dots the most on any one line. toml++
// refuses brackets nested deeper than 256, so deeper ones are not counted. A one-line string or a
// comment ends at a line feed here, where the parser either ends it too or stops with an error,
// so the scan never skips text that the parser goes on to read as structure.

#include <toml++/toml.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "manifest/manifest.hpp"

namespace srb {
namespace {

// glibc's malloc takes the request plus one size word, in steps of 16 bytes, at least 32.
constexpr std::size_t chunk(std::size_t request) {
  return std::max<std::size_t>(32, (request + sizeof(std::size_t) + 15) / 16 * 16);
}

// A string longer than its in-place buffer allocates its bytes and a terminator; a block this
// large may be mapped on its own, in whole pages.
std::size_t string_heap(std::size_t size) {
  const std::size_t in_place = std::string().capacity();
  constexpr std::size_t kMappedFrom = std::size_t{128} << 10;
  constexpr std::size_t kPage = 4096;
  if (size <= in_place) return 0;
  return chunk(size + 1) + (size >= kMappedFrom ? kPage : 0);
}

constexpr std::size_t kGrowth = 4;  // see above: what a doubling buffer may take per byte held
// A table's entry: a map node (colour and three links) around the key and the node's pointer.
constexpr std::size_t kMapEntry =
    chunk(4 * sizeof(void*) + sizeof(std::pair<const toml::key, std::unique_ptr<toml::node>>));
constexpr std::size_t kTable = chunk(sizeof(toml::table));
// An array, with the room for four elements it reserves at its first.
constexpr std::size_t kArray = chunk(sizeof(toml::array)) + chunk(4 * sizeof(void*));
constexpr std::size_t kStringValue = chunk(sizeof(toml::value<std::string>));
constexpr std::size_t kOtherValue =
    std::max({chunk(sizeof(toml::value<std::int64_t>)), chunk(sizeof(toml::value<double>)),
              chunk(sizeof(toml::value<bool>)), chunk(sizeof(toml::value<toml::date>)),
              chunk(sizeof(toml::value<toml::time>)), chunk(sizeof(toml::value<toml::date_time>))});
// A pointer in a growing vector: an array's element, or a table the parser keeps track of.
constexpr std::size_t kSlot = kGrowth * sizeof(void*);
// The parser's key buffer holds, per part, an offset, a length and two source positions, and each
// byte of the key twice: in the buffer and in the key's text kept for messages.
constexpr std::size_t kKeyPart =
    kGrowth * (2 * sizeof(std::size_t) + 2 * sizeof(toml::source_position));
constexpr std::size_t kKeyByte = kGrowth * 2;
// An element of the array read as `files`: the record reserves one entry for each.
constexpr std::size_t kRecordEntry = sizeof(BundleFile);
// The stack that freeing one level of nested tables takes, with room to spare.
constexpr std::size_t kStackPerLevel = 128;
constexpr std::size_t kParserBracketLimit = 257;
// Brackets whose kind is remembered; deeper ones (which the parser refuses) count as `files`.
constexpr std::size_t kTrackedBrackets = 512;

enum class Open : std::uint8_t { table, array, files_array };

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

class Scan {
 public:
  Scan(std::string_view text, std::size_t budget) : text_(text), budget_(budget) {}

  ReadingBound run() {
    for (std::size_t i = 0; i < text_.size() && passed_at_ == std::string_view::npos;)
      i = step(i);
    return ReadingBound{.levels = levels(), .bytes = bytes(), .passed_at = passed_at_};
  }

 private:
  std::size_t levels() const {
    const std::size_t brackets = std::min(most_brackets_, kParserBracketLimit);
    return 2 * (most_header_dots_ + 1) + (most_line_dots_ + 1) * (brackets + 1);
  }

  std::size_t bytes() const {
    return stored_ + kGrowth * longest_word_ + key_buffer_ + kStackPerLevel * levels();
  }

  void check(std::size_t at) {
    if (passed_at_ == std::string_view::npos && bytes() > budget_) passed_at_ = at;
  }

  // What storing a value takes in the innermost open bracket, beyond the value itself.
  std::size_t element_cost() const {
    if (open_ == 0) return 0;
    const Open inner = open_ <= kTrackedBrackets ? kinds_[open_ - 1] : Open::files_array;
    if (inner == Open::table) return 0;
    return kSlot + (inner == Open::files_array ? kRecordEntry : 0);
  }

  void open(Open kind, std::size_t cost) {
    stored_ += cost + element_cost();
    if (open_ < kTrackedBrackets) kinds_[open_] = kind;
    most_brackets_ = std::max(most_brackets_, ++open_);
  }

  // Handles what starts at `i` and returns the index after it.
  std::size_t step(std::size_t i) {
    const char c = text_[i];
    switch (c) {
      case ' ':
      case '\t':
      case '\r':
        return i + 1;
      case '\n':
        line_start_ = true;
        in_header_ = false;
        line_dots_ = 0;
        return i + 1;
      case '#':
        return std::min(text_.find('\n', i), text_.size());
      default:
        break;
    }
    const bool after_equals = after_equals_, after_dot = after_dot_, line_start = line_start_;
    after_equals_ = after_dot_ = line_start_ = false;
    std::size_t next = i + 1;
    switch (c) {
      case '.':
        after_dot_ = true;
        if (in_header_) {
          most_header_dots_ = std::max(most_header_dots_, ++header_dots_);
        } else {
          most_line_dots_ = std::max(most_line_dots_, ++line_dots_);
        }
        break;
      case '=':
        after_equals_ = true;
        break;
      case ',':
        break;
      case '[':
        if (line_start && open_ == 0) {
          in_header_ = true;
          header_dots_ = 0;
          header_is_array_ = next < text_.size() && text_[next] == '[';
          next += header_is_array_ ? 1 : 0;
          header_key_begin_ = next;
        } else if (!in_header_) {
          open(after_equals ? Open::files_array : Open::array, kArray);
        }
        break;
      case '{':
        open(Open::table, kTable);
        break;
      case ']':
      case '}':
        if (in_header_) {
          in_header_ = false;
        } else if (open_ > 0) {
          --open_;
        }
        break;
      case '"':
      case '\'':
        next = skip_string(text_, i);
        word(i, next, true, after_dot);
        break;
      default:
        next = std::min(text_.find_first_of(" \t\r\n[]{}=,.#\"'", i), text_.size());
        word(i, next, false, after_dot);
        break;
    }
    check(i);
    return next;
  }

  // A bare word or a string from `begin` to `end`; `after_dot` when a '.' came just before it.
  void word(std::size_t begin, std::size_t end, bool quoted, bool after_dot) {
    const std::size_t size = end - begin;
    longest_word_ = std::max(longest_word_, size);
    std::size_t following = end;
    while (following < text_.size() && (text_[following] == ' ' || text_[following] == '\t'))
      ++following;
    const char next = following < text_.size() ? text_[following] : '\n';
    if (!in_header_ && next != '.' && next != '=') {
      // A value: its node and, should it be a string, the copy the record may take of it.
      stored_ += (quoted ? kStringValue + 2 * string_heap(size) : kOtherValue) + element_cost();
      return;
    }
    if (!after_dot) {
      key_begin_ = begin;
      key_parts_ = 0;
    }
    ++key_parts_;
    key_buffer_ = std::max(key_buffer_, kKeyPart * key_parts_ + kKeyByte * (end - key_begin_));
    const std::size_t key = string_heap(size);
    if (next == '.') {
      // A table the key may create, tracked by the parser.
      stored_ += kMapEntry + kTable + kSlot + key;
    } else if (!in_header_) {
      // The key's entry, or, before an error, a value the parser stored in an array.
      stored_ += std::max(kMapEntry, kStringValue + kSlot) + key;
    } else if (!header_is_array_) {
      stored_ += kMapEntry + kTable + key;
    } else {
      // One more table in an array of tables, which is new unless the last such header named it.
      const std::string_view name = text_.substr(header_key_begin_, end - header_key_begin_);
      if (name != last_array_header_) stored_ += kMapEntry + kArray + kSlot + key;
      last_array_header_ = name;
      stored_ += kTable + kSlot + kRecordEntry;
    }
  }

  std::string_view text_;
  std::size_t budget_;
  std::size_t passed_at_ = std::string_view::npos;

  std::size_t stored_ = 0;        // nodes, entries and copies, summed
  std::size_t longest_word_ = 0;  // the parser's string buffer holds one word at a time
  std::size_t key_buffer_ = 0;    // the largest key buffer any key needs
  std::size_t key_begin_ = 0, key_parts_ = 0;

  std::size_t line_dots_ = 0, most_line_dots_ = 0;
  std::size_t header_dots_ = 0, most_header_dots_ = 0;
  std::size_t open_ = 0, most_brackets_ = 0;
  std::array<Open, kTrackedBrackets> kinds_{};

  bool line_start_ = true, after_equals_ = false, after_dot_ = false;
  bool in_header_ = false, header_is_array_ = false;
  std::size_t header_key_begin_ = 0;
  std::string_view last_array_header_;
};

}  // namespace

ReadingBound bound_reading(std::string_view text, std::size_t budget) {
  return Scan(text, budget).run();
}

}  // namespace srb
