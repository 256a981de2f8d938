#include "cli/argument_scan.hpp"

#include <optional>

#include "cli/help_format.hpp"
#include "core/text.hpp"

// The scan keeps the command it has reached and the values given so far. Each argument is one of:
// "--", which ends the options; an option ("--name", "--name=value", "-h"), checked at once
// (known here, a flag without a value, a value present and acceptable, not repeated); or a word,
// which names a subcommand where the command has subcommands and is the next positional
// otherwise. At the end, a command that needs a subcommand and every required argument are
// checked, all missing ones together. CLI11's own parser is never called.

namespace srb {
namespace {

struct ScanState {
  const CommandTree& tree;
  const CLI::App* command;
  std::vector<std::vector<std::string>> values;
  bool options_ended = false;
  std::size_t args_in_command = 0;  // arguments begun after the word that named the command
  std::size_t positionals_taken = 0;
};

// What reading one argument did: how many arguments it used, or how the scan ends.
using Step = std::variant<std::size_t, HelpRequest, UsageError>;

bool is_option_like(const std::string& arg) {
  return arg.size() > 1 && arg[0] == '-';
}

bool has_subcommands(const CLI::App& command) {
  return !command.get_subcommands({}).empty();
}

const CLI::App* find_subcommand(const CLI::App& command, const std::string& name) {
  for (const CLI::App* sub : command.get_subcommands({}))
    if (sub->get_name() == name) return sub;
  return nullptr;
}

// The index in tree.arguments of the option `name` ("--out") of the current command.
std::optional<std::size_t> find_option(const ScanState& state, std::string_view name) {
  for (std::size_t i = 0; i < state.tree.arguments.size(); ++i) {
    const DeclaredArgument& arg = state.tree.arguments[i];
    if (arg.command == state.command && arg.spec.name == name) return i;
  }
  return std::nullopt;
}

// The index of the n-th positional argument of the current command.
std::optional<std::size_t> find_positional(const ScanState& state, std::size_t n) {
  for (std::size_t i = 0; i < state.tree.arguments.size(); ++i) {
    const DeclaredArgument& arg = state.tree.arguments[i];
    if (arg.command != state.command || arg.spec.name.starts_with("-")) continue;
    if (n-- == 0) return i;
  }
  return std::nullopt;
}

UsageError problem(const ScanState& state, UsageProblem kind, std::string subject) {
  return UsageError{kind, state.command, std::move(subject), {}};
}

// A value is taken as the bytes typed, but a path may not be empty and a text must be UTF-8.
std::optional<UsageError> store_value(ScanState& state, std::size_t index, std::string value) {
  const ArgumentSpec& spec = state.tree.arguments[index].spec;
  const std::string shown =
      spec.name.starts_with("-") ? spec.name : display_name(*state.tree.arguments[index].option);
  if (spec.kind == ValueKind::path && value.empty())
    return problem(state, UsageProblem::missing_value, shown);
  if (spec.kind == ValueKind::text && !is_valid_utf8(value))
    return problem(state, UsageProblem::invalid_utf8, shown);
  state.values[index].push_back(std::move(value));
  return std::nullopt;
}

Step read_long_option(ScanState& state, std::span<const std::string> args, std::size_t i) {
  const std::string& arg = args[i];
  const std::size_t equals = arg.find('=');
  const std::string name = arg.substr(0, equals);
  const bool has_value = equals != std::string::npos;
  if (name == "--help") {
    if (has_value) return problem(state, UsageProblem::flag_with_value, name);
    return HelpRequest{state.command};
  }
  const std::optional<std::size_t> index = find_option(state, name);
  if (!index) return problem(state, UsageProblem::unexpected_argument, arg);
  const ArgumentSpec& spec = state.tree.arguments[*index].spec;
  if (!state.values[*index].empty() && spec.repeat == Repeat::no)
    return problem(state, UsageProblem::repeated_argument, name);
  if (spec.kind == ValueKind::flag) {
    if (has_value) return problem(state, UsageProblem::flag_with_value, name);
    state.values[*index].emplace_back();
    return std::size_t{1};
  }
  if (has_value) {
    if (auto error = store_value(state, *index, arg.substr(equals + 1))) return *error;
    return std::size_t{1};
  }
  // "-" alone is a value (standard input, by convention); anything else with a dash is an option.
  if (i + 1 == args.size() || is_option_like(args[i + 1]))
    return problem(state, UsageProblem::missing_value, name);
  if (auto error = store_value(state, *index, args[i + 1])) return *error;
  return std::size_t{2};
}

Step read_option(ScanState& state, std::span<const std::string> args, std::size_t i) {
  if (args[i].starts_with("--")) return read_long_option(state, args, i);
  if (args[i] == "-h") return HelpRequest{state.command};
  return problem(state, UsageProblem::unexpected_argument, args[i]);
}

Step read_word(ScanState& state, const std::string& arg) {
  if (has_subcommands(*state.command) && !state.options_ended) {
    const CLI::App* sub = find_subcommand(*state.command, arg);
    if (sub == nullptr) return problem(state, UsageProblem::unrecognized_subcommand, arg);
    state.command = sub;
    state.args_in_command = 0;  // the word that named it does not count
    state.positionals_taken = 0;
    return std::size_t{1};
  }
  const std::optional<std::size_t> index = find_positional(state, state.positionals_taken);
  if (!index) return problem(state, UsageProblem::unexpected_argument, arg);
  ++state.positionals_taken;
  if (auto error = store_value(state, *index, arg)) return *error;
  return std::size_t{1};
}

// The words after `help` name the command whose help is wanted, one level at a time.
ScanOutcome read_help_topic(ScanState& state, std::span<const std::string> args, std::size_t i) {
  const CLI::App* help = state.command;
  const CLI::App* target = help->get_parent();
  for (; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") return HelpRequest{help};
    if (arg == "--" && !state.options_ended) {
      state.options_ended = true;
    } else if (is_option_like(arg) && !state.options_ended) {
      return problem(state, UsageProblem::unexpected_argument, arg);
    } else if (const CLI::App* sub = find_subcommand(*target, arg)) {
      target = sub;
    } else {
      return UsageError{UsageProblem::unrecognized_subcommand, target, arg, {}};
    }
  }
  return HelpRequest{target};
}

bool is_help_command(const CLI::App& command) {
  return command.get_parent() != nullptr && command.get_name() == "help";
}

// What is still missing once every argument is read.
ScanOutcome finish(ScanState& state) {
  if (is_help_command(*state.command)) return HelpRequest{state.command->get_parent()};
  if (state.command->get_require_subcommand_min() > 0) {
    if (state.args_in_command == 0) return BareCall{state.command};
    return problem(state, UsageProblem::missing_subcommand, "");
  }
  UsageError missing = problem(state, UsageProblem::missing_required, "");
  for (std::size_t i = 0; i < state.tree.arguments.size(); ++i) {
    const DeclaredArgument& arg = state.tree.arguments[i];
    if (arg.command == state.command && arg.spec.presence == Presence::required &&
        state.values[i].empty())
      missing.missing.push_back(display_name(*arg.option));
  }
  if (!missing.missing.empty()) return missing;
  return ScannedCommand{state.command, std::move(state.values)};
}

}  // namespace

ScanOutcome scan_arguments(const CommandTree& tree, std::span<const std::string> args) {
  ScanState state{tree, &tree.root, std::vector<std::vector<std::string>>(tree.arguments.size())};
  for (std::size_t i = 1; i < args.size();) {
    if (is_help_command(*state.command)) return read_help_topic(state, args, i);
    const std::string& arg = args[i];
    ++state.args_in_command;
    Step step = std::size_t{1};
    if (state.options_ended || !is_option_like(arg)) {
      step = read_word(state, arg);
    } else if (arg == "--") {
      state.options_ended = true;
    } else {
      step = read_option(state, args, i);
    }
    if (auto* help = std::get_if<HelpRequest>(&step)) return *help;
    if (auto* error = std::get_if<UsageError>(&step)) return std::move(*error);
    i += std::get<std::size_t>(step);
  }
  return finish(state);
}

}  // namespace srb
