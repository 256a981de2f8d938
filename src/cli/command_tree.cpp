#include "cli/command_tree.hpp"

#include <limits>

// Each command of the plain tree becomes a CLI11 App with one Option per argument. Nothing is
// bound to a variable: CLI11 never parses, so its options only describe.

namespace srb {
namespace {

CLI::Option* declare_argument(CLI::App& command, const ArgumentSpec& spec) {
  if (spec.kind == ValueKind::flag) return command.add_flag(spec.name(), spec.help);
  CLI::Option* option = command.add_option(spec.name(), spec.help)->type_name(spec.value_name);
  if (spec.presence == Presence::required) option->required();
  if (spec.is_positional() && spec.repeat == Repeat::yes)
    option->expected(0, std::numeric_limits<int>::max());
  return option;
}

void declare_subcommands(CLI::App& app, const CommandSpec& command,
                         std::vector<DeclaredArgument>& arguments) {
  if (command.needs_subcommand()) app.require_subcommand(1);
  for (const CommandSpec& sub : command.subcommands) {
    CLI::App* child = app.add_subcommand(sub.name, sub.description);
    for (const ArgumentSpec& spec : sub.arguments) {
      CLI::Option* option = declare_argument(*child, spec);
      if (!sub.is_help_command()) arguments.push_back({spec, child, option});
    }
    declare_subcommands(*child, sub, arguments);
  }
}

// Declared once the tree is complete, so help lists the flag after every other option. The
// commands carry none until then: CLI11 would copy the parent's into each new subcommand.
void declare_help_flags(CLI::App& command) {
  for (CLI::App* sub : command.get_subcommands({}))
    declare_help_flags(*sub);
  command.set_help_flag("-h,--help", kHelpFlagText);
}

}  // namespace

CommandTree::CommandTree(const std::string& program_name)
    : root(command_spec().description, program_name) {
  root.set_help_flag();  // removes the one CLI11 gives every root; see declare_help_flags
  declare_subcommands(root, command_spec(), arguments);
  declare_help_flags(root);
}

}  // namespace srb
