#include "cli/help_format.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace srb {
namespace {

const CommandSpec& subcommand(const std::string& name) {
  return *command_spec().find_subcommand(name);
}

// The usage line breaks between its words, never inside "--version <VERSION>", and continues
// under its first word.
TEST(RenderUsage, WrapsUnderItsFirstWord) {
  const CommandSpec& build = subcommand("build");
  EXPECT_EQ(render_usage(build, "sarn-runtime-bundle", 80),
            "Usage: sarn-runtime-bundle build [OPTIONS] --version <VERSION> --out <OUT>\n");
  EXPECT_EQ(render_usage(build, "sarn-runtime-bundle", 50),
            "Usage: sarn-runtime-bundle build [OPTIONS]\n"
            "       --version <VERSION> --out <OUT>\n");
  EXPECT_EQ(render_usage(command_spec(), "srb", 80), "Usage: srb [OPTIONS] <COMMAND>\n");
}

// However narrow the width, every word is still shown once, in order, and nothing breaks.
TEST(RenderHelp, NarrowWidthsKeepEveryWord) {
  const CommandSpec& verify = subcommand("verify");
  const auto words = [](const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> all;
    for (std::string word; in >> word;)
      all.push_back(word);
    return all;
  };
  const std::vector<std::string> wide = words(render_help(verify, "sarn-runtime-bundle", 1000));
  for (const std::size_t width : {0u, 1u, 5u, 20u}) {
    SCOPED_TRACE(width);
    EXPECT_EQ(words(render_help(verify, "sarn-runtime-bundle", width)), wide);
  }
}

}  // namespace
}  // namespace srb
