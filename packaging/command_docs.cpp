#include "packaging/command_docs.hpp"

#include <algorithm>

#include "cli/command_tree.hpp"
#include "core/text.hpp"

// Walks the CLI11 App of the command tree. Names, value names, help texts and whether an
// argument is required come from CLI11 itself; what CLI11 is not told (path or text, repeatable)
// comes from the declared argument. The two arguments CLI11 adds on its own, the help flag and
// the word list of `help`, have no declaration: the flag takes no value, the list names commands.

namespace srb {
namespace {

const DeclaredArgument* find_declared(const CommandTree& tree, const CLI::Option* option) {
  const auto it = std::find_if(tree.arguments.begin(), tree.arguments.end(),
                               [&](const DeclaredArgument& arg) { return arg.option == option; });
  return it == tree.arguments.end() ? nullptr : &*it;
}

ValueCompletion completion_of(ValueKind kind) {
  switch (kind) {
    case ValueKind::flag:
      return ValueCompletion::none;
    case ValueKind::path:
      return ValueCompletion::file;
    case ValueKind::text:
      break;
  }
  return ValueCompletion::word;
}

DocArgument describe_argument(const CommandTree& tree, const CLI::Option& option) {
  DocArgument argument;
  for (const std::string& name : option.get_snames())
    argument.names.push_back("-" + name);
  for (const std::string& name : option.get_lnames())
    argument.names.push_back("--" + name);
  argument.help = option.get_description();
  argument.presence = option.get_required() ? Presence::required : Presence::optional;
  const bool takes_value = option.get_type_size() != 0;
  if (argument.is_positional()) {
    argument.value_name = option.get_name();
  } else if (takes_value) {
    argument.value_name = option.get_type_name();
  }
  if (const DeclaredArgument* declared = find_declared(tree, &option)) {
    argument.value = completion_of(declared->spec.kind);
    argument.repeat = declared->spec.repeat;
    argument.choices = declared->spec.choices;
    if (!argument.choices.empty()) argument.value = ValueCompletion::choice;
  } else if (argument.is_positional()) {
    argument.value = ValueCompletion::command;
    argument.repeat = Repeat::yes;
  }
  return argument;
}

void describe_command(const CommandTree& tree, const CLI::App& app, std::vector<std::string> words,
                      std::vector<DocCommand>& commands) {
  DocCommand command{words, app.get_description(), {}, {}};
  for (const CLI::Option* option : app.get_options())
    command.arguments.push_back(describe_argument(tree, *option));
  const std::vector<const CLI::App*> subcommands =
      app.get_subcommands([](const CLI::App*) { return true; });
  for (const CLI::App* sub : subcommands)
    command.subcommands.push_back(sub->get_name());
  commands.push_back(std::move(command));
  for (const CLI::App* sub : subcommands) {
    std::vector<std::string> sub_words = words;
    sub_words.push_back(sub->get_name());
    describe_command(tree, *sub, std::move(sub_words), commands);
  }
}

const DocCommand& find_command(const std::vector<DocCommand>& commands,
                               const std::vector<std::string>& words) {
  return *std::find_if(commands.begin(), commands.end(),
                       [&](const DocCommand& command) { return command.words == words; });
}

}  // namespace

std::vector<DocCommand> describe_commands(const CommandTree& tree) {
  std::vector<DocCommand> commands;
  describe_command(tree, tree.root, {}, commands);
  return commands;
}

std::string command_path(const DocCommand& command) {
  return joined(command.words, " ");
}

const DocCommand& parent_of(const std::vector<DocCommand>& commands, const DocCommand& command) {
  std::vector<std::string> words = command.words;
  if (!words.empty()) words.pop_back();
  return find_command(commands, words);
}

const DocCommand& subcommand_of(const std::vector<DocCommand>& commands, const DocCommand& command,
                                const std::string& name) {
  std::vector<std::string> words = command.words;
  words.push_back(name);
  return find_command(commands, words);
}

std::string help_topics(const DocCommand& parent) {
  std::string topics;
  for (const std::string& name : parent.subcommands)
    if (name != "help") topics += (topics.empty() ? "" : " ") + name;
  return topics;
}

std::string first_sentence(std::string_view help) {
  const std::size_t end = help.find(". ");
  std::string_view sentence = help.substr(0, end);
  if (sentence.ends_with('.')) sentence.remove_suffix(1);
  return std::string(sentence);
}

}  // namespace srb
