#include "manifest/manifest.hpp"

// Writes bundle.toml in its one fixed layout: the root values one per line in record order
// (`files = []` only for an empty list), then one [[files]] block per entry in list order, each
// after an empty line. Every line ends with a line feed, the last one included.

#include <limits>
#include <string_view>

#include "core/text.hpp"

namespace srb {
namespace {

// TOML integers are signed 64-bit, so larger sizes and times have no TOML form.
constexpr std::uint64_t kLargestTomlInteger = std::numeric_limits<std::int64_t>::max();

// A TOML basic string on one line, escaped as the project has always written it: quote,
// backslash, DEL and the C0 controls (\b \t \n \f \r by name, the others as \u00XX), and the
// three non-ASCII line breaks U+0085, U+2028 and U+2029 as \u escapes, so that no editor or
// viewer breaks the line; any other character of the (valid UTF-8) text is written as it is.
void append_toml_string(std::string& out, std::string_view text) {
  static constexpr std::string_view kHexDigits = "0123456789ABCDEF";
  out.push_back('"');
  std::size_t plain_from = 0;  // start of the run of bytes written as they are
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x20 && byte != '"' && byte != '\\' && byte != 0x7F && byte != 0xC2 && byte != 0xE2)
      continue;
    const std::string_view rest = text.substr(i);
    std::string_view escape;
    std::size_t length = 1;
    char numbered[] = "\\u00XX";
    switch (byte) {
      case '"':
        escape = "\\\"";
        break;
      case '\\':
        escape = "\\\\";
        break;
      case '\b':
        escape = "\\b";
        break;
      case '\t':
        escape = "\\t";
        break;
      case '\n':
        escape = "\\n";
        break;
      case '\f':
        escape = "\\f";
        break;
      case '\r':
        escape = "\\r";
        break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          numbered[4] = kHexDigits[byte >> 4];
          numbered[5] = kHexDigits[byte & 0xF];
          escape = numbered;
        } else if (rest.starts_with("\xC2\x85")) {
          escape = "\\u0085", length = 2;
        } else if (rest.starts_with("\xE2\x80\xA8")) {
          escape = "\\u2028", length = 3;
        } else if (rest.starts_with("\xE2\x80\xA9")) {
          escape = "\\u2029", length = 3;
        }
    }
    if (escape.empty()) continue;  // the lead byte of another character
    out.append(text.substr(plain_from, i - plain_from)).append(escape);
    i += length - 1;
    plain_from = i + 1;
  }
  out.append(text.substr(plain_from)).push_back('"');
}

void append_line(std::string& out, std::string_view key, std::string_view value) {
  out.append(key).append(" = ").append(value).append("\n");
}

void append_string_line(std::string& out, std::string_view key, const std::string& value) {
  out.append(key).append(" = ");
  append_toml_string(out, value);
  out.append("\n");
}

// Room for the whole text, so it is built without reallocating.
std::size_t estimated_size(const BundleManifest& manifest) {
  constexpr std::size_t kFixedPerEntry = 64;  // keys, quotes, size digits and line ends
  std::size_t size =
      512 + manifest.publisher_hex.value_or("").size() + manifest.signature_hex.value_or("").size();
  for (const BundleFile& file : manifest.files) {
    size += kFixedPerEntry + file.path.size() + file.hash.size();
  }
  return size;
}

// Every value must have a TOML form that reads back the same. A TOML document is UTF-8 and
// escapes name characters, not bytes, so a text that is not UTF-8 is refused rather than changed.
Result<void> check_writable(const BundleManifest& manifest) {
  bool fits = manifest.produced_at <= kLargestTomlInteger;
  bool utf8 = is_valid_utf8(manifest.version) && is_valid_utf8(manifest.arch) &&
              is_valid_utf8(manifest.root_hash) &&
              is_valid_utf8(manifest.publisher_hex.value_or("")) &&
              is_valid_utf8(manifest.signature_hex.value_or(""));
  for (const BundleFile& file : manifest.files) {
    fits = fits && file.size <= kLargestTomlInteger;
    utf8 = utf8 && is_valid_utf8(file.path) && is_valid_utf8(file.hash);
  }
  if (!fits) return ManifestParse{"out-of-range value for u64 type"};
  if (!utf8) return ManifestParse{"string value is not valid UTF-8"};
  return {};
}

}  // namespace

Result<std::string> render_manifest(const BundleManifest& manifest) {
  TRY(check_writable(manifest));
  std::string out;
  out.reserve(estimated_size(manifest));
  append_string_line(out, "version", manifest.version);
  append_string_line(out, "arch", manifest.arch);
  append_string_line(out, "root_hash", manifest.root_hash);
  if (manifest.files.empty()) append_line(out, "files", "[]");
  append_line(out, "produced_at", std::to_string(manifest.produced_at));
  if (manifest.publisher_hex) append_string_line(out, "publisher_hex", *manifest.publisher_hex);
  if (manifest.signature_hex) append_string_line(out, "signature_hex", *manifest.signature_hex);
  for (const BundleFile& file : manifest.files) {
    out += "\n[[files]]\n";
    append_string_line(out, "path", file.path);
    append_string_line(out, "hash", file.hash);
    append_line(out, "size", std::to_string(file.size));
  }
  return out;
}

}  // namespace srb
