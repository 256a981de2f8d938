#pragma once
// A rejected command line. Like BundleError, the places that find a problem only name it; the
// text, the suggestion of a similar name and the usage line are added by render_usage_error.

#include <CLI/CLI.hpp>
#include <string>

namespace srb {

enum class UsageProblem {
  unexpected_argument,      // subject: the argument as typed
  unrecognized_subcommand,  // subject: the word; the command is the one it was looked up in
  missing_value,            // subject: the option ("--out") or positional ("DIR") name
  flag_with_value,          // subject: the flag's name
  missing_required,         // subject: the argument's identifier ("out", "dir")
  missing_subcommand,       // no subject
  repeated_argument,        // subject: the option's name
  invalid_utf8,             // subject: the option's name
  other,                    // subject: the parser's own message
};

struct UsageError {
  UsageProblem problem;
  const CLI::App* command;  // the command whose usage line is shown
  std::string subject;
};

// "error: {message}", a tip when a similarly spelled name exists, a blank line, the command's
// usage line, a blank line and "For more information, try '--help'.", each line ended by LF.
std::string render_usage_error(const UsageError& error);

}  // namespace srb
