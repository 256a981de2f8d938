#pragma once
// The command tree and its parser. Parsing either yields a Cli or ends the command: help goes to
// `out` with status 0, a usage error to `err` with status 2. A bare call of a command that needs
// a subcommand (the program itself, or key) prints that command's help to `err`, status 2.

#include <ostream>
#include <span>
#include <string>
#include <variant>

#include "cli/cli.hpp"

namespace srb {

struct ParseExit {
  int status;
};

// `args` are the process arguments, the program's own path first.
std::variant<Cli, ParseExit> parse_command_line(std::span<const std::string> args,
                                                std::ostream& out, std::ostream& err);

}  // namespace srb
