#pragma once
// The command tree declared in CLI11's terms, from command_spec(): what the man page, the shell
// completions and their tests read. The program itself never builds it; its parser reads the
// plain tree. Each declared argument keeps its spec, for what CLI11 is not told: whether a value
// is a path or a text, whether it may be repeated, and the words a shell may offer for it.

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "cli/command_spec.hpp"

namespace srb {

struct DeclaredArgument {
  ArgumentSpec spec;
  CLI::App* command;
  CLI::Option* option;
};

// The whole tree, declared on construction. `program_name` heads every usage line. The help
// flag and the word list of `help` are CLI11's own and have no DeclaredArgument.
struct CommandTree {
  explicit CommandTree(const std::string& program_name);
  CommandTree(const CommandTree&) = delete;
  CommandTree& operator=(const CommandTree&) = delete;

  CLI::App root;
  std::vector<DeclaredArgument> arguments;  // in declaration order
};

}  // namespace srb
