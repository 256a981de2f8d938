#include "manifest/manifest.hpp"

// Writes bundle.toml in its one fixed layout: the root values one per line in record order
// (`files = []` only for an empty list), then one [[files]] block per entry in list order, each
// after an empty line. Every line ends with a line feed, the last one included.

#include <toml++/toml.h>
#include <limits>
#include <sstream>

#include "cli/text.hpp"

namespace srb {
namespace {

// TOML integers are signed 64-bit, so larger sizes and times have no TOML form.
constexpr std::uint64_t kLargestTomlInteger = std::numeric_limits<std::int64_t>::max();

// toml++ writes a string as a one-line basic string: "..." as it is when it needs no escape,
// otherwise with TOML's escapes (\" \\ \t \n \u0001 ...); other characters stay unescaped.
std::string toml_string(const std::string& text) {
  std::ostringstream out;
  out << toml::toml_formatter{toml::value<std::string>{text},
                              toml::format_flags::allow_unicode_strings};
  return out.str();
}

void append_line(std::string& out, std::string_view key, std::string_view value) {
  out.append(key).append(" = ").append(value).append("\n");
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
  append_line(out, "version", toml_string(manifest.version));
  append_line(out, "arch", toml_string(manifest.arch));
  append_line(out, "root_hash", toml_string(manifest.root_hash));
  if (manifest.files.empty()) append_line(out, "files", "[]");
  append_line(out, "produced_at", std::to_string(manifest.produced_at));
  if (manifest.publisher_hex)
    append_line(out, "publisher_hex", toml_string(*manifest.publisher_hex));
  if (manifest.signature_hex)
    append_line(out, "signature_hex", toml_string(*manifest.signature_hex));
  for (const BundleFile& file : manifest.files) {
    out += "\n[[files]]\n";
    append_line(out, "path", toml_string(file.path));
    append_line(out, "hash", toml_string(file.hash));
    append_line(out, "size", std::to_string(file.size));
  }
  return out;
}

}  // namespace srb
