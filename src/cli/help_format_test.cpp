#include "cli/help_format.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "cli/command_tree.hpp"

namespace srb {
namespace {

const CLI::App& subcommand(const CLI::App& app, const std::string& name) {
  return *app.get_subcommand(name);
}

// The usage line breaks between its words, never inside "--version <VERSION>", and continues
// under its first word.
TEST(RenderUsage, WrapsUnderItsFirstWord) {
  const CommandTree tree("sarn-runtime-bundle");
  const CLI::App& build = subcommand(tree.root, "build");
  EXPECT_EQ(render_usage(build, 80),
            "Usage: sarn-runtime-bundle build [OPTIONS] --version <VERSION> --out <OUT>\n");
  EXPECT_EQ(render_usage(build, 50),
            "Usage: sarn-runtime-bundle build [OPTIONS]\n"
            "       --version <VERSION> --out <OUT>\n");
  EXPECT_EQ(render_help(tree.root, 80).find("[OPTIONS] <COMMAND>\n") != std::string::npos, true);
}

// However narrow the width, every word is still shown once, in order, and nothing breaks.
TEST(RenderHelp, NarrowWidthsKeepEveryWord) {
  const CommandTree tree("sarn-runtime-bundle");
  const CLI::App& verify = subcommand(tree.root, "verify");
  const auto words = [](const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> all;
    for (std::string word; in >> word;)
      all.push_back(word);
    return all;
  };
  const std::vector<std::string> wide = words(render_help(verify, 1000));
  for (const std::size_t width : {0u, 1u, 5u, 20u}) {
    SCOPED_TRACE(width);
    EXPECT_EQ(words(render_help(verify, width)), wide);
  }
}

}  // namespace
}  // namespace srb
