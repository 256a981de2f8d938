#include "signing/identity_json.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

// The identity record is read with the JSON library's event (SAX) interface rather than as a
// document: events let the reader notice a repeated secret_key_hex, which a document would
// silently collapse, and stop at the first problem. The library reports the byte offset of a
// syntax error but not of the events, so the input runs through an iterator that records how
// far the library has read; errors then name the line and column of the last byte consumed.
// The library's own string buffer is a SecretString, so the secret it lexes is wiped too.
//
// The library refuses an escaped lone UTF-16 surrogate ("\ud800") in any string, yet a member
// with another name is skipped whatever it holds. So before parsing, each such escape in a string
// that is not a member name is rewritten in place to \ufffd, which keeps every offset; only when
// the secret itself came from a rewritten string is the text parsed again with that one string
// as written, and the library's own error for it reported.

namespace srb {
namespace {

using SecretJson = nlohmann::basic_json<std::map, std::vector, SecretString>;

constexpr std::string_view kSecretField = "secret_key_hex";

// How far the library has read: the characters taken, and whether it has asked past the last.
struct ReadProgress {
  std::size_t taken = 0;
  bool asked_past_end = false;
};

// A character iterator that reports the library's reading to a ReadProgress. The library asks
// `current != end` before taking each character, so an equal comparison is a request at the end.
class TrackedIterator {
 public:
  using iterator_category = std::forward_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  TrackedIterator() = default;
  TrackedIterator(const char* at, ReadProgress* progress) : at_(at), progress_(progress) {}
  reference operator*() const { return *at_; }
  TrackedIterator& operator++() {
    ++at_;
    ++progress_->taken;
    return *this;
  }
  TrackedIterator operator++(int) {
    TrackedIterator before = *this;
    ++*this;
    return before;
  }
  bool operator==(const TrackedIterator& other) const {
    if (at_ != other.at_) return false;
    progress_->asked_past_end = true;
    return true;
  }

 private:
  const char* at_ = nullptr;
  ReadProgress* progress_ = nullptr;
};

// " at line L column C" for the first `consumed` bytes: lines count from 1, the column is the
// number of bytes read on the last line, so an error right after a line feed is at column 0.
std::string at_position(std::string_view text, std::size_t consumed) {
  const std::string_view read = text.substr(0, std::min(consumed, text.size()));
  const auto lines = std::count(read.begin(), read.end(), '\n');
  const std::size_t line_start =
      read.rfind('\n') == std::string_view::npos ? 0 : read.rfind('\n') + 1;
  return " at line " + std::to_string(lines + 1) + " column " +
         std::to_string(read.size() - line_start);
}

std::string parsing_context(std::string_view what) {
  constexpr std::string_view kWhile = "while parsing ";
  const std::size_t start = what.find(kWhile);
  if (start == std::string_view::npos) return "value";
  const std::string_view rest = what.substr(start + kWhile.size());
  return std::string(rest.substr(0, rest.find(" -")));
}

std::string eof_message(std::string_view context, std::string_view what) {
  if (what.find("invalid string") != std::string_view::npos) return "EOF while parsing a string";
  if (context == "value") return "EOF while parsing a value";
  if (context == "array") return "EOF while parsing a list";
  return "EOF while parsing an object";
}

// The library's syntax error in our own words. Its text says what it was parsing ("value",
// "object key", "object separator", "object", "array") and, for a bad token, why the lexer
// refused it.
std::string syntax_message(std::string_view what, bool at_eof) {
  const auto has = [&](std::string_view part) { return what.find(part) != std::string_view::npos; };
  const std::string context = parsing_context(what);
  if (has("; expected end of input")) return "trailing characters";
  if (at_eof) return eof_message(context, what);
  if (has("invalid string: control character")) {
    return "control character (\\u0000-\\u001F) found while parsing a string";
  }
  if (has("invalid string: surrogate")) return "lone surrogate in hex escape";
  if (has("invalid string: ill-formed UTF-8")) return "invalid UTF-8 in a string";
  if (has("invalid string")) return "invalid escape";
  if (has("invalid number")) return "invalid number";
  if (context == "object key") return "key must be a string";
  if (context == "object separator") return "expected `:`";
  if (context == "object") return "expected `,` or `}`";
  if (context == "array") return "expected `,` or `]`";
  return "expected value";
}

// A string in the text whose escapes of lone surrogates were rewritten: where it ends (one past
// its closing quote, as far as the library has read when it reports the string) and where the
// four digits of each such escape begin.
struct RewrittenString {
  std::size_t end = 0;
  std::vector<std::size_t> digits;
};

std::optional<unsigned> escaped_unit(std::string_view text, std::size_t backslash) {
  if (text.size() - backslash < 6 || text[backslash + 1] != 'u') return std::nullopt;
  unsigned unit = 0;
  const char* digits = text.data() + backslash + 2;
  const std::from_chars_result read = std::from_chars(digits, digits + 4, unit, 16);
  if (read.ptr != digits + 4 || read.ec != std::errc()) return std::nullopt;
  return unit;
}

bool is_high_surrogate(std::optional<unsigned> unit) {
  return unit && *unit >= 0xD800 && *unit <= 0xDBFF;
}
bool is_low_surrogate(std::optional<unsigned> unit) {
  return unit && *unit >= 0xDC00 && *unit <= 0xDFFF;
}

// Scans the string whose opening quote is at `quote`; returns where it ends and adds the
// digits of its lone surrogate escapes to `digits`.
std::size_t scan_string(std::string_view text, std::size_t quote,
                        std::vector<std::size_t>& digits) {
  std::size_t i = quote + 1;
  while (i < text.size() && text[i] != '"') {
    if (text[i] != '\\') {
      ++i;
      continue;
    }
    const std::optional<unsigned> unit = escaped_unit(text, i);
    if (is_high_surrogate(unit) && is_low_surrogate(escaped_unit(text, i + 6))) {
      i += 12;
    } else if (is_high_surrogate(unit) || is_low_surrogate(unit)) {
      digits.push_back(i + 2);
      i += 6;
    } else {
      i += 2;
    }
  }
  return std::min(i + 1, text.size());
}

// The strings outside member names that hold lone surrogate escapes.
std::vector<RewrittenString> find_lone_surrogates(std::string_view text) {
  std::vector<RewrittenString> found;
  if (text.find("\\u") == std::string_view::npos) return found;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '"') continue;
    RewrittenString string;
    string.end = scan_string(text, i, string.digits);
    const std::size_t next = text.find_first_not_of(" \t\r\n", string.end);
    const bool is_name = next != std::string_view::npos && text[next] == ':';
    if (!string.digits.empty() && !is_name) found.push_back(std::move(string));
    i = string.end - 1;
  }
  return found;
}

// The text with the escapes of `strings` rewritten to U+FFFD, except those of `kept`.
SecretString rewrite_lone_surrogates(std::string_view text,
                                     const std::vector<RewrittenString>& strings,
                                     const RewrittenString* kept) {
  SecretString rewritten(text.begin(), text.end());
  for (const RewrittenString& string : strings) {
    if (&string == kept) continue;
    for (const std::size_t at : string.digits)
      rewritten.replace(at, 4, "fffd");
  }
  return rewritten;
}

// Follows the events of one JSON text and keeps the secret_key_hex string, or the first
// problem found. Depth 1 is inside the top-level object or array; deeper values are skipped.
class IdentityReader {
 public:
  IdentityReader(std::string_view text, const ReadProgress* progress)
      : text_(text), progress_(progress) {}

  bool null() { return on_value("null", nullptr); }
  bool boolean(bool value) {
    return on_value(value ? "boolean `true`" : "boolean `false`", nullptr);
  }
  bool number_integer(std::int64_t value) {
    return on_number("integer `" + std::to_string(value) + "`");
  }
  bool number_unsigned(std::uint64_t value) {
    return on_number("integer `" + std::to_string(value) + "`");
  }
  // The value, not the token as written, which could be a megabyte of digits. (The binary
  // formats' reader, compiled in alongside, passes the token as another string type.)
  template <typename Text>
  bool number_float(double value, const Text&) {
    char shortest[32];
    std::string text(shortest, std::to_chars(shortest, shortest + sizeof shortest, value).ptr);
    // 1e3 is shown as 1000.0, so it does not read as an integer.
    if (text.find_first_not_of("-0123456789") == std::string::npos) text += ".0";
    return on_number("floating point `" + text + "`");
  }
  // A string's content is never repeated in a message: it could be the secret itself.
  bool string(SecretString& value) { return on_value("string", &value); }
  bool binary(SecretJson::binary_t&) { return on_value("bytes", nullptr); }
  bool start_object(std::size_t) { return on_open(Top::object, "map"); }
  bool start_array(std::size_t) { return on_open(Top::array, "sequence"); }
  bool end_object() { return on_close(); }
  bool end_array() { return on_close(); }

  bool key(SecretString& name) {
    if (depth_ != 1) return true;
    at_secret_ = name == kSecretField;
    if (at_secret_ && seen_secret_) return fail("duplicate field `secret_key_hex`", consumed());
    seen_secret_ = seen_secret_ || at_secret_;
    return true;
  }

  bool parse_error(std::size_t position, const std::string&,
                   const nlohmann::detail::exception& error) {
    // Past the last byte the library has hit the end of the input.
    error_ = syntax_message(error.what(), position > text_.size()) + at_position(text_, position);
    return false;
  }

  const std::optional<std::string>& error() const { return error_; }
  std::optional<SecretString>& secret() { return secret_; }
  // How far the library had read when it reported the secret's string.
  std::size_t secret_end() const { return secret_end_; }

 private:
  enum class Top { none, object, array };

  std::size_t consumed() const { return progress_->taken; }

  bool fail(std::string message, std::size_t consumed) {
    error_ = std::move(message) + at_position(text_, consumed);
    return false;
  }

  // The library reads one character past a number to find its end (unless the text ends
  // there); that one is not the number's.
  bool on_number(const std::string& what) {
    return on_value(what, nullptr, consumed() - (progress_->asked_past_end ? 0 : 1));
  }

  bool on_value(const std::string& what, SecretString* text) {
    return on_value(what, text, consumed());
  }

  bool on_value(const std::string& what, SecretString* text, std::size_t end) {
    if (depth_ == 0) return fail("invalid type: " + what + ", expected struct File", end);
    if (depth_ != 1) return true;
    if (top_ == Top::array ? ++elements_ != 1 : !at_secret_) return true;
    at_secret_ = false;
    if (text == nullptr) return fail("invalid type: " + what + ", expected a string", end);
    secret_ = std::move(*text);
    secret_end_ = end;
    return true;
  }

  bool on_open(Top kind, const std::string& what) {
    if (depth_ == 0) {
      top_ = kind;
    } else if (!on_value(what, nullptr)) {
      return false;
    }
    ++depth_;
    return true;
  }

  bool on_close() {
    if (--depth_ != 0) return true;
    if (top_ == Top::object && !secret_) return fail("missing field `secret_key_hex`", consumed());
    if (top_ == Top::array && elements_ != 1) {
      return fail(
          "invalid length " + std::to_string(elements_) + ", expected struct File with 1 element",
          consumed());
    }
    return true;
  }

  std::string_view text_;
  const ReadProgress* progress_;
  Top top_ = Top::none;
  int depth_ = 0;
  bool at_secret_ = false;    // the next value at depth 1 is secret_key_hex's
  bool seen_secret_ = false;  // secret_key_hex has occurred as a key
  std::size_t elements_ = 0;  // of a top-level array
  std::optional<SecretString> secret_;
  std::size_t secret_end_ = 0;
  std::optional<std::string> error_;
};

// Parses `text` as given to the library; `original` is the text as read, quoted in errors.
Result<SecretString> parse_as_given(std::string_view text, std::string_view original,
                                    std::size_t* secret_end) {
  ReadProgress progress;
  IdentityReader reader(original, &progress);
  bool complete = false;
  try {
    complete =
        SecretJson::sax_parse(TrackedIterator(text.data(), &progress),
                              TrackedIterator(text.data() + text.size(), &progress), &reader);
  } catch (const nlohmann::json::exception&) {
    // The event interface reports through parse_error; nothing else is expected to throw.
  }
  if (reader.error()) return IdentityInvalid{*reader.error()};
  if (!complete || !reader.secret())
    return IdentityInvalid{"expected value" + at_position(original, 0)};
  *secret_end = reader.secret_end();
  return std::move(*reader.secret());
}

}  // namespace

Result<SecretString> parse_identity_json(std::string_view text) {
  const std::vector<RewrittenString> lone = find_lone_surrogates(text);
  std::size_t secret_end = 0;
  if (lone.empty()) return parse_as_given(text, text, &secret_end);
  const SecretString rewritten = rewrite_lone_surrogates(text, lone, nullptr);
  Result<SecretString> secret = parse_as_given(rewritten, text, &secret_end);
  const auto from_rewritten = std::find_if(
      lone.begin(), lone.end(), [&](const RewrittenString& s) { return s.end == secret_end; });
  if (!secret || from_rewritten == lone.end()) return secret;
  const SecretString as_written = rewrite_lone_surrogates(text, lone, &*from_rewritten);
  return parse_as_given(as_written, text, &secret_end);
}

}  // namespace srb
