#pragma once
// The folders of the source tree as floors: which folder includes which, checked against the
// rule of what each may include, and any cycle among them.

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace srb::test {

// One #include from a file of one folder ("core", "tests/support", "include") into another.
struct FolderInclude {
  std::string from;
  std::string to;
  std::string file;  // relative to the source root
  std::string line;
};

// What each folder may include besides itself.
using LayerRules = std::map<std::string, std::set<std::string>, std::less<>>;
LayerRules project_layer_rules();

// The folder a file belongs to: "src/core/text.cpp" -> "core", "tests/support/x.hpp" ->
// "tests/support", "tests/build_test.cpp" -> "tests", "include/sarn_runtime_bundle/x.hpp" ->
// "include"; empty for anything else.
std::string folder_of_file(std::string_view relative_path);

// The includes of one file's text that reach another folder of the tree; system headers and
// headers of other projects are left out.
std::vector<FolderInclude> folder_includes(std::string_view relative_path, std::string_view text);

// folder_includes of every C++ and C source under src/, include/ and tests/ below `root`.
std::vector<FolderInclude> folder_includes_of_tree(const std::filesystem::path& root);

// One line per include that breaks the rules. A test beside the code (src/X/*_test.cpp) and
// tests/support may also include tests/support; end-to-end tests (tests/) may include anything.
std::vector<std::string> layer_violations(const std::vector<FolderInclude>& includes,
                                          const LayerRules& rules);

// Each cycle among folders, as the folders along it ("core -> manifest -> core"), counting the
// code and tests/support but not the tests themselves, which stand above everything.
std::vector<std::string> folder_cycles(const std::vector<FolderInclude>& includes);

// "from -> to: N" per pair of folders, sorted.
std::string render_folder_graph(const std::vector<FolderInclude>& includes);

}  // namespace srb::test
