#include "tests/support/include_layers.hpp"

#include <algorithm>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>

namespace srb::test {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kSupport = "tests/support";

bool is_test_beside_code(std::string_view relative_path) {
  return relative_path.starts_with("src/") &&
         (relative_path.ends_with("_test.cpp") || relative_path.ends_with("_test.hpp"));
}

bool is_end_to_end_test(std::string_view relative_path) {
  return folder_of_file(relative_path) == "tests";
}

// The folder an included name lands in, or empty for a header from outside the tree.
std::string folder_of_include(std::string_view name, bool angled) {
  if (angled) return name.starts_with("sarn_runtime_bundle/") ? "include" : "";
  if (name.starts_with("tests/support/") || name.starts_with("support/"))
    return std::string(kSupport);
  const std::size_t slash = name.find('/');
  if (slash == std::string_view::npos) return "";
  return std::string(name.substr(0, slash));
}

}  // namespace

LayerRules project_layer_rules() {
  const std::set<std::string> library = {"core",     "manifest", "signing",
                                         "location", "build",    "verify"};
  std::set<std::string> everything = library;
  everything.insert({"api", "include"});
  LayerRules rules = {
      {"core", {}},
      {"manifest", {"core"}},
      {"signing", {"core", "manifest"}},
      {"location", {"core"}},
      {"build", {"core", "manifest", "signing"}},
      {"verify", {"core", "manifest", "signing"}},
      {"api", everything},
      {"cli", everything},
      {"include", {}},
      {std::string(kSupport), library},
  };
  rules["api"].erase("api");
  rules["api"].erase("cli");
  return rules;
}

std::string folder_of_file(std::string_view path) {
  if (path.starts_with("include/")) return "include";
  if (path.starts_with("tests/support/")) return std::string(kSupport);
  if (path.starts_with("tests/")) return path.find('/', 6) == std::string_view::npos ? "tests" : "";
  if (!path.starts_with("src/")) return "";
  const std::size_t slash = path.find('/', 4);
  return slash == std::string_view::npos ? "" : std::string(path.substr(4, slash - 4));
}

std::vector<FolderInclude> folder_includes(std::string_view relative_path, std::string_view text) {
  static const std::regex include_line(R"(^\s*#\s*include\s*([<"])([^">]+)[">])");
  const std::string from = folder_of_file(relative_path);
  std::vector<FolderInclude> out;
  std::istringstream lines{std::string(text)};
  for (std::string line; std::getline(lines, line);) {
    std::smatch match;
    if (!std::regex_search(line, match, include_line)) continue;
    std::string to = folder_of_include(match[2].str(), match[1] == "<");
    if (to.empty() || to == from) continue;
    out.push_back({from, std::move(to), std::string(relative_path), line});
  }
  return out;
}

std::vector<FolderInclude> folder_includes_of_tree(const fs::path& root) {
  std::vector<FolderInclude> out;
  for (const char* top : {"src", "include", "tests"}) {
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root / top)) {
      const std::string extension = entry.path().extension().string();
      if (!entry.is_regular_file() ||
          (extension != ".cpp" && extension != ".hpp" && extension != ".h" && extension != ".c"))
        continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::ostringstream text;
      text << in.rdbuf();
      const std::vector<FolderInclude> found =
          folder_includes(fs::relative(entry.path(), root).generic_string(), text.str());
      out.insert(out.end(), found.begin(), found.end());
    }
  }
  return out;
}

std::vector<std::string> layer_violations(const std::vector<FolderInclude>& includes,
                                          const LayerRules& rules) {
  std::vector<std::string> out;
  for (const FolderInclude& include : includes) {
    if (is_end_to_end_test(include.file)) continue;
    const auto rule = rules.find(include.from);
    if (rule == rules.end()) {
      out.push_back(include.file + ": folder " + include.from + " has no layer rule");
      continue;
    }
    const bool may_reach_support = is_test_beside_code(include.file) || include.from == kSupport;
    if (rule->second.contains(include.to) || (may_reach_support && include.to == kSupport))
      continue;
    out.push_back(include.file + ": " + include.from + " may not include " + include.to + " (" +
                  include.line + ")");
  }
  return out;
}

std::vector<std::string> folder_cycles(const std::vector<FolderInclude>& includes) {
  std::map<std::string, std::set<std::string>> graph;
  for (const FolderInclude& include : includes)
    if (!is_test_beside_code(include.file) && !is_end_to_end_test(include.file))
      graph[include.from].insert(include.to);

  // Depth-first search; an edge back to a folder on the current path closes a cycle.
  std::vector<std::string> cycles;
  std::map<std::string, int> state;  // 0 unseen, 1 on the path, 2 done
  std::vector<std::string> path;
  std::function<void(const std::string&)> visit = [&](const std::string& folder) {
    state[folder] = 1;
    path.push_back(folder);
    for (const std::string& next : graph[folder]) {
      if (state[next] == 1) {
        std::string cycle;
        for (auto it = std::find(path.begin(), path.end(), next); it != path.end(); ++it)
          cycle += *it + " -> ";
        cycles.push_back(cycle + next);
      } else if (state[next] == 0) {
        visit(next);
      }
    }
    path.pop_back();
    state[folder] = 2;
  };
  for (const auto& [folder, targets] : std::map(graph))
    if (state[folder] == 0) visit(folder);
  return cycles;
}

std::string render_folder_graph(const std::vector<FolderInclude>& includes) {
  std::map<std::pair<std::string, std::string>, int> counts;
  for (const FolderInclude& include : includes)
    ++counts[{include.from, include.to}];
  std::string out;
  for (const auto& [edge, count] : counts)
    out += edge.first + " -> " + edge.second + ": " + std::to_string(count) + "\n";
  return out;
}

}  // namespace srb::test
