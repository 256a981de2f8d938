#include "manifest/manifest.hpp"

// Writes bundle.toml in its one fixed layout: the root values one per line in record order
// (`files = []` only for an empty list), then one [[files]] block per entry in list order, each
// after an empty line. Every line ends with a line feed, the last one included.

#include <toml++/toml.h>
#include <limits>
#include <sstream>

#include "core/text.hpp"

namespace srb {
namespace {

// TOML integers are signed 64-bit, so larger sizes and times have no TOML form.
constexpr std::uint64_t kLargestTomlInteger = std::numeric_limits<std::int64_t>::max();

// Printable ASCII without quote or backslash: toml++ would write it unchanged between quotes, so
// it is written directly. Digests, architecture names and ordinary paths are all like this, and
// skipping the formatter and its stream makes rendering many entries far cheaper.
bool needs_no_escape(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte > 0x7E || byte == '"' || byte == '\\') return false;
  }
  return true;
}

// toml++ writes a string as a one-line basic string with TOML's escapes (\" \\ \t \n \u0001
// ...); other characters stay unescaped.
void append_toml_string(std::string& out, const std::string& text) {
  if (needs_no_escape(text)) {
    out.append(1, '"').append(text).append(1, '"');
    return;
  }
  std::ostringstream formatted;
  formatted << toml::toml_formatter{toml::value<std::string>{text},
                                    toml::format_flags::allow_unicode_strings};
  out.append(std::move(formatted).str());
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

// Every value must have a TOML form that reads back the same. toml++ would write a byte that is
// not UTF-8 as a different character, so such texts are refused rather than changed.
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
