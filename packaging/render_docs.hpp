#pragma once
// The installed documents generated from the command tree: the man page and the completion
// scripts of bash, zsh and fish. Each takes the commands as describe_commands lists them.

#include <string>
#include <string_view>
#include <vector>

#include "packaging/command_docs.hpp"

namespace srb {

// sarn-runtime-bundle.1 in man(7) macros; `version` goes into the page footer.
std::string render_man_page(const std::vector<DocCommand>& commands, std::string_view version);

// A text as roff input: backslashes escaped, `code` set in bold with its hyphens as minus signs
// and never hyphenated, a leading "." or "'" kept from being read as a request, and non-ASCII
// characters as \[uXXXX].
std::string roff_text(std::string_view text);

// The bash completion script; defines _sarn_runtime_bundle and registers it.
std::string render_bash_completion(const std::vector<DocCommand>& commands);

// The zsh completion function file _sarn-runtime-bundle.
std::string render_zsh_completion(const std::vector<DocCommand>& commands);

// The fish completion script.
std::string render_fish_completion(const std::vector<DocCommand>& commands);

// A text inside single quotes for a POSIX shell or zsh: ' becomes '\''.
std::string single_quoted(std::string_view text);

}  // namespace srb
