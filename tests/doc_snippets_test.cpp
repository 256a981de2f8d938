// The C and C++ in the documents is code that compiles: every ```c and ```cpp block of the README
// and of docs/ is a whole translation unit, compiled against the library's headers with every
// warning an error, as C11 and as C++17.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/process.hpp"
#include "support/temp_dir.hpp"

namespace srb::test {
namespace {

namespace fs = std::filesystem;

const fs::path kSourceDir = SRB_SOURCE_DIR;

struct Snippet {
  std::string where;  // file and line of the fence
  std::string language;
  std::string code;
};

std::vector<Snippet> snippets_of(const fs::path& document) {
  std::ifstream in(document);
  std::vector<Snippet> found;
  std::string line;
  int number = 0;
  Snippet* open = nullptr;
  while (std::getline(in, line)) {
    ++number;
    if (open != nullptr) {
      if (line == "```") {
        open = nullptr;
      } else {
        open->code += line + "\n";
      }
      continue;
    }
    if (line == "```c" || line == "```cpp") {
      found.push_back({fs::relative(document, kSourceDir).string() + ":" + std::to_string(number),
                       line.substr(3), ""});
      open = &found.back();
    }
  }
  return found;
}

std::vector<Snippet> all_snippets() {
  std::vector<fs::path> documents = {kSourceDir / "README.md"};
  for (const auto& entry : fs::directory_iterator(kSourceDir / "docs"))
    if (entry.path().extension() == ".md") documents.push_back(entry.path());
  if (fs::exists(kSourceDir / "CONTRIBUTING.md"))
    documents.push_back(kSourceDir / "CONTRIBUTING.md");
  std::vector<Snippet> snippets;
  for (const fs::path& document : documents) {
    std::vector<Snippet> more = snippets_of(document);
    snippets.insert(snippets.end(), more.begin(), more.end());
  }
  return snippets;
}

TEST(DocumentSnippets, EveryCAndCppBlockCompiles) {
  const std::vector<Snippet> snippets = all_snippets();
  ASSERT_GE(snippets.size(), 2u) << "the library guide shows a launcher in C and in C++";
  const TempDir dir;
  int index = 0;
  for (const Snippet& snippet : snippets) {
    SCOPED_TRACE(snippet.where);
    const bool is_c = snippet.language == "c";
    const fs::path source = dir / ("snippet" + std::to_string(index++) + (is_c ? ".c" : ".cpp"));
    write_file(source, snippet.code);
    const std::vector<std::string> compile = {is_c ? "cc" : "c++",
                                              is_c ? "-std=c11" : "-std=c++17",
                                              "-D_POSIX_C_SOURCE=200809L",
                                              "-Wall",
                                              "-Wextra",
                                              "-Wpedantic",
                                              "-Werror",
                                              "-fsyntax-only",
                                              "-I" + (kSourceDir / "include").string(),
                                              source.string()};
    const ProcessResult compiled = run_process(compile);
    EXPECT_EQ(compiled.status, 0) << snippet.code << compiled.err;
  }
}

}  // namespace
}  // namespace srb::test
