#include "manifest/written_layout.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "manifest/manifest_reader.hpp"

namespace srb {
namespace {

BundleManifest signed_manifest() {
  BundleManifest manifest;
  manifest.version = "1.0.0";
  manifest.arch = "x86_64";
  manifest.root_hash = std::string(64, '0');
  manifest.files = {{"etc/ld.so.cache", std::string(64, '1'), 28141},
                    {"lib/lib64/ld-linux-x86-64.so.2", std::string(64, '3'), 210968}};
  manifest.produced_at = 1700000000;
  manifest.publisher_hex = std::string(64, 'b');
  manifest.signature_hex = std::string(128, 'c');
  return manifest;
}

std::string rendered(const BundleManifest& manifest) {
  const Result<std::string> text = render_manifest(manifest);
  EXPECT_TRUE(text);
  return text ? *text : std::string();
}

std::string outcome(const Result<BundleManifest>& result) {
  return result ? rendered(*result) : "error: " + message(result.error());
}

// The text with its first `from` replaced by `to`.
std::string replaced(std::string text, std::string_view from, std::string_view to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// If build's own output missed the direct path, every verify would silently pay for a full TOML
// parse again.
TEST(WrittenLayout, ReadsEverythingTheWriterWritesWithoutEscapes) {
  BundleManifest unsigned_manifest = signed_manifest();
  unsigned_manifest.publisher_hex.reset();
  unsigned_manifest.signature_hex.reset();
  BundleManifest empty = signed_manifest();
  empty.files.clear();
  BundleManifest publisher_only = empty;
  publisher_only.signature_hex.reset();
  BundleManifest odd_values = signed_manifest();
  odd_values.version = "";
  odd_values.files[0] = {"caf\xC3\xA9/\xE6\x97\xA5/\xF0\x9F\x98\x80 'x' [y] #z = w", "", 0};
  odd_values.files[1].size = 9223372036854775807u;
  odd_values.produced_at = 0;

  const std::vector<std::pair<std::string, BundleManifest>> cases = {
      {"signed", signed_manifest()},
      {"unsigned", unsigned_manifest},
      {"no files", empty},
      {"publisher without signature", publisher_only},
      {"non-ASCII, TOML punctuation, empty strings, extreme integers", odd_values}};
  for (const auto& [name, manifest] : cases) {
    SCOPED_TRACE(name);
    const std::optional<BundleManifest> read = read_written_layout(rendered(manifest));
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(*read, manifest);
  }
}

// Each text differs from the writer's layout in one place. The direct reader must decline it,
// and the answer, record or error text, must be exactly the general reader's.
TEST(WrittenLayout, LeavesEveryOtherTextToTheGeneralReader) {
  const std::string base = rendered(signed_manifest());
  const std::string publisher = "publisher_hex = \"" + std::string(64, 'b') + "\"\n";
  const std::string signature = "signature_hex = \"" + std::string(128, 'c') + "\"\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"byte-order mark", "\xEF\xBB\xBF" + base},
      {"CRLF line ends", replaced(base, "x86_64\"\n", "x86_64\"\r\n")},
      {"comment", replaced(base, "x86_64\"\n", "x86_64\" # arch\n")},
      {"space before the line end", replaced(base, "x86_64\"\n", "x86_64\" \n")},
      {"other key order", replaced(base, "version = \"1.0.0\"\narch = \"x86_64\"\n",
                                   "arch = \"x86_64\"\nversion = \"1.0.0\"\n")},
      {"literal string", replaced(base, "\"x86_64\"", "'x86_64'")},
      {"escape in a string", replaced(base, "\"x86_64\"", "\"x86\\u005F64\"")},
      {"raw TAB in a string", replaced(base, "etc/ld.so.cache", "etc/ld.so\t.cache")},
      {"raw DEL in a string", replaced(base, "etc/ld.so.cache", "etc/ld.so\x7f.cache")},
      {"invalid UTF-8 in a string", replaced(base, "etc/ld.so.cache", "etc/\xC3(.cache")},
      {"unterminated string", replaced(base, "\"x86_64\"\n", "\"x86_64\n")},
      {"leading zero", replaced(base, "size = 28141", "size = 028141")},
      {"underscore in a number", replaced(base, "size = 28141", "size = 28_141")},
      {"plus sign", replaced(base, "size = 28141", "size = +28141")},
      {"hexadecimal", replaced(base, "size = 28141", "size = 0x6DED")},
      {"negative size", replaced(base, "size = 28141", "size = -1")},
      {"size above 2^63 - 1", replaced(base, "size = 28141", "size = 9223372036854775808")},
      {"twenty digits", replaced(base, "size = 28141", "size = 10000000000000000000")},
      {"float size", replaced(base, "size = 28141", "size = 28141.0")},
      {"string size", replaced(base, "size = 28141", "size = \"28141\"")},
      {"produced_at missing", replaced(base, "produced_at = 1700000000\n", "")},
      {"signature before publisher", replaced(base, publisher + signature, signature + publisher)},
      {"unknown root key", replaced(base, "produced_at", "extra = 1\nproduced_at")},
      {"unknown entry key", replaced(base, "size = 28141\n", "size = 28141\nmode = 493\n")},
      {"entry key missing", replaced(base, "hash = \"1111", "hush = \"1111")},
      {"entry without its empty line", replaced(base, "\n\n[[files]]", "\n[[files]]")},
      {"files = [] and a block too", replaced(base, "produced_at", "files = []\nproduced_at")},
      {"no files and no files = []", base.substr(0, base.find("\n[[files]]") + 1)},
      {"repeated key", replaced(base, "size = 28141\n", "size = 28141\nsize = 28141\n")},
      {"missing final line end", base.substr(0, base.size() - 1)},
      {"extra empty line at the end", base + "\n"},
      {"trailing text", base + "x"},
      {"NUL after the text", base + std::string(1, '\0')},
      {"empty text", ""},
  };
  for (const auto& [name, text] : cases) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(read_written_layout(text).has_value());
    EXPECT_EQ(outcome(parse_manifest(text)), outcome(parse_toml_manifest(text)));
  }
}

// Strings are scanned eight bytes at a time: a byte that needs a closer look must be found in
// whichever position of a word it falls, and a word of plain bytes must not hide a neighbour.
TEST(WrittenLayout, LooksAtEveryByteOfAStringWhereverItLies) {
  const std::string base = rendered(signed_manifest());
  const struct {
    const char* name;
    std::string bytes;
    bool direct;  // read by the direct reader
  } specials[] = {{"TAB", "\t", false},
                  {"unit separator", "\x1f", false},
                  {"DEL", "\x7f", false},
                  {"escaped backslash", "\\\\", false},
                  {"escaped quote", "\\\"", false},
                  {"invalid UTF-8", "\xC3(", false},
                  {"e acute", "\xC3\xA9", true},
                  {"space", " ", true}};
  for (const auto& special : specials) {
    for (std::size_t offset = 0; offset <= 16; ++offset) {
      SCOPED_TRACE(std::string(special.name) + " at " + std::to_string(offset));
      const std::string path =
          "etc/" + std::string(offset, 'a') + special.bytes + std::string(16 - offset, 'b');
      const std::string text = replaced(base, "\"etc/ld.so.cache\"", "\"" + path + "\"");
      EXPECT_EQ(read_written_layout(text).has_value(), special.direct);
      EXPECT_EQ(outcome(parse_manifest(text)), outcome(parse_toml_manifest(text)));
    }
  }
}

}  // namespace
}  // namespace srb
