#pragma once
// Help screens and usage lines, laid out for a given width in columns.

#include <CLI/CLI.hpp>
#include <cstddef>
#include <string>

namespace srb {

// The words that call a command: the program name, then each subcommand down to `command`.
std::string command_path(const CLI::App& command);

// An argument as the user types it: "--version <VERSION>", "--system", "-h, --help", "<DIR>",
// and "[COMMAND]..." for a positional that takes any number of words.
std::string display_name(const CLI::Option& option);

// The whole help screen of one command: its description, a blank line, its usage line, then its
// commands, arguments and options, each with its text in one column. No line is wider than
// `width` unless a single word is.
std::string render_help(const CLI::App& command, std::size_t width);

// "Usage: sarn-runtime-bundle build [OPTIONS] --version <VERSION> --out <OUT>", with a line feed,
// wrapped under its first word where it is wider than `width`.
std::string render_usage(const CLI::App& command, std::size_t width);

}  // namespace srb
