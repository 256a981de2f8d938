#include "manifest/manifest.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace srb {
namespace {

const std::string kSuite = SRB_VECTORS_DIR "/toml-test/tests/";

std::string read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The suite's TOML 1.0 case files under one group ("valid/" or "invalid/").
std::vector<std::string> cases_in(std::string_view group) {
  std::istringstream list(read_bytes(kSuite + "files-toml-1.0.0"));
  std::vector<std::string> cases;
  for (std::string line; std::getline(list, line);) {
    if (line.starts_with(group) && line.ends_with(".toml")) cases.push_back(line);
  }
  return cases;
}

// The reason is the last line of the detail; the mapping's own reasons start with these words,
// while toml++'s syntax errors never do.
bool is_schema_failure(const std::string& detail) {
  const std::string reason = detail.substr(detail.rfind('\n') + 1);
  for (const char* start :
       {"missing field `", "invalid type: ", "invalid value: ", "invalid length "})
    if (reason.starts_with(start)) return true;
  return false;
}

// The cases of one group, split by whether parse_manifest found a TOML syntax error.
struct Outcomes {
  std::vector<std::string> syntax_errors;  // "name: reason"
  std::vector<std::string> others;         // parsed, or failed only the manifest schema
};

Outcomes read_group(std::string_view group) {
  Outcomes outcomes;
  for (const std::string& name : cases_in(group)) {
    const Result<BundleManifest> read = parse_manifest(read_bytes(kSuite + name));
    const std::string detail = read ? "" : std::get<ManifestParse>(read.error()).detail;
    if (read || is_schema_failure(detail)) {
      outcomes.others.push_back(name);
    } else {
      outcomes.syntax_errors.push_back(name + ": " + detail.substr(detail.rfind('\n') + 1));
    }
  }
  return outcomes;
}

TEST(TomlConformance, InvalidDocumentsFailToParse) {
  const Outcomes outcomes = read_group("invalid/");
  ASSERT_GT(outcomes.syntax_errors.size(), 400u) << "test suite not found under " << kSuite;
  EXPECT_EQ(outcomes.others, std::vector<std::string>{});
}

TEST(TomlConformance, ValidDocumentsParse) {
  const Outcomes outcomes = read_group("valid/");
  ASSERT_GT(outcomes.others.size(), 200u) << "test suite not found under " << kSuite;
  EXPECT_EQ(outcomes.syntax_errors, std::vector<std::string>{});
}

}  // namespace
}  // namespace srb
