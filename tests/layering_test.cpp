// The folders are floors: includes point down, never up, sideways or round in a cycle. The
// first test checks the tree itself and prints its folder graph (ctest -R Layering -V); the
// others show that the check catches what it is there to catch.

#include <gtest/gtest.h>

#include <iostream>

#include "tests/support/include_layers.hpp"

namespace srb::test {
namespace {

std::string joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines)
    out += line + "\n";
  return out;
}

TEST(Layering, SourceTreeIncludesOnlyDownward) {
  const std::vector<FolderInclude> includes = folder_includes_of_tree(SRB_SOURCE_DIR);
  ASSERT_FALSE(includes.empty());
  std::cout << render_folder_graph(includes);
  EXPECT_EQ(joined(layer_violations(includes, project_layer_rules())), "");
  EXPECT_EQ(joined(folder_cycles(includes)), "");
}

TEST(Layering, EachFileBelongsToItsFolder) {
  const struct {
    const char* path;
    const char* folder;
  } cases[] = {
      {"src/core/text.cpp", "core"},
      {"src/verify/verify_test.cpp", "verify"},
      {"tests/support/process.hpp", "tests/support"},
      {"tests/build_test.cpp", "tests"},
      {"include/sarn_runtime_bundle/bundle.hpp", "include"},
      {"src/main.cpp", ""},
      {"bench/paired.c", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(folder_of_file(c.path), c.folder) << c.path;
}

std::vector<std::string> violations_of(const char* path, const char* text) {
  return layer_violations(folder_includes(path, text), project_layer_rules());
}

TEST(Layering, RulesRefuseUpwardAndSidewaysIncludes) {
  const struct {
    const char* path;
    const char* text;
    std::size_t violations;
  } cases[] = {
      {"src/core/text.cpp", "#include \"manifest/manifest.hpp\"\n", 1},         // upward
      {"src/location/user_root.cpp", "#  include \"verify/verify.hpp\"\n", 1},  // sideways
      {"src/verify/verify.cpp", "#include \"build/build.hpp\"\n", 1},
      {"src/manifest/digest.cpp", "#include <sarn_runtime_bundle/bundle.hpp>\n", 1},
      {"include/sarn_runtime_bundle/verify.hpp", "#include \"verify/verify.hpp\"\n", 1},
      {"src/newfolder/x.cpp", "#include \"core/error.hpp\"\n", 1},  // no rule yet
      {"tests/support/fixture.cpp", "#include \"cli/run.hpp\"\n", 1},
      {"src/core/text_test.cpp", "#include \"signing/signature.hpp\"\n", 1},
      // Allowed: downward, a test beside the code reaching tests/support, end-to-end tests.
      {"src/signing/signature.cpp", "#include \"manifest/manifest.hpp\"\n#include <vector>\n", 0},
      {"src/core/text_test.cpp", "#include \"tests/support/temp_dir.hpp\"\n", 0},
      {"src/api/c_api.cpp",
       "#include <sarn_runtime_bundle/bundle.hpp>\n#include \"verify/verify.hpp\"\n", 0},
      {"src/cli/run.cpp", "#include \"location/bundle_path.hpp\"\n", 0},
      {"tests/cli_test.cpp", "#include \"cli/run.hpp\"\n#include \"support/process.hpp\"\n", 0},
      {"src/core/hex.cpp", "// #include \"verify/verify.hpp\" in a comment\n", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path) + ": " + c.text);
    EXPECT_EQ(violations_of(c.path, c.text).size(), c.violations);
  }
}

TEST(Layering, FindsCyclesButNotTestsThatIncludeTheirFixtures) {
  std::vector<FolderInclude> includes =
      folder_includes("src/core/hex.cpp", "#include \"cli/x.hpp\"");
  const std::vector<FolderInclude> back =
      folder_includes("src/cli/run.cpp", "#include \"core/hex.hpp\"");
  includes.insert(includes.end(), back.begin(), back.end());
  EXPECT_EQ(folder_cycles(includes), std::vector<std::string>{"cli -> core -> cli"});

  std::vector<FolderInclude> fixtures =
      folder_includes("src/core/hex_test.cpp", "#include \"tests/support/temp_dir.hpp\"");
  const std::vector<FolderInclude> support =
      folder_includes("tests/support/temp_dir.cpp", "#include \"core/hex.hpp\"");
  fixtures.insert(fixtures.end(), support.begin(), support.end());
  EXPECT_EQ(folder_cycles(fixtures), std::vector<std::string>{});
}

}  // namespace
}  // namespace srb::test
