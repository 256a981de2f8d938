#pragma once
// The command tree as CLI11 sees it, plus what CLI11 is not told: whether a value is a path or a
// text, and whether an option may be repeated. Parsing leaves every value in its CLI11 option.

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "cli/command_kinds.hpp"

namespace srb {

struct ArgumentSpec {
  std::string name;        // "--version", or "DIR" for the positional
  std::string value_name;  // "VERSION"; empty for flags
  ValueKind kind;
  Presence presence;
  Repeat repeat;
  std::string help;
};

struct DeclaredArgument {
  ArgumentSpec spec;
  CLI::App* command;
  CLI::Option* option;
};

// The whole tree, declared on construction. `program_name` heads every usage line.
struct CommandTree {
  explicit CommandTree(const std::string& program_name);
  CommandTree(const CommandTree&) = delete;
  CommandTree& operator=(const CommandTree&) = delete;

  CLI::App root;
  std::vector<DeclaredArgument> arguments;  // in declaration order
};

// The identifier of an argument: "--require-publisher" gives "require_publisher", "DIR" "dir".
std::string identifier(const ArgumentSpec& spec);

}  // namespace srb
