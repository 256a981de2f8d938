#include "cli/argument_scan.hpp"

#include <optional>

#include "core/text.hpp"

// The scan keeps the command it has reached and the values given so far. Each argument is one of:
// "--", which ends the options; an option ("--name", "--name=value", "-h"), checked at once
// (known here, a flag without a value, a value present and acceptable, not repeated); or a word,
// which names a subcommand where the command has subcommands and is the next positional
// otherwise. At the end, a command that needs a subcommand and every required argument are
// checked, all missing ones together.

namespace srb {
namespace {

struct ScanState {
  const CommandSpec* command;
  std::vector<std::vector<std::string>> values;  // of the command's arguments
  bool options_ended = false;
  std::size_t args_in_command = 0;  // arguments begun after the word that named the command
  std::size_t positionals_taken = 0;
};

// What reading one argument did: how many arguments it used, or how the scan ends.
using Step = std::variant<std::size_t, HelpRequest, UsageError>;

bool is_option_like(const std::string& arg) {
  return arg.size() > 1 && arg[0] == '-';
}

void enter(ScanState& state, const CommandSpec& command) {
  state.command = &command;
  state.values.assign(command.arguments.size(), {});
  state.args_in_command = 0;
  state.positionals_taken = 0;
}

// The index of the option `name` ("--out") among the current command's arguments.
std::optional<std::size_t> find_option(const ScanState& state, std::string_view name) {
  const std::vector<ArgumentSpec>& arguments = state.command->arguments;
  for (std::size_t i = 0; i < arguments.size(); ++i)
    if (!arguments[i].is_positional() && arguments[i].name() == name) return i;
  return std::nullopt;
}

// The index of the n-th positional argument of the current command.
std::optional<std::size_t> find_positional(const ScanState& state, std::size_t n) {
  const std::vector<ArgumentSpec>& arguments = state.command->arguments;
  for (std::size_t i = 0; i < arguments.size(); ++i)
    if (arguments[i].is_positional() && n-- == 0) return i;
  return std::nullopt;
}

UsageError problem(const ScanState& state, UsageProblem kind, std::string subject) {
  return UsageError{kind, state.command, std::move(subject), {}};
}

// A value is taken as the bytes typed, but a path may not be empty and a text must be UTF-8.
std::optional<UsageError> store_value(ScanState& state, std::size_t index, std::string value) {
  const ArgumentSpec& spec = state.command->arguments[index];
  const std::string shown = spec.is_positional() ? display_name(spec) : spec.name();
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
  const ArgumentSpec& spec = state.command->arguments[*index];
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
  if (state.command->needs_subcommand() && !state.options_ended) {
    const CommandSpec* sub = state.command->find_subcommand(arg);
    if (sub == nullptr) return problem(state, UsageProblem::unrecognized_subcommand, arg);
    enter(state, *sub);
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
  const CommandSpec* help = state.command;
  const CommandSpec* target = help->parent;
  for (; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") return HelpRequest{help};
    if (arg == "--" && !state.options_ended) {
      state.options_ended = true;
    } else if (is_option_like(arg) && !state.options_ended) {
      return problem(state, UsageProblem::unexpected_argument, arg);
    } else if (const CommandSpec* sub = target->find_subcommand(arg)) {
      target = sub;
    } else {
      return UsageError{UsageProblem::unrecognized_subcommand, target, arg, {}};
    }
  }
  return HelpRequest{target};
}

// What is still missing once every argument is read.
ScanOutcome finish(ScanState& state) {
  if (state.command->is_help_command()) return HelpRequest{state.command->parent};
  if (state.command->needs_subcommand()) {
    if (state.args_in_command == 0) return BareCall{state.command};
    return problem(state, UsageProblem::missing_subcommand, "");
  }
  UsageError missing = problem(state, UsageProblem::missing_required, "");
  const std::vector<ArgumentSpec>& arguments = state.command->arguments;
  for (std::size_t i = 0; i < arguments.size(); ++i)
    if (arguments[i].presence == Presence::required && state.values[i].empty())
      missing.missing.push_back(display_name(arguments[i]));
  if (!missing.missing.empty()) return missing;
  // Every command without subcommands but help runs, as a test of the tree checks.
  return ScannedCommand{state.command->id.value(), state.command, std::move(state.values)};
}

}  // namespace

ScanOutcome scan_arguments(const CommandSpec& root, std::span<const std::string> args) {
  ScanState state;
  enter(state, root);
  for (std::size_t i = 1; i < args.size();) {
    if (state.command->is_help_command()) return read_help_topic(state, args, i);
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
