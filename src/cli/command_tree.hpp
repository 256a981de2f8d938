#pragma once
// The command tree, declared once in CLI11's terms: the commands, their descriptions and
// their arguments, which the help screens, the man page and the completions are all drawn from.
// CLI11 only holds the declaration; the arguments are read by scan_arguments. Each argument also
// carries what CLI11 is not told: whether a value is a path or a text, whether it may be
// repeated, and the words a shell may offer for it.

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace srb {

enum class ValueKind { text, path, flag };
enum class Presence { optional, required };
enum class Repeat { no, yes };

struct ArgumentSpec {
  std::string name;        // "--version", or "DIR" for the positional
  std::string value_name;  // "VERSION"; empty for flags
  ValueKind kind;
  Presence presence;
  Repeat repeat;
  std::string help;
  std::vector<std::string> choices = {};  // offered by completions; any value is still taken
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
