#pragma once
// The command tree and its parser. Parsing either yields a Cli or ends the command: help goes to
// `out` with status 0, a usage error to `err` with status 2. A bare call of a command that needs
// a subcommand (the program itself, or key) prints that command's help to `err`, status 2.

#include <cstddef>
#include <span>
#include <string>
#include <variant>

#include "cli/cli.hpp"
#include "cli/command_spec.hpp"
#include "cli/console_width.hpp"
#include "cli/output.hpp"

namespace srb {

struct ParseExit {
  int status;
  std::string command;  // the words of the command concerned ("key generate"), "" at the top
};

// The columns help and usage lines may use on each stream.
struct ConsoleWidths {
  std::size_t out = kDefaultWidth;
  std::size_t err = kDefaultWidth;
};

// `args` are the process arguments, the program's own path first.
std::variant<Cli, ParseExit> parse_command_line(std::span<const std::string> args, Output& out,
                                                Output& err, ConsoleWidths widths = {});

// The command a Cli record stands for.
CommandId command_id(const Cli& cli);

// The words that name a command below the program: "build", "key generate".
std::string command_words(CommandId id);

}  // namespace srb
