#include "packaging/render_docs.hpp"

#include "core/text.hpp"

// The zsh completion function file: one function per command. A command with subcommands
// offers their names and hands the rest of the line to the chosen one's function; every other
// command describes its options and positionals to _arguments.

namespace srb {
namespace {

constexpr std::string_view kHead =
    "#compdef sarn-runtime-bundle\n"
    "# zsh completion for sarn-runtime-bundle.\n"
    "# Generated at build time from the program's command tree; do not edit.\n";

std::string function_name(const DocCommand& command) {
  std::string name = "_sarn-runtime-bundle";
  for (const std::string& word : command.words)
    name += "_" + word;
  return name;
}

// A text inside the [...] of an _arguments spec.
std::string bracketed(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\' || c == '[' || c == ']' || c == ':') out += '\\';
    out += c;
  }
  return out;
}

std::string action(const DocArgument& argument, const DocCommand& parent) {
  switch (argument.value) {
    case ValueCompletion::file:
      return "_files";
    case ValueCompletion::command:
      return "(" + help_topics(parent) + ")";
    case ValueCompletion::choice:
      return "(" + joined(argument.choices, " ") + ")";
    case ValueCompletion::word:
    case ValueCompletion::none:
      break;
  }
  return " ";
}

// One _arguments spec, such as '*--include=[Extra shared object]:PATH:_files'.
std::string argument_spec(const DocArgument& argument, const DocCommand& parent) {
  const std::string value = argument.value_name + ":" + action(argument, parent);
  if (argument.is_positional())
    return single_quoted((argument.repeat == Repeat::yes ? "*::" : ":") + value);
  const std::string help = "[" + bracketed(first_sentence(argument.help)) + "]";
  if (argument.names.size() > 1) {  // -h and --help: either ends the command line
    return "'(- *)'{" + joined(argument.names, ",") + "}" + single_quoted(help);
  }
  const std::string repeat = argument.repeat == Repeat::yes ? "*" : "";
  if (argument.value_name.empty()) return single_quoted(repeat + argument.names[0] + help);
  return single_quoted(repeat + argument.names[0] + "=" + help + ":" + value);
}

std::string arguments_call(std::string_view call_head, const DocCommand& command,
                           const DocCommand& parent, std::string_view tail) {
  std::string call(call_head);
  for (const DocArgument& argument : command.arguments)
    call += " \\\n    " + argument_spec(argument, parent);
  return call + std::string(tail) + "\n";
}

std::string dispatch_body(const std::vector<DocCommand>& commands, const DocCommand& command,
                          const DocCommand& parent) {
  std::string body = "  local curcontext=$curcontext state state_descr line ret=1\n";
  body += "  typeset -A opt_args\n";
  body += arguments_call("  _arguments -C", command, parent,
                         " \\\n    ': :->command' \\\n    '*:: :->argument' && ret=0");
  body += "  case $state in\n    command)\n      local -a commands=(\n";
  for (const std::string& name : command.subcommands) {
    const std::string& description = subcommand_of(commands, command, name).description;
    body += "        " + single_quoted(name + ":" + description) + "\n";
  }
  body += "      )\n      _describe -t commands command commands && ret=0 ;;\n";
  body += "    argument)\n      curcontext=${curcontext%:*:*}:" + function_name(command).substr(1) +
          "-$words[1]:\n      case $words[1] in\n";
  for (const std::string& name : command.subcommands)
    body += "        " + name + ") " + function_name(command) + "_" + name + " && ret=0 ;;\n";
  return body + "      esac ;;\n  esac\n  return ret\n";
}

}  // namespace

std::string render_zsh_completion(const std::vector<DocCommand>& commands) {
  std::string script(kHead);
  for (const DocCommand& command : commands) {
    const DocCommand& parent = parent_of(commands, command);
    script += "\n" + function_name(command) + "() {\n";
    script += command.subcommands.empty() ? arguments_call("  _arguments", command, parent, "")
                                          : dispatch_body(commands, command, parent);
    script += "}\n";
  }
  return script + "\n" + function_name(commands[0]) + " \"$@\"\n";
}

}  // namespace srb
