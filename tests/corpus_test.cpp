// Hostile documents from the shared parser suites, fed to the tool the way a user would meet
// them: every toml-test document as a bundle's bundle.toml for `verify`, every JSONTestSuite
// document as the identity file of `key pubkey`. Most run in-process through run() for speed;
// the nastiest few run through the binary, where a crash would show as a signal.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/run.hpp"
#include "core/text.hpp"
#include "tests/support/process.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb::test {
namespace {

namespace fs = std::filesystem;

const fs::path kVectors = SRB_VECTORS_DIR;
const fs::path kTomlTests = kVectors / "toml-test" / "tests";
const fs::path kJsonTests = kVectors / "JSONTestSuite" / "test_parsing";

constexpr std::string_view kVerifyParseError =
    "sarn-runtime-bundle verify: bundle.toml parse error: ";
constexpr std::string_view kVerifyNotUtf8 =
    "sarn-runtime-bundle verify: i/o: stream did not contain valid UTF-8\n";
constexpr std::string_view kMissingVersion = "missing field `version`\n";
constexpr std::string_view kPubkeyIdentityError = "sarn-runtime-bundle key pubkey: identity file: ";

// The reasons a JSON document of the right syntax but the wrong shape is refused.
constexpr std::string_view kRecordLevelReasons[] = {
    "invalid type: ", "invalid length ", "missing field `", "duplicate field `", "secret_key_hex"};

// Invalid TOML 1.0 documents that toml++ 3.3 reads without complaint; verify then refuses them
// for the missing `version` key instead of a syntax error.
const std::vector<std::string> kTomlAcceptedByLibrary = {};

ProcessResult run_in_process(std::vector<std::string> args) {
  args.insert(args.begin(), "sarn-runtime-bundle");
  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::string out_text, err_text;
  Output out(out_text), err(err_text);
  const int status = run(static_cast<int>(args.size()), argv.data(), out, err);
  return {status, out_text, err_text};
}

std::string read_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool ends_with(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool is_one_line(std::string_view text) {
  return !text.empty() && text.find('\n') == text.size() - 1;
}

// The .toml cases of one group ("valid" or "invalid") that apply to TOML 1.0, as listed.
std::vector<std::string> toml_cases(std::string_view group) {
  std::vector<std::string> cases;
  std::istringstream list(read_bytes(kTomlTests / "files-toml-1.0.0"));
  for (std::string line; std::getline(list, line);)
    if (starts_with(line, std::string(group) + "/") && ends_with(line, ".toml"))
      cases.push_back(line);
  return cases;
}

std::vector<fs::path> json_cases() {
  std::vector<fs::path> cases;
  for (const fs::directory_entry& entry : fs::directory_iterator(kJsonTests))
    cases.push_back(entry.path());
  std::sort(cases.begin(), cases.end());
  return cases;
}

// What verify printed for `document` as bundle.toml of an otherwise empty bundle.
ProcessResult verify_with_manifest(const TempDir& bundle, const std::string& document) {
  write_file(bundle / "bundle.toml", document);
  return run_in_process({"verify", bundle.path().string()});
}

std::string first_line(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

// "k.k.k...": a key that nests `depth` tables.
std::string dotted_key(int depth) {
  std::string key = "k";
  for (int i = 1; i < depth; ++i)
    key += ".k";
  return key;
}

TEST(TomlVectorsThroughVerify, InvalidDocumentsFailAsSyntaxErrors) {
  TempDir bundle;
  std::vector<std::string> accepted, wrong;
  const std::vector<std::string> cases = toml_cases("invalid");
  ASSERT_EQ(cases.size(), 499u);
  for (const std::string& name : cases) {
    const std::string document = read_bytes(kTomlTests / name);
    const ProcessResult r = verify_with_manifest(bundle, document);
    const bool syntax_error =
        starts_with(r.err, kVerifyParseError) && !ends_with(r.err, kMissingVersion);
    if (r.status == 1 && r.out.empty() && ends_with(r.err, kMissingVersion)) {
      accepted.push_back(name);
    } else if (r.status != 1 || !r.out.empty() ||
               (is_valid_utf8(document) ? !syntax_error : r.err != kVerifyNotUtf8)) {
      wrong.push_back(name + " -> " + std::to_string(r.status) + " " + first_line(r.err));
    }
  }
  EXPECT_EQ(wrong, std::vector<std::string>{});
  EXPECT_EQ(accepted, kTomlAcceptedByLibrary);
}

TEST(TomlVectorsThroughVerify, ValidDocumentsFailOnlyOnTheMissingVersion) {
  TempDir bundle;
  std::vector<std::string> wrong;
  const std::vector<std::string> cases = toml_cases("valid");
  ASSERT_EQ(cases.size(), 210u);
  for (const std::string& name : cases) {
    const ProcessResult r = verify_with_manifest(bundle, read_bytes(kTomlTests / name));
    if (r.status != 1 || !r.out.empty() || !starts_with(r.err, kVerifyParseError) ||
        !ends_with(r.err, kMissingVersion))
      wrong.push_back(name + " -> " + std::to_string(r.status) + " " + first_line(r.err));
  }
  EXPECT_EQ(wrong, std::vector<std::string>{});
}

TEST(JsonVectorsThroughKeyPubkey, EveryDocumentIsRefusedWithOneIdentityLine) {
  std::vector<std::string> wrong;
  const std::vector<fs::path> cases = json_cases();
  ASSERT_EQ(cases.size(), 318u);
  for (const fs::path& file : cases) {
    const ProcessResult r = run_in_process({"key", "pubkey", "--identity", file.string()});
    const std::string detail = r.err.substr(std::min(r.err.size(), kPubkeyIdentityError.size()));
    // A document the JSON grammar accepts can only be refused for its shape, never its syntax.
    const bool record_level =
        std::any_of(std::begin(kRecordLevelReasons), std::end(kRecordLevelReasons),
                    [&](std::string_view reason) { return starts_with(detail, reason); });
    const bool grammatical = starts_with(file.filename().string(), "y_");
    if (r.status != 1 || !r.out.empty() || !starts_with(r.err, kPubkeyIdentityError) ||
        !is_one_line(r.err) || !is_valid_utf8(r.err) || (grammatical && !record_level))
      wrong.push_back(file.filename().string() + " -> " + std::to_string(r.status) + " " + r.err);
  }
  EXPECT_EQ(wrong, std::vector<std::string>{});
}

// Deep nesting and bad bytes through the real binary: a stack overflow would end it by a signal.
TEST(HostileDocumentsThroughBinary, FailWithOneClearErrorAndNoCrash) {
  TempDir dir;
  write_file(dir / "deep-array" / "bundle.toml", "x = " + std::string(100000, '['));
  write_file(dir / "deep-table" / "bundle.toml", "x = " + std::string(100000, '{'));
  // 150,000 parts once overflowed the stack while toml++ walked the tree.
  write_file(dir / "deep-keys" / "bundle.toml", dotted_key(200000) + " = 1\n");
  write_file(dir / "deep-header" / "bundle.toml", "[" + dotted_key(200000) + "]\n");
  write_file(dir / "bad-utf8" / "bundle.toml",
             read_bytes(kTomlTests / "invalid/encoding/bad-utf8-in-string.toml"));
  struct Case {
    std::vector<std::string> args;
    std::string_view prefix;
  };
  const std::string identity = "sarn-runtime-bundle key pubkey: identity file: ";
  const Case cases[] = {
      {{"verify", (dir / "deep-array").string()}, kVerifyParseError},
      {{"verify", (dir / "deep-table").string()}, kVerifyParseError},
      {{"verify", (dir / "deep-keys").string()}, kVerifyParseError},
      {{"verify", (dir / "deep-header").string()}, kVerifyParseError},
      {{"verify", (dir / "bad-utf8").string()}, kVerifyNotUtf8},
      {{"key", "pubkey", "--identity",
        (kJsonTests / "n_structure_100000_opening_arrays.json").string()},
       identity},
      {{"key", "pubkey", "--identity",
        (kJsonTests / "n_structure_open_array_object.json").string()},
       identity},
      {{"key", "pubkey", "--identity",
        (kJsonTests / "i_string_UTF-8_invalid_sequence.json").string()},
       identity},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    const ProcessResult r = run_tool(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(starts_with(r.err, c.prefix)) << r.err;
    EXPECT_TRUE(is_valid_utf8(r.err));
  }
}

}  // namespace
}  // namespace srb::test
