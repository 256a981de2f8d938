#include "manifest/manifest.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <toml++/toml.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.hpp"

namespace srb {
namespace {

const std::string kRoot(64, '0');
const std::string kDigest1(64, '1');
const std::string kDigest2(64, '2');
const std::string kDigest3(64, '3');
const std::string kPublisher(64, 'b');
const std::string kSignature(128, 'c');

BundleManifest signed_manifest() {
  BundleManifest manifest;
  manifest.version = "1.0.0";
  manifest.arch = "x86_64";
  manifest.root_hash = kRoot;
  manifest.files = {{"etc/ld.so.cache", kDigest1, 28141},
                    {"lib/lib/x86_64-linux-gnu/libc.so.6", kDigest2, 1922136},
                    {"lib/lib64/ld-linux-x86-64.so.2", kDigest3, 210968}};
  manifest.produced_at = 1700000000;
  manifest.publisher_hex = kPublisher;
  manifest.signature_hex = kSignature;
  return manifest;
}

BundleManifest empty_manifest() {
  BundleManifest manifest;
  manifest.version = "1.0";
  manifest.arch = "aarch64";
  manifest.root_hash = kRoot;
  return manifest;
}

template <typename T>
std::string failure(const Result<T>& result) {
  return result ? "(succeeded)" : message(result.error());
}

TEST(RenderManifest, SignedManifestHasTheFixedLayout) {
  const Result<std::string> text = render_manifest(signed_manifest());
  ASSERT_TRUE(text) << failure(text);
  EXPECT_EQ(*text,
            "version = \"1.0.0\"\n"
            "arch = \"x86_64\"\n"
            "root_hash = \"" +
                kRoot +
                "\"\n"
                "produced_at = 1700000000\n"
                "publisher_hex = \"" +
                kPublisher +
                "\"\n"
                "signature_hex = \"" +
                kSignature +
                "\"\n"
                "\n"
                "[[files]]\n"
                "path = \"etc/ld.so.cache\"\n"
                "hash = \"" +
                kDigest1 +
                "\"\n"
                "size = 28141\n"
                "\n"
                "[[files]]\n"
                "path = \"lib/lib/x86_64-linux-gnu/libc.so.6\"\n"
                "hash = \"" +
                kDigest2 +
                "\"\n"
                "size = 1922136\n"
                "\n"
                "[[files]]\n"
                "path = \"lib/lib64/ld-linux-x86-64.so.2\"\n"
                "hash = \"" +
                kDigest3 +
                "\"\n"
                "size = 210968\n");
}

TEST(RenderManifest, EmptyListIsWrittenInline) {
  BundleManifest manifest = empty_manifest();
  const std::string head = "version = \"1.0\"\narch = \"aarch64\"\nroot_hash = \"" + kRoot +
                           "\"\nfiles = []\nproduced_at = 0\n";
  EXPECT_EQ(*render_manifest(manifest), head);

  manifest.publisher_hex = kPublisher;
  manifest.signature_hex = kSignature;
  EXPECT_EQ(*render_manifest(manifest), head + "publisher_hex = \"" + kPublisher +
                                            "\"\nsignature_hex = \"" + kSignature + "\"\n");
}

TEST(RenderManifest, TextsThatNeedEscapesStayOnTheirLine) {
  BundleManifest manifest = empty_manifest();
  manifest.version = "1.0 \"beta\"\\";
  manifest.arch = "tab\there\nline\r\x01\x7f";
  manifest.root_hash = "caf\xC3\xA9 \xE6\x97\xA5 it's";
  const Result<std::string> text = render_manifest(manifest);
  ASSERT_TRUE(text) << failure(text);
  EXPECT_EQ(text->substr(0, text->find("files = []")),
            "version = \"1.0 \\\"beta\\\"\\\\\"\n"
            "arch = \"tab\\there\\nline\\r\\u0001\\u007F\"\n"
            "root_hash = \"caf\xC3\xA9 \xE6\x97\xA5 it's\"\n");
}

// Bundles written by earlier releases quoted their strings with toml++'s formatter; the writer
// must quote every character as it did, or a rebuild of the same tree would change bytes that
// were signed. Each ASCII byte, the non-ASCII characters around the escaped line breaks, and
// characters of two, three and four bytes, alone and between letters.
TEST(RenderManifest, QuotesEveryCharacterAsEarlierReleasesDid) {
  std::vector<std::string> characters;
  for (int byte = 0; byte < 0x80; ++byte)
    characters.emplace_back(1, static_cast<char>(byte));
  for (const char* character : {"\xC2\x80", "\xC2\x84", "\xC2\x85", "\xC2\x86", "\xC2\xA0",
                                "\xC3\xA9", "\xE2\x80\xA7", "\xE2\x80\xA8", "\xE2\x80\xA9",
                                "\xE2\x80\xAA", "\xE2\x82\xAC", "\xEF\xBF\xBD", "\xF0\x9F\x98\x80"})
    characters.emplace_back(character);
  BundleManifest manifest = signed_manifest();
  for (const std::string& character : characters) {
    for (const std::string& text : {character, "a" + character + "b" + character + character}) {
      SCOPED_TRACE(testing::PrintToString(text));
      std::ostringstream earlier;
      earlier << toml::toml_formatter{toml::value<std::string>{text},
                                      toml::format_flags::allow_unicode_strings};
      manifest.version = text;
      const Result<std::string> rendered = render_manifest(manifest);
      ASSERT_TRUE(rendered) << failure(rendered);
      EXPECT_EQ(rendered->substr(0, rendered->find('\n')), "version = " + earlier.str());
    }
  }
}

TEST(RenderManifest, RefusesValuesWithoutATomlForm) {
  constexpr std::uint64_t kLargest = 9223372036854775807u;
  BundleManifest manifest = signed_manifest();
  manifest.produced_at = kLargest;
  manifest.files[1].size = kLargest;
  EXPECT_TRUE(render_manifest(manifest)) << "2^63 - 1 still fits";

  const std::string out_of_range = "bundle.toml parse error: out-of-range value for u64 type";
  manifest.produced_at = kLargest + 1;
  EXPECT_EQ(failure(render_manifest(manifest)), out_of_range);
  manifest.produced_at = 0;
  manifest.files[2].size = UINT64_MAX;
  EXPECT_EQ(failure(render_manifest(manifest)), out_of_range);

  // The byte 0xFF has no TOML form; U+00FF would name a file that is not in the bundle.
  manifest = signed_manifest();
  manifest.files[0].path = "lib/\xFF";
  EXPECT_EQ(failure(render_manifest(manifest)),
            "bundle.toml parse error: string value is not valid UTF-8");
}

TEST(ManifestRoundTrip, WhatIsWrittenReadsBackTheSame) {
  BundleManifest unsigned_manifest = signed_manifest();
  unsigned_manifest.publisher_hex.reset();
  unsigned_manifest.signature_hex.reset();
  BundleManifest escaped = signed_manifest();
  escaped.version = "\"quoted\" 'single' '''triple''' \"\"\" back\\slash";
  escaped.arch = std::string("nul\0 del\x7f esc\x1b", 15);
  escaped.files[0].path = "tab\tand\nline\r\nfeeds";
  escaped.files[1].path = "caf\xC3\xA9/\xE6\x97\xA5\xE6\x9C\xAC/\xF0\x9F\x98\x80";
  escaped.files[2].path = "";
  escaped.publisher_hex = "\xC2\x85 next line \xE2\x80\xA8 separator";
  BundleManifest largest = empty_manifest();
  largest.produced_at = 9223372036854775807u;
  largest.files = {{"a", "h", 9223372036854775807u}, {"b", "h", 0}};

  const std::vector<std::pair<std::string, BundleManifest>> cases = {
      {"signed", signed_manifest()},
      {"unsigned", unsigned_manifest},
      {"empty", empty_manifest()},
      {"escaped", escaped},
      {"largest integers", largest}};
  for (const auto& [name, manifest] : cases) {
    SCOPED_TRACE(name);
    const Result<std::string> text = render_manifest(manifest);
    ASSERT_TRUE(text) << failure(text);
    const Result<BundleManifest> read = parse_manifest(*text);
    ASSERT_TRUE(read) << failure(read);
    EXPECT_EQ(*read, manifest);
    // One line per root value and five per entry: no string was written across lines.
    const std::size_t lines = 4 + (manifest.files.empty() ? 1 : 5 * manifest.files.size()) +
                              (manifest.publisher_hex ? 1 : 0) + (manifest.signature_hex ? 1 : 0);
    EXPECT_EQ(static_cast<std::size_t>(std::count(text->begin(), text->end(), '\n')), lines);
  }
}

// The three required root lines, for documents that test something further down.
const std::string kHead = "version = \"1\"\narch = \"x\"\nroot_hash = \"r\"\n";

BundleManifest head_manifest(std::vector<BundleFile> files = {}) {
  BundleManifest manifest;
  manifest.version = "1";
  manifest.arch = "x";
  manifest.root_hash = "r";
  manifest.files = std::move(files);
  return manifest;
}

TEST(ParseManifest, MapsEveryAcceptedForm) {
  BundleManifest with_publisher = head_manifest();
  with_publisher.publisher_hex = "AB";
  BundleManifest reformatted = head_manifest({{"lib/a", "h1", 1}, {"lib/b", "h2", 2}});
  reformatted.produced_at = 7;
  reformatted.signature_hex = "cd";

  struct Case {
    const char* name;
    std::string text;
    BundleManifest expected;
  };
  const std::vector<Case> cases = {
      {"files and produced_at absent", kHead, head_manifest()},
      {"empty files array", kHead + "files = []\nproduced_at = 0\n", head_manifest()},
      {"one publisher without signature", kHead + "publisher_hex = \"AB\"\n", with_publisher},
      {"inline tables",
       kHead + "files = [{path = \"a\", hash = \"h\", size = 1},\n"
               "         {size = 2, hash = \"g\", path = \"b\"}]\n",
       head_manifest({{"a", "h", 1}, {"b", "g", 2}})},
      {"three-element arrays, mixed with a table",
       kHead + "files = [[\"a\", \"h\", 1], {path = \"b\", hash = \"g\", size = 2}]\n",
       head_manifest({{"a", "h", 1}, {"b", "g", 2}})},
      {"unknown keys at the root and in entries",
       kHead + "comment = \"x\"\nextra = {deep = [1, 2.5, true]}\n[[files]]\npath = \"a\"\n"
               "mode = 493\nhash = \"h\"\nsize = 3\n[metadata]\nowner = \"me\"\n",
       head_manifest({{"a", "h", 3}})},
      {"largest size",
       kHead + "[[files]]\npath = \"a\"\nhash = \"h\"\nsize = 9223372036854775807\n",
       head_manifest({{"a", "h", 9223372036854775807u}})},
      {"byte-order mark, CRLF, comments, literal strings, other key order",
       "\xEF\xBB\xBF# written by hand\r\nsignature_hex = 'cd'\r\nproduced_at = 0x7\r\n"
       "root_hash = 'r'\r\narch = \"\"\"x\"\"\"\r\nversion = \"\\u0031\"  # one\r\n\r\n"
       "[[files]]\r\nsize = 1\r\nhash = 'h1'\r\npath = 'lib/a'\r\n"
       "[[files]]\r\npath = \"lib/b\"\r\nhash = \"h2\"\r\nsize = +2\r\n",
       reformatted},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Result<BundleManifest> read = parse_manifest(c.text);
    ASSERT_TRUE(read) << failure(read);
    EXPECT_EQ(*read, c.expected);
  }
}

// The general reader walks nested tables recursively; a key of 150,000 parts once overflowed the
// stack. Such documents are read on a stack sized for them, with the usual results.
TEST(ParseManifest, ReadsKeysNestedDeeperThanTheUsualStackHolds) {
  std::string key = "k";
  for (int i = 1; i < 200000; ++i)
    key += ".k";
  const Result<BundleManifest> with_deep_key = parse_manifest(kHead + key + " = 1\n");
  ASSERT_TRUE(with_deep_key) << failure(with_deep_key);
  EXPECT_EQ(*with_deep_key, head_manifest());
  const std::string header_only = failure(parse_manifest("[" + key + "]\n"));
  EXPECT_TRUE(
      header_only.starts_with("bundle.toml parse error: TOML parse error at line 1, column 1\n"))
      << header_only;
  EXPECT_TRUE(header_only.ends_with("\nmissing field `version`")) << header_only;
}

TEST(ParseManifest, FailuresShowWhereAndWhy) {
  struct Case {
    const char* name;
    std::string text;
    std::string detail;
  };
  const std::vector<Case> cases = {
      {"empty text", "", R"(TOML parse error at line 1, column 1
  |
1 |
  | ^
missing field `version`)"},
      {"error on a line after a byte-order mark", "\xEF\xBB\xBFversion = 1\n",
       R"(TOML parse error at line 1, column 11
  |
1 | version = 1
  |           ^
invalid type: integer `1`, expected a string)"},
      {"arch missing", "version = \"1\"\nroot_hash = \"r\"\n",
       R"(TOML parse error at line 1, column 1
  |
1 | version = "1"
  | ^
missing field `arch`)"},
      {"root_hash missing", "version = \"1\"\narch = \"x\"\n",
       R"(TOML parse error at line 1, column 1
  |
1 | version = "1"
  | ^
missing field `root_hash`)"},
      {"negative size", kHead + "\n[[files]]\npath = \"a\"\nhash = \"h\"\nsize = -1\n",
       R"(TOML parse error at line 8, column 8
  |
8 | size = -1
  |        ^
invalid value: integer `-1`, expected u64)"},
      {"path missing", kHead + "\n[[files]]\nhash = \"h\"\nsize = 1\n",
       R"(TOML parse error at line 5, column 1
  |
5 | [[files]]
  | ^
missing field `path`)"},
      {"hash missing in an inline table", kHead + "files = [ {path = \"a\", size = 1} ]\n",
       R"(TOML parse error at line 4, column 11
  |
4 | files = [ {path = "a", size = 1} ]
  |           ^
missing field `hash`)"},
      {"string size", kHead + "[[files]]\npath = \"a\"\nhash = \"h\"\nsize = \"x\"\n",
       R"(TOML parse error at line 7, column 8
  |
7 | size = "x"
  |        ^
invalid type: string "x", expected u64)"},
      {"long string size, cut in the reason",
       kHead + "[[files]]\npath = \"a\"\nhash = \"h\"\nsize = \"" + std::string(60, 'x') +
           "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\"\n",
       "TOML parse error at line 7, column 8\n  |\n7 | size = \"" + std::string(60, 'x') +
           "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\"\n  |        ^\ninvalid type: string \"" +
           std::string(60, 'x') + "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\"..., expected u64"},
      {"integer path", kHead + "[[files]]\npath = 3\nhash = \"h\"\nsize = 1\n",
       R"(TOML parse error at line 5, column 8
  |
5 | path = 3
  |        ^
invalid type: integer `3`, expected a string)"},
      {"files as a table", kHead + "\n[files]\npath = \"a\"\n",
       R"(TOML parse error at line 5, column 1
  |
5 | [files]
  | ^
invalid type: table, expected a sequence)"},
      {"two-element entry", kHead + "files = [[\"a\", \"h\"]]\n",
       R"(TOML parse error at line 4, column 10
  |
4 | files = [["a", "h"]]
  |          ^
invalid length 2, expected a sequence of path, hash and size)"},
      {"four-element entry", kHead + "files = [[\"a\", \"h\", 1, 2]]\n",
       R"(TOML parse error at line 4, column 10
  |
4 | files = [["a", "h", 1, 2]]
  |          ^
invalid length 4, expected a sequence of path, hash and size)"},
      {"table as the size of an array entry", kHead + "files = [[\"a\", \"h\", {}]]\n",
       R"(TOML parse error at line 4, column 21
  |
4 | files = [["a", "h", {}]]
  |                     ^
invalid type: table, expected u64)"},
      {"string entry", kHead + "files = [\"a\"]\n", R"(TOML parse error at line 4, column 10
  |
4 | files = ["a"]
  |          ^
invalid type: string "a", expected a table or a sequence of path, hash and size)"},
      {"float produced_at", kHead + "produced_at = 1.5\n", R"(TOML parse error at line 4, column 15
  |
4 | produced_at = 1.5
  |               ^
invalid type: floating point `1.5`, expected u64)"},
      {"negative produced_at", kHead + "produced_at = -5\n",
       R"(TOML parse error at line 4, column 15
  |
4 | produced_at = -5
  |               ^
invalid value: integer `-5`, expected u64)"},
      {"integer signature", kHead + "signature_hex = 1\n", R"(TOML parse error at line 4, column 17
  |
4 | signature_hex = 1
  |                 ^
invalid type: integer `1`, expected a string)"},
      {"boolean version", "version = true\n", R"(TOML parse error at line 1, column 11
  |
1 | version = true
  |           ^
invalid type: boolean `true`, expected a string)"},
      {"date-time publisher", kHead + "publisher_hex = 1979-05-27T07:32:00Z\n",
       R"(TOML parse error at line 4, column 17
  |
4 | publisher_hex = 1979-05-27T07:32:00Z
  |                 ^
invalid type: date-time `1979-05-27T07:32:00Z`, expected a string)"},
      {"array arch", "version = \"1\"\narch = [\"x\"]\n", R"(TOML parse error at line 2, column 8
  |
2 | arch = ["x"]
  |        ^
invalid type: sequence, expected a string)"},
      {"key given twice", "version = \"1\"\nversion = \"2\"\n",
       R"(TOML parse error at line 2, column 11
  |
2 | version = "2"
  |           ^
Error while parsing key-value pair: cannot redefine existing string 'version')"},
      {"size beyond 64 bits", kHead + "[[files]]\nsize = 9223372036854775808\n",
       R"(TOML parse error at line 5, column 27
  |
5 | size = 9223372036854775808
  |                           ^
Error while parsing decimal integer: '9223372036854775808' is not representable in 64 bits)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(failure(parse_manifest(c.text)), "bundle.toml parse error: " + c.detail);
  }
}

// A bundle directory holding one bundle.toml, written per test.
class LoadManifest : public ::testing::Test {
 protected:
  std::filesystem::path manifest_path() const { return dir_ / "bundle.toml"; }
  test::TempDir dir_;
};

TEST_F(LoadManifest, ReadsTheRecordThroughLinks) {
  const BundleManifest manifest = signed_manifest();
  test::write_file(dir_ / "real.toml", "\xEF\xBB\xBF" + *render_manifest(manifest));
  std::filesystem::create_symlink("real.toml", manifest_path());
  const Result<BundleManifest> loaded = load_manifest(dir_.path());
  ASSERT_TRUE(loaded) << failure(loaded);
  EXPECT_EQ(*loaded, manifest);
}

TEST_F(LoadManifest, ReportsAMissingManifestWithItsPath) {
  const std::string expected = "bundle.toml not found at " + manifest_path().native();
  EXPECT_EQ(failure(load_manifest(dir_.path())), expected);
  std::filesystem::create_symlink("nowhere", manifest_path());
  EXPECT_EQ(failure(load_manifest(dir_.path())), expected) << "a dangling link";
  EXPECT_EQ(failure(load_manifest(dir_ / "absent")),
            "bundle.toml not found at " + (dir_ / "absent/bundle.toml").native());
}

TEST_F(LoadManifest, RefusesWhatIsNotARegularUtf8File) {
  std::filesystem::create_directory(manifest_path());
  EXPECT_EQ(failure(load_manifest(dir_.path())), "i/o: Is a directory (os error 21)");
  std::filesystem::remove(manifest_path());

  // A FIFO without a writer would block a plain open forever.
  ASSERT_EQ(::mkfifo(manifest_path().c_str(), 0644), 0);
  EXPECT_EQ(failure(load_manifest(dir_.path())), "i/o: Invalid argument (os error 22)");
  std::filesystem::remove(manifest_path());

  test::write_file(manifest_path(), kHead + "comment = \"\xC3\x28\"\n");
  EXPECT_EQ(failure(load_manifest(dir_.path())), "i/o: stream did not contain valid UTF-8");
}

// The size is judged before a byte is read: a sparse file claims 64 GB without holding them.
TEST_F(LoadManifest, RefusesAManifestOverTheSizeLimitBeforeReadingIt) {
  constexpr off_t kLimit = off_t{64} << 20;
  const std::string too_large = "i/o: File too large (os error 27)";
  test::write_file(manifest_path(), "");
  for (const off_t size : {kLimit + 1, off_t{64} << 30}) {
    ASSERT_EQ(::truncate(manifest_path().c_str(), size), 0);
    EXPECT_EQ(failure(load_manifest(dir_.path())), too_large) << size;
  }
  // At the limit itself the text is read: NUL bytes are UTF-8, but not TOML.
  ASSERT_EQ(::truncate(manifest_path().c_str(), kLimit), 0);
  const std::string at_limit = failure(load_manifest(dir_.path()));
  EXPECT_TRUE(at_limit.starts_with("bundle.toml parse error: ")) << at_limit.substr(0, 200);
}

TEST_F(LoadManifest, PassesTheParseErrorOnWhole) {
  test::write_file(manifest_path(), kHead + "size = \n");
  EXPECT_EQ(failure(load_manifest(dir_.path())),
            R"(bundle.toml parse error: TOML parse error at line 4, column 8
  |
4 | size = 
  |        ^
Error while parsing key-value pair: expected value, saw '\n')");
}

TEST(PayloadPath, FollowsTheRule) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"lib/libc.so.6", true},
      {"lib/x/bundle.toml", true},
      {"..a/b", true},
      {"a.", true},
      {"etc/ld.so.cache", true},
      {"lib/caf\xC3\xA9 \x01", true},
      {"", false},
      {"bundle.toml", false},
      {"/lib/libc.so.6", false},
      {"lib/", false},
      {"lib//libc.so.6", false},
      {"./lib", false},
      {"lib/./x", false},
      {"lib/../x", false},
      {"..", false},
      {".", false},
      {"/", false},
      {"lib\\libc.so.6", false},
      {"lib/a\tb", false},
      {"lib/a\nb", false},
      {"\t", false},
      {std::string("lib/a\0b", 7), false},
      {std::string("lib/a\0", 6), false},
  };
  for (const auto& [path, valid] : cases) {
    SCOPED_TRACE(path);
    EXPECT_EQ(is_valid_payload_path(path), valid);
  }
}

}  // namespace
}  // namespace srb
