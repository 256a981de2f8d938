#pragma once
// The command tree as plain data: every command with its description, its arguments and its
// subcommands, in the order help lists them. The parser reads the command line against it, help
// screens are drawn from it, and the CLI11 tree of the man page and the completions is declared
// from it (command_tree.hpp). -h/--help belongs to every command and is not listed; the `help`
// subcommand is listed last on each command that has subcommands.

#include <string>
#include <vector>

namespace srb {

enum class ValueKind { text, path, flag };
enum class Presence { optional, required };
enum class Repeat { no, yes };

inline constexpr const char* kHelpFlagText = "Print help";

struct ArgumentSpec {
  std::string name;        // "--version", or "DIR" for a positional
  std::string value_name;  // "VERSION"; empty for flags
  ValueKind kind;
  Presence presence;
  Repeat repeat;
  std::string help;
  std::vector<std::string> choices = {};  // offered by completions; any value is still taken

  bool is_positional() const { return !name.starts_with("-"); }
};

struct CommandSpec {
  std::string name;  // the program's own name at the root
  std::string description;
  std::vector<ArgumentSpec> arguments;   // in declaration order
  std::vector<CommandSpec> subcommands;  // in declaration order
  const CommandSpec* parent = nullptr;

  // A command with subcommands cannot run without one.
  bool needs_subcommand() const { return !subcommands.empty(); }
  // The `help` subcommand, whose words name the command whose help it prints.
  bool is_help_command() const { return parent != nullptr && name == "help"; }
  const CommandSpec* find_subcommand(const std::string& word) const;
};

// The whole tree, built once, rooted at the program "sarn-runtime-bundle".
const CommandSpec& command_spec();

// An argument as the user types it: "--version <VERSION>", "--system", "<DIR>", and
// "[COMMAND]..." for a positional that takes any number of words.
std::string display_name(const ArgumentSpec& spec);

}  // namespace srb
