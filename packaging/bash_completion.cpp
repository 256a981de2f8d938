#include "packaging/render_docs.hpp"

#include "core/text.hpp"

// The bash completion script. The command tree becomes four lookup functions (subcommands,
// options, how an option's value completes, how positionals complete), each a `case` over the
// command path such as "key generate"; the completion function itself is fixed text. It uses
// only bash built-ins, so it needs no bash-completion helpers. Options are listed one argument
// at a time, its names joined by "|" ("-h|--help") and a repeatable one marked by a leading "+",
// so that an option already on the line is not offered again unless it may be repeated.

namespace srb {
namespace {

constexpr std::string_view kHead =
    "# bash completion for sarn-runtime-bundle                    -*- shell-script -*-\n"
    "# Generated at build time from the program's command tree; do not edit.\n";

// Reads the command words typed before the cursor, then offers the value of the option before
// it, the options, the subcommands or the positionals, in that order of precedence. "--out=x"
// reaches a completion function as the three words "--out", "=", "x".
constexpr std::string_view kCompletionFunction = R"sh(
_sarn_runtime_bundle_files() {
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}

_sarn_runtime_bundle_words() {
    mapfile -t COMPREPLY < <(compgen -W "$1" -- "$cur")
}

# The names of the options in $1 that may still be given: neither typed before the cursor nor
# known by another name that was, unless marked repeatable.
_sarn_runtime_bundle_unused() {
    local typed=" ${COMP_WORDS[*]:1:COMP_CWORD-1} " names='' argument name
    for argument in $1; do
        if [[ $argument != +* ]]; then
            for name in ${argument//|/ }; do
                [[ $typed == *" $name "* ]] && continue 2
            done
        fi
        argument=${argument#+}
        names+=" ${argument//|/ }"
    done
    printf '%s' "$names"
}

_sarn_runtime_bundle() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev='' path='' word i
    COMPREPLY=()
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        [[ $word == -* || $word == = ]] && continue
        _sarn_runtime_bundle_subcommands "$path"
        [[ " $REPLY " == *" $word "* ]] && path=${path:+$path }$word
    done
    ((COMP_CWORD > 1)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    if [[ $cur == = ]]; then
        cur=''
    elif [[ $prev == = ]]; then
        prev=${COMP_WORDS[COMP_CWORD - 2]}
    fi
    if [[ $prev == -* ]]; then
        _sarn_runtime_bundle_option_value "$path" "$prev"
        case $REPLY in
            file) _sarn_runtime_bundle_files; return ;;
            word) return ;;
            choice\ *) _sarn_runtime_bundle_words "${REPLY#choice }"; return ;;
        esac
    fi
    if [[ $cur == -* ]]; then
        _sarn_runtime_bundle_options "$path"
        _sarn_runtime_bundle_words "$(_sarn_runtime_bundle_unused "$REPLY")"
        return
    fi
    _sarn_runtime_bundle_subcommands "$path"
    if [[ -n $REPLY ]]; then
        _sarn_runtime_bundle_words "$REPLY"
        return
    fi
    _sarn_runtime_bundle_positional "$path"
    case $REPLY in
        file) _sarn_runtime_bundle_files ;;
        command)
            _sarn_runtime_bundle_subcommands "${path% help}"
            [[ $path == help ]] && _sarn_runtime_bundle_subcommands ''
            _sarn_runtime_bundle_words "${REPLY/% help/}" ;;
    esac
}

complete -F _sarn_runtime_bundle sarn-runtime-bundle
)sh";

// One `case` arm: "    'key generate') REPLY='--out -h --help' ;;".
std::string arm(std::string_view pattern, std::string_view reply) {
  return "        " + std::string(pattern) + ") REPLY=" + single_quoted(reply) + " ;;\n";
}

std::string lookup(std::string_view name, std::string_view comment, std::string_view subject,
                   const std::string& arms, std::string_view fallback) {
  return "\n# " + std::string(comment) + "\n" + std::string(name) + "() {\n    case " +
         std::string(subject) + " in\n" + arms + arm("*", fallback) + "    esac\n}\n";
}

std::string value_word(ValueCompletion value) {
  switch (value) {
    case ValueCompletion::file:
      return "file";
    case ValueCompletion::word:
      return "word";
    case ValueCompletion::command:
      return "command";
    case ValueCompletion::choice:
      break;
    case ValueCompletion::none:
      break;
  }
  return "none";
}

}  // namespace

// How the value after an option completes, as _sarn_runtime_bundle_option_value replies.
std::string value_reply(const DocArgument& argument) {
  if (argument.value == ValueCompletion::choice) return "choice " + joined(argument.choices, " ");
  return value_word(argument.value);
}

// "-h|--help", or "+--include" for an option that may be given again.
std::string option_entry(const DocArgument& argument) {
  std::string entry = argument.repeat == Repeat::yes ? "+" : "";
  for (const std::string& name : argument.names)
    entry += (entry.empty() || entry == "+" ? "" : "|") + name;
  return entry;
}

std::string render_bash_completion(const std::vector<DocCommand>& commands) {
  std::string subcommands, options, option_values, positionals;
  for (const DocCommand& command : commands) {
    const std::string path = command_path(command);
    if (!command.subcommands.empty())
      subcommands += arm(single_quoted(path), joined(command.subcommands, " "));
    std::vector<std::string> names;
    for (const DocArgument& argument : command.arguments) {
      if (argument.is_positional()) {
        positionals += arm(single_quoted(path), value_word(argument.value));
        continue;
      }
      names.push_back(option_entry(argument));
      if (argument.value != ValueCompletion::none)
        for (const std::string& name : argument.names)
          option_values += arm(single_quoted(path + "|" + name), value_reply(argument));
    }
    options += arm(single_quoted(path), joined(names, " "));
  }
  std::string script(kHead);
  script += lookup("_sarn_runtime_bundle_subcommands", "The subcommands of a command path.", "$1",
                   subcommands, "");
  script +=
      lookup("_sarn_runtime_bundle_options", "The options of a command path.", "$1", options, "");
  script += lookup(
      "_sarn_runtime_bundle_option_value",
      "How the value after an option completes: file, word, choice and the words to offer, or "
      "none for a flag.",
      "\"$1|$2\"", option_values, "none");
  script += lookup("_sarn_runtime_bundle_positional",
                   "How positional arguments complete: file, command, or none.", "$1", positionals,
                   "none");
  script += kCompletionFunction;
  return script;
}

std::string single_quoted(std::string_view text) {
  std::string out = "'";
  for (const char c : text)
    out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace srb
