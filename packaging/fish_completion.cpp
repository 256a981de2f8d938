#include "packaging/render_docs.hpp"

#include "core/text.hpp"

// The fish completion script. One helper function reads the command path from the words typed
// so far (as the bash script does); every completion is then conditioned on that path, so an
// option is offered exactly where the command it belongs to has been typed.

namespace srb {
namespace {

constexpr std::string_view kHead =
    "# fish completion for sarn-runtime-bundle.\n"
    "# Generated at build time from the program's command tree; do not edit.\n";

// The function's `switch` arms are filled in with the subcommand names of each path.
constexpr std::string_view kPathFunctionHead = R"(
# True when the command path typed so far (such as "key generate") is $argv[1].
function __sarn_runtime_bundle_at
    set -l path ''
    set -l words (commandline -opc)
    set -e words[1]
    for word in $words
        switch "$path|$word"
)";

constexpr std::string_view kPathFunctionTail = R"(        end
    end
    test "$path" = "$argv[1]"
end

complete -c sarn-runtime-bundle -f
)";

// fish reads \\ and \' as escapes inside single quotes.
std::string fish_quoted(std::string_view text) {
  std::string out = "'";
  for (const char c : text) {
    if (c == '\\' || c == '\'') out += '\\';
    out += c;
  }
  return out + "'";
}

std::string condition(const DocCommand& command) {
  return "-n " + fish_quoted("__sarn_runtime_bundle_at " + fish_quoted(command_path(command)));
}

std::string option_line(const DocCommand& command, const DocArgument& argument) {
  std::string line = "complete -c sarn-runtime-bundle " + condition(command);
  for (const std::string& name : argument.names)
    line += (name.starts_with("--") ? " -l " + name.substr(2) : " -s " + name.substr(1));
  if (argument.value == ValueCompletion::file) line += " -r -F";
  if (argument.value == ValueCompletion::word) line += " -x";
  if (argument.value == ValueCompletion::choice)
    line += " -x -a " + fish_quoted(joined(argument.choices, " "));
  return line + " -d " + fish_quoted(first_sentence(argument.help)) + "\n";
}

std::string positional_line(const DocCommand& command, const DocArgument& argument,
                            const DocCommand& parent) {
  std::string line = "complete -c sarn-runtime-bundle " + condition(command);
  if (argument.value == ValueCompletion::file) return line + " -F\n";
  if (argument.value == ValueCompletion::command)
    return line + " -a " + fish_quoted(help_topics(parent)) + "\n";
  return "";  // free text: nothing to offer
}

std::string subcommand_line(const DocCommand& parent, const DocCommand& sub) {
  return "complete -c sarn-runtime-bundle " + condition(parent) + " -a " +
         fish_quoted(sub.words.back()) + " -d " + fish_quoted(sub.description) + "\n";
}

}  // namespace

std::string render_fish_completion(const std::vector<DocCommand>& commands) {
  std::string script(kHead);
  script += kPathFunctionHead;
  for (const DocCommand& command : commands) {
    const std::string path = command_path(command);
    for (const std::string& name : command.subcommands)
      script += "            case " + fish_quoted(path + "|" + name) +
                "\n                set path " +
                fish_quoted(path.empty() ? name : path + " " + name) + "\n";
  }
  script += kPathFunctionTail;
  for (const DocCommand& command : commands) {
    for (const std::string& name : command.subcommands)
      script += subcommand_line(command, subcommand_of(commands, command, name));
    for (const DocArgument& argument : command.arguments)
      script += argument.is_positional()
                    ? positional_line(command, argument, parent_of(commands, command))
                    : option_line(command, argument);
  }
  return script;
}

}  // namespace srb
