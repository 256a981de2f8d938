#include "cli/command_line.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <optional>

#include "cli/argument_scan.hpp"
#include "cli/command_tree.hpp"
#include "cli/help_format.hpp"
#include "cli/usage_error.hpp"
#include "core/text.hpp"

// Parsing runs in this order: a bare call of a command that needs a subcommand shows its help;
// the scan catches values given to flags and options lacking one; CLI11 parses; then the first
// unexpected argument, CLI11's own complaint (a missing required argument or subcommand), and
// the checks CLI11 is not told about (repeats, empty paths, text that is not UTF-8) are reported
// in that order. Only then is the Cli record formed, or the help subcommand answered.
// CLI11 exceptions stop here.

namespace srb {
namespace {

constexpr int kHelpStatus = 0;
constexpr int kUsageStatus = 2;

std::string program_name(std::span<const std::string> args) {
  const std::string name =
      args.empty() ? std::string() : std::filesystem::path(args[0]).filename().string();
  return name.empty() ? "sarn-runtime-bundle" : lossy_utf8(name);
}

// The command CLI11 reached: the root, or the deepest subcommand it entered.
const CLI::App& parsed_command(const CLI::App& root) {
  const CLI::App* command = &root;
  while (!command->get_subcommands().empty())
    command = command->get_subcommands().front();
  return *command;
}

// The first argument CLI11 could not place, looking from the root down.
std::optional<UsageError> find_unexpected(const CLI::App& root) {
  for (const CLI::App* command = &root; command != nullptr;) {
    for (const std::string& arg : command->remaining()) {
      if (arg == "--") continue;  // the end-of-options mark, not an argument
      const bool names_subcommand = !arg.starts_with("-") &&
                                    !command->get_subcommands({}).empty() &&
                                    command->get_subcommands().empty();
      return UsageError{names_subcommand ? UsageProblem::unrecognized_subcommand
                                         : UsageProblem::unexpected_argument,
                        command, arg};
    }
    const auto subs = command->get_subcommands();
    command = subs.empty() ? nullptr : subs.front();
  }
  return std::nullopt;
}

UsageError explain(const CLI::ParseError& error, const CommandTree& tree) {
  const CLI::App& command = parsed_command(tree.root);
  if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr) {
    for (const DeclaredArgument& arg : tree.arguments) {
      if (arg.command == &command && arg.spec.presence == Presence::required &&
          arg.option->count() == 0)
        return UsageError{UsageProblem::missing_required, &command, identifier(arg.spec)};
    }
    if (command.get_require_subcommand_min() > 0 && command.get_subcommands().empty())
      return UsageError{UsageProblem::missing_subcommand, &command, ""};
  }
  return UsageError{UsageProblem::other, &command, error.what()};
}

// What CLI11 lets through: a repeated option, an empty path, a text that is not UTF-8.
std::optional<UsageError> check_values(const CommandTree& tree) {
  for (const DeclaredArgument& arg : tree.arguments) {
    const std::vector<std::string>& values = arg.option->results();
    if (values.size() > 1 && arg.spec.repeat == Repeat::no)
      return UsageError{UsageProblem::repeated_argument, arg.command, arg.spec.name};
    for (const std::string& value : values) {
      if (arg.spec.kind == ValueKind::path && value.empty())
        return UsageError{UsageProblem::missing_value, arg.command, arg.spec.name};
      if (arg.spec.kind == ValueKind::text && !is_valid_utf8(value))
        return UsageError{UsageProblem::invalid_utf8, arg.command, arg.spec.name};
    }
  }
  return std::nullopt;
}

const std::vector<std::string>& values(const CLI::App& command, const std::string& name) {
  return command.get_option(name)->results();
}

std::optional<std::string> optional_value(const CLI::App& command, const std::string& name) {
  const std::vector<std::string>& given = values(command, name);
  if (given.empty()) return std::nullopt;
  return given.front();
}

std::optional<std::filesystem::path> optional_path(const CLI::App& command,
                                                   const std::string& name) {
  const std::optional<std::string> given = optional_value(command, name);
  if (!given) return std::nullopt;
  return std::filesystem::path(*given);
}

bool flag(const CLI::App& command, const std::string& name) {
  return command.get_option(name)->count() > 0;
}

Cli to_build(const CLI::App& build) {
  Build cmd{values(build, "--version").front(), values(build, "--out").front(),
            optional_path(build, "--from"),     optional_value(build, "--arch"),
            optional_path(build, "--identity"), {}};
  for (const std::string& include : values(build, "--include"))
    cmd.include.emplace_back(include);
  return Cli{std::move(cmd)};
}

Cli to_verify(const CLI::App& verify) {
  return Cli{Verify{values(verify, "DIR").front(), optional_value(verify, "--require-publisher"),
                    flag(verify, "--require-signature"), optional_value(verify, "--require-arch")}};
}

Cli to_path(const CLI::App& path) {
  return Cli{Path{values(path, "--version").front(), flag(path, "--system")}};
}

Cli to_key(const CLI::App& command) {
  if (command.get_name() == "generate") return Cli{Key{Generate{values(command, "--out").front()}}};
  return Cli{Key{Pubkey{values(command, "--identity").front()}}};
}

// The Cli record of the command CLI11 reached, which is never the root or key: both need a
// subcommand. `help` is answered before this.
Cli to_cli(const CLI::App& command) {
  const std::string& name = command.get_name();
  if (name == "build") return to_build(command);
  if (name == "verify") return to_verify(command);
  if (name == "path") return to_path(command);
  return to_key(command);
}

// The help subcommand: its words name a command below the one `help` belongs to.
std::variant<Cli, ParseExit> answer_help(const CLI::App& help, std::ostream& out,
                                         std::ostream& err) {
  const CLI::App* target = help.get_parent();
  for (const std::string& name : values(help, "COMMAND")) {
    const auto found =
        target->get_subcommands([&name](const CLI::App* sub) { return sub->get_name() == name; });
    if (found.empty()) {
      err << render_usage_error({UsageProblem::unrecognized_subcommand, target, name});
      return ParseExit{kUsageStatus};
    }
    target = found.front();
  }
  out << render_help(*target);
  return ParseExit{kHelpStatus};
}

ParseExit reject(const UsageError& error, std::ostream& err) {
  err << render_usage_error(error);
  return ParseExit{kUsageStatus};
}

}  // namespace

std::variant<Cli, ParseExit> parse_command_line(std::span<const std::string> args,
                                                std::ostream& out, std::ostream& err) {
  CommandTree tree(program_name(args));
  ArgumentScan scan = scan_arguments(tree.root, args);
  if (scan.args_after_command == 0 && scan.last_command->get_require_subcommand_min() > 0) {
    err << render_help(*scan.last_command);
    return ParseExit{kUsageStatus};
  }
  if (scan.error) return reject(*scan.error, err);
  std::reverse(scan.args.begin(), scan.args.end());  // CLI11 takes them last first
  std::optional<UsageError> failure;
  try {
    tree.root.parse(scan.args);
  } catch (const CLI::CallForHelp&) {
    out << render_help(parsed_command(tree.root));
    return ParseExit{kHelpStatus};
  } catch (const CLI::ParseError& e) {
    failure = explain(e, tree);
  }
  if (std::optional<UsageError> unexpected = find_unexpected(tree.root)) failure = unexpected;
  if (!failure) failure = check_values(tree);
  if (failure) return reject(*failure, err);
  const CLI::App& command = parsed_command(tree.root);
  if (command.get_name() == "help") return answer_help(command, out, err);
  return to_cli(command);
}

}  // namespace srb
