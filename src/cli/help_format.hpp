#pragma once
// Help screens and usage lines, laid out for a given width in columns. `program` is the name the
// program was called by, which heads every usage line.

#include <cstddef>
#include <string>
#include <string_view>

#include "cli/command_spec.hpp"

namespace srb {

// The words that call a command: `program`, then each subcommand down to `command`.
std::string command_path(const CommandSpec& command, std::string_view program);

// The whole help screen of one command: its description, a blank line, its usage line, then its
// commands, arguments and options, each with its text in one column. No line is wider than
// `width` unless a single word is.
std::string render_help(const CommandSpec& command, std::string_view program, std::size_t width);

// "Usage: sarn-runtime-bundle build [OPTIONS] --version <VERSION> --out <OUT>", with a line feed,
// wrapped under its first word where it is wider than `width`.
std::string render_usage(const CommandSpec& command, std::string_view program, std::size_t width);

}  // namespace srb
