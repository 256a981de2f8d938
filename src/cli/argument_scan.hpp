#pragma once
// The one reading of the arguments, left to right, in the conventions of the tools people know:
// a word naming a subcommand enters it; "--name value" and "--name=value" give an option its
// value, but a following argument that starts with "-" (other than "-" itself) is never taken as
// one, so "--out=-x" is how such a value is passed; names are never abbreviated; "--" ends the
// options, and every argument after it is positional. The first problem met is the one reported;
// -h or --help asks for help only when no problem came before it.

#include <span>
#include <string>
#include <variant>
#include <vector>

#include "cli/command_spec.hpp"
#include "cli/usage_error.hpp"

namespace srb {

// The command line was read to its end on a command that runs: its identifier, its spec, and the
// values given to each of its arguments, indexed like CommandSpec::arguments. A flag has one
// empty value per use.
struct ScannedCommand {
  CommandId id;
  const CommandSpec* command;
  std::vector<std::vector<std::string>> values;
};

// -h, --help or the help subcommand asked for the help of `command`.
struct HelpRequest {
  const CommandSpec* command;
};

// A command that needs a subcommand was called with nothing after it.
struct BareCall {
  const CommandSpec* command;
};

using ScanOutcome = std::variant<ScannedCommand, HelpRequest, BareCall, UsageError>;

// `args` are the process arguments, the program's own path first; `root` is the program.
ScanOutcome scan_arguments(const CommandSpec& root, std::span<const std::string> args);

}  // namespace srb
