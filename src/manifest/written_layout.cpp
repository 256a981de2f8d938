#include "manifest/written_layout.hpp"

// The layout, byte for byte, as render_manifest writes it:
//
//   version = "..."            root values one per line, in record order
//   arch = "..."
//   root_hash = "..."
//   files = []                 only when there are no entries
//   produced_at = 123
//   publisher_hex = "..."      both optional
//   signature_hex = "..."
//                              then per entry an empty line and its block
//   [[files]]
//   path = "..."
//   hash = "..."
//   size = 123
//
// Strings are taken only when they need no escape, integers only in their plain decimal form up
// to 2^63 - 1; both are then read the same by any TOML parser.

#include <cstdint>
#include <cstring>
#include <limits>

#include "core/text.hpp"

namespace srb {
namespace {

constexpr std::string_view kEntryHeader = "\n[[files]]\n";

// Whether any of the eight bytes of `word` is a quote, a backslash, a control character or not
// ASCII: the bytes after which a string needs a closer look. Each test is exact for the word as a
// whole (it may flag a byte next to the one that trips it, never miss one).
bool holds_special_byte(std::uint64_t word) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kHigh = 0x8080808080808080u;
  const auto has_zero = [](std::uint64_t v) { return (v - kOnes) & ~v & kHigh; };
  const std::uint64_t below_space = (word - 0x20 * kOnes) & ~word & kHigh;
  return ((word & kHigh) | below_space | has_zero(word ^ ('"' * kOnes)) |
          has_zero(word ^ ('\\' * kOnes)) | has_zero(word ^ (0x7F * kOnes))) != 0;
}

// How many bytes from the start of `text` are printable ASCII other than a quote and a
// backslash, counted eight at a time; the count stops short of the first word that holds any
// other byte. Digests and most paths are such bytes from end to end.
std::size_t plain_ascii_prefix(std::string_view text) {
  std::size_t at = 0;
  for (std::uint64_t word = 0; at + sizeof word <= text.size(); at += sizeof word) {
    std::memcpy(&word, text.data() + at, sizeof word);
    if (holds_special_byte(word)) break;
  }
  return at;
}

class Cursor {
 public:
  explicit Cursor(std::string_view text) : rest_(text) {}

  bool at_end() const { return rest_.empty(); }

  bool take(std::string_view literal) {
    if (!rest_.starts_with(literal)) return false;
    rest_.remove_prefix(literal.size());
    return true;
  }

  // `key = "text"` and its line end.
  bool take_string_line(std::string_view key, std::string& value) {
    return take(key) && take(" = \"") && take_plain_text(value) && take("\"\n");
  }

  // `key = 123` and its line end.
  bool take_integer_line(std::string_view key, std::uint64_t& value) {
    return take(key) && take(" = ") && take_integer(value) && take("\n");
  }

  // An optional `key = "text"` line: absent is fine, present must be well formed.
  bool take_optional_string_line(std::string_view key, std::optional<std::string>& value) {
    if (!rest_.starts_with(key)) return true;
    value.emplace();
    return take_string_line(key, *value);
  }

 private:
  // Up to the closing quote: no escape, no control character, valid UTF-8.
  bool take_plain_text(std::string& value) {
    bool ascii = true;
    std::size_t end = plain_ascii_prefix(rest_);
    for (; end < rest_.size(); ++end) {
      const auto byte = static_cast<unsigned char>(rest_[end]);
      if (byte == '"') break;
      if (byte == '\\' || (byte < 0x80 && is_control_character(byte))) return false;
      ascii = ascii && byte < 0x80;
    }
    const std::string_view text = rest_.substr(0, end);
    if (!ascii && !is_valid_utf8(text)) return false;
    value.assign(text);
    rest_.remove_prefix(end);
    return true;
  }

  // Decimal without sign, underscore or leading zero, as the writer prints it.
  bool take_integer(std::uint64_t& value) {
    constexpr std::size_t kMostDigits = 19;  // 2^63 - 1 has 19 digits and 10^19 fits in 64 bits
    std::size_t digits = 0;
    value = 0;
    while (digits < rest_.size() && rest_[digits] >= '0' && rest_[digits] <= '9') {
      if (digits == kMostDigits) return false;
      value = value * 10 + static_cast<std::uint64_t>(rest_[digits] - '0');
      ++digits;
    }
    if (digits == 0 || (digits > 1 && rest_[0] == '0')) return false;
    if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return false;
    rest_.remove_prefix(digits);
    return true;
  }

  std::string_view rest_;
};

// Counting the blocks first sizes the list once, instead of growing it through copies.
std::size_t count_entries(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t at = text.find(kEntryHeader); at != std::string_view::npos;
       at = text.find(kEntryHeader, at + kEntryHeader.size())) {
    ++count;
  }
  return count;
}

bool take_root(Cursor& in, BundleManifest& manifest, bool& empty_list) {
  if (!in.take_string_line("version", manifest.version) ||
      !in.take_string_line("arch", manifest.arch) ||
      !in.take_string_line("root_hash", manifest.root_hash)) {
    return false;
  }
  empty_list = in.take("files = []\n");
  return in.take_integer_line("produced_at", manifest.produced_at) &&
         in.take_optional_string_line("publisher_hex", manifest.publisher_hex) &&
         in.take_optional_string_line("signature_hex", manifest.signature_hex);
}

bool take_entry(Cursor& in, BundleFile& file) {
  return in.take(kEntryHeader) && in.take_string_line("path", file.path) &&
         in.take_string_line("hash", file.hash) && in.take_integer_line("size", file.size);
}

}  // namespace

std::optional<BundleManifest> read_written_layout(std::string_view text) {
  Cursor in(text);
  BundleManifest manifest;
  bool empty_list = false;
  if (!take_root(in, manifest, empty_list)) return std::nullopt;
  if (empty_list) return in.at_end() ? std::optional(std::move(manifest)) : std::nullopt;

  manifest.files.reserve(count_entries(text));
  while (!in.at_end()) {
    if (!take_entry(in, manifest.files.emplace_back())) return std::nullopt;
  }
  // Without `files = []`, a list with no blocks is a document without `files`: the general
  // reader's business, as is the default it gives.
  if (manifest.files.empty()) return std::nullopt;
  return manifest;
}

}  // namespace srb
