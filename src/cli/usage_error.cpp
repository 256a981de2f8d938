#include "cli/usage_error.hpp"

#include <optional>
#include <vector>

#include "cli/help_format.hpp"
#include "cli/suggest.hpp"
#include "core/text.hpp"

// The wording of usage errors. Subjects are shown lossily, since an unexpected argument may hold
// any bytes. A mistyped option is compared with the long options of the same command, a mistyped
// subcommand with the subcommands of the command it was looked up in.

namespace srb {
namespace {

std::string describe(const UsageError& error) {
  const std::string shown = lossy_utf8(error.subject);
  switch (error.problem) {
    case UsageProblem::unexpected_argument:
      return "unexpected argument '" + shown + "' found";
    case UsageProblem::unrecognized_subcommand:
      return "the subcommand '" + shown + "' wasn't recognized";
    case UsageProblem::missing_value:
      return "a value is required for '" + shown + "' but none was supplied";
    case UsageProblem::flag_with_value:
      return "the flag '" + shown + "' does not take a value";
    case UsageProblem::missing_required:
      return (error.missing.size() == 1 ? "the following required argument was not provided: "
                                        : "the following required arguments were not provided: ") +
             joined(error.missing, ", ");
    case UsageProblem::missing_subcommand:
      return "a subcommand is required but one was not provided";
    case UsageProblem::repeated_argument:
      return "the argument '" + shown + "' cannot be used multiple times";
    case UsageProblem::invalid_utf8:
      break;
  }
  return "invalid UTF-8 was detected in the value of '" + shown + "'";
}

bool takes_positional(const CommandSpec& command) {
  for (const ArgumentSpec& argument : command.arguments)
    if (argument.is_positional()) return true;
  return false;
}

// Names are compared without their dashes, so "--publisher" is seen to end "--require-publisher".
std::optional<std::string> similar_option(const CommandSpec& command, const std::string& argument) {
  const std::string name = argument.substr(2, argument.find('=') - 2);
  std::vector<std::string> candidates;
  for (const ArgumentSpec& spec : command.arguments)
    if (!spec.is_positional()) candidates.push_back(spec.name().substr(2));
  candidates.push_back("help");
  const std::optional<std::string> match = closest_name(name, candidates);
  if (!match) return std::nullopt;
  return "--" + *match;
}

std::optional<std::string> similar_subcommand(const CommandSpec& command, const std::string& word) {
  std::vector<std::string> candidates;
  for (const CommandSpec& sub : command.subcommands)
    candidates.push_back(sub.name);
  return closest_name(word, candidates);
}

// "did you mean" for a misspelt name; for a dashed word where a positional could stand, how to
// pass it as one.
std::optional<std::string> tip(const UsageError& error) {
  std::optional<std::string> similar;
  if (error.problem == UsageProblem::unrecognized_subcommand)
    similar = similar_subcommand(*error.command, error.subject);
  if (error.problem == UsageProblem::unexpected_argument && error.subject.starts_with("--"))
    similar = similar_option(*error.command, error.subject);
  if (similar) return "did you mean '" + lossy_utf8(*similar) + "'?";
  if (error.problem == UsageProblem::unexpected_argument && error.subject.starts_with("-") &&
      takes_positional(*error.command)) {
    const std::string shown = lossy_utf8(error.subject);
    return "to pass '" + shown + "' as a value, use '-- " + shown + "'";
  }
  return std::nullopt;
}

}  // namespace

std::string render_usage_error(const UsageError& error, std::string_view program,
                               std::size_t width) {
  std::string text = "error: " + describe(error) + "\n";
  if (const std::optional<std::string> hint = tip(error)) text += "  tip: " + *hint + "\n";
  return text + "\n" + render_usage(*error.command, program, width) +
         "\nFor more information, try '--help'.\n";
}

}  // namespace srb
