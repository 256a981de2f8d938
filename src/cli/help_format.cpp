#include "cli/help_format.hpp"

// Help and usage text of the command tree. The usage line lists [OPTIONS] first, then each
// required option with its value name, the positionals and the SUBCOMMAND marker, so a usage
// error shows at a glance what the command cannot do without.

namespace srb {
namespace {

// Wide enough that "--require-publisher REQUIRE_PUBLISHER" keeps its text on the same line.
constexpr std::size_t kColumnWidth = 40;

}  // namespace

HelpFormatter::HelpFormatter() {
  column_width(kColumnWidth);
}

std::string HelpFormatter::make_usage(const CLI::App* app, std::string name) const {
  std::string line = "Usage: " + name;
  const auto options =
      app->get_options([](const CLI::Option* opt) { return opt->nonpositional(); });
  if (!options.empty()) line += " [OPTIONS]";
  for (const CLI::Option* opt : options) {
    if (opt->get_required()) line += " " + opt->get_name() + " " + opt->get_type_name();
  }
  for (const CLI::Option* opt :
       app->get_options([](const CLI::Option* opt) { return opt->get_positional(); })) {
    line += " " + make_option_usage(opt);
  }
  if (!app->get_subcommands({}).empty()) line += " SUBCOMMAND";
  return line + "\n";
}

std::string HelpFormatter::make_option(const CLI::Option* opt, bool is_positional) const {
  if (!opt->get_description().empty()) return CLI::Formatter::make_option(opt, is_positional);
  return "  " + make_option_name(opt, is_positional) + make_option_opts(opt) + "\n";
}

std::string HelpFormatter::make_option_opts(const CLI::Option* opt) const {
  if (!opt->get_positional()) return CLI::Formatter::make_option_opts(opt);
  return opt->get_required() ? " REQUIRED" : "";
}

std::string command_path(const CLI::App& command) {
  if (command.get_parent() == nullptr) return command.get_name();
  return command_path(*command.get_parent()) + " " + command.get_name();
}

std::string render_help(const CLI::App& command) {
  // Not App::help(): that shows the help of whichever subcommand was parsed, not of `command`.
  return HelpFormatter().make_help(&command, command_path(command), CLI::AppFormatMode::Normal);
}

std::string render_usage(const CLI::App& command) {
  return HelpFormatter().make_usage(&command, command_path(command));
}

}  // namespace srb
