#pragma once
// The command tree as the man page and the shell completions see it: every command with its
// arguments, read from the CommandTree the parser itself is built from, so neither can describe
// an option the program does not have.

#include <string>
#include <string_view>
#include <vector>

#include "cli/command_spec.hpp"

namespace srb {

struct CommandTree;

// How a shell completes an argument's value.
enum class ValueCompletion {
  none,     // a flag: no value
  word,     // free text: nothing to offer
  choice,   // one of `choices`, though any text is taken
  file,     // a path
  command,  // the name of a sibling command (the value of `help`)
};

struct DocArgument {
  std::vector<std::string> names;  // "-h", "--help"; empty for a positional
  std::string value_name;          // "VERSION", "DIR"; empty for a flag
  ValueCompletion value = ValueCompletion::none;
  Presence presence = Presence::optional;
  Repeat repeat = Repeat::no;
  std::string help;
  std::vector<std::string> choices;  // the words offered for a choice

  bool is_positional() const { return names.empty(); }
};

struct DocCommand {
  std::vector<std::string> words;  // {} for the program itself, {"key", "generate"}
  std::string description;
  std::vector<DocArgument> arguments;    // in declaration order, the help flag last
  std::vector<std::string> subcommands;  // in declaration order
};

// Every command of the tree, the program first, each command before its own subcommands.
std::vector<DocCommand> describe_commands(const CommandTree& tree);

// The command words joined by spaces: "key generate"; "" for the program itself.
std::string command_path(const DocCommand& command);

// The parent of `command` in the list describe_commands returns; the program is its own parent.
const DocCommand& parent_of(const std::vector<DocCommand>& commands, const DocCommand& command);

// The subcommand `name` of `command`, which must have it.
const DocCommand& subcommand_of(const std::vector<DocCommand>& commands, const DocCommand& command,
                                const std::string& name);

// The words the `help` subcommand of `parent` takes, space-separated: the names of the other
// subcommands of `parent`.
std::string help_topics(const DocCommand& parent);

// The first sentence of a help text, without its full stop: the short form completions show.
std::string first_sentence(std::string_view help);

}  // namespace srb
