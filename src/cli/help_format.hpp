#pragma once
// How help screens and usage lines look. CLI11 draws the screens; this formatter changes the usage
// line, which names the required options, drops the value name CLI11 repeats after a positional's
// own name, and pads no line that has no help text.

#include <CLI/CLI.hpp>
#include <string>

namespace srb {

class HelpFormatter : public CLI::Formatter {
 public:
  HelpFormatter();
  std::string make_usage(const CLI::App* app, std::string name) const override;
  std::string make_option(const CLI::Option* opt, bool is_positional) const override;
  std::string make_option_opts(const CLI::Option* opt) const override;
};

// The words that call a command: the program name, then each subcommand down to `command`.
std::string command_path(const CLI::App& command);

// The whole help screen of one command.
std::string render_help(const CLI::App& command);

// "Usage: sarn-runtime-bundle build [OPTIONS] --version VERSION --out OUT", with a line feed.
std::string render_usage(const CLI::App& command);

}  // namespace srb
