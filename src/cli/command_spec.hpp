#pragma once
// The command tree as plain data: every command with its description, its arguments and its
// subcommands, in the order help lists them. The parser reads the command line against it, help
// screens are drawn from it, and the CLI11 tree of the man page and the completions is declared
// from it (command_tree.hpp). -h/--help belongs to every command and is not listed; the `help`
// subcommand is listed last on each command that has subcommands.
//
// Commands and arguments are known to the code by identifiers, never by the text a user types:
// the parser hands over values by ArgumentId and the command reached by CommandId.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace srb {

// The commands that run a handler. The program and key only lead to their subcommands, and a
// `help` prints the help of the command its words name, so none of them has an identifier.
enum class CommandId { build, verify, path, key_generate, key_pubkey };

// Every argument of every command. An option is typed as its identifier with "-" for "_":
// require_publisher is "--require-publisher".
enum class ArgumentId {
  version,
  out,
  from,
  arch,
  identity,
  include,
  dir,
  require_publisher,
  require_signature,
  require_arch,
  system,
  command,
};

// The identifier as the code spells it: "require_publisher".
std::string_view identifier(ArgumentId id);

enum class Form { option, positional };
enum class ValueKind { text, path, flag };
enum class Presence { optional, required };
enum class Repeat { no, yes };

inline constexpr const char* kHelpFlagText = "Print help";

struct ArgumentSpec {
  ArgumentId id;
  Form form;
  std::string value_name;  // "VERSION"; empty for flags; a positional is shown by it ("<DIR>")
  ValueKind kind;
  Presence presence;
  Repeat repeat;
  std::string help;
  std::vector<std::string> choices = {};  // offered by completions; any value is still taken

  bool is_positional() const { return form == Form::positional; }
  // As typed or shown: "--require-publisher" for an option, the value name for a positional.
  std::string name() const;
};

struct CommandSpec {
  std::string name;  // the program's own name at the root
  std::string description;
  std::vector<ArgumentSpec> arguments;         // in declaration order
  std::vector<CommandSpec> subcommands;        // in declaration order
  std::optional<CommandId> id = std::nullopt;  // set on exactly the commands that run
  const CommandSpec* parent = nullptr;

  // A command with subcommands cannot run without one.
  bool needs_subcommand() const { return !subcommands.empty(); }
  // The `help` subcommand, whose words name the command whose help it prints.
  bool is_help_command() const { return parent != nullptr && name == "help"; }
  const CommandSpec* find_subcommand(const std::string& word) const;
};

// The whole tree, built once, rooted at the program "sarn-runtime-bundle".
const CommandSpec& command_spec();

// The command of the tree that runs as `id`.
const CommandSpec& command_spec(CommandId id);

// An argument as the user types it: "--version <VERSION>", "--system", "<DIR>", and
// "[COMMAND]..." for a positional that takes any number of words.
std::string display_name(const ArgumentSpec& spec);

}  // namespace srb
