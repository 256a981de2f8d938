#pragma once
// A rejected command line. Like BundleError, the places that find a problem only name it; the
// text, the suggestion of a similar name and the usage line are added by render_usage_error.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_spec.hpp"

namespace srb {

enum class UsageProblem {
  unexpected_argument,      // subject: the argument as typed
  unrecognized_subcommand,  // subject: the word; the command is the one it was looked up in
  missing_value,            // subject: the option ("--out") or positional ("<DIR>")
  flag_with_value,          // subject: the flag's name
  missing_required,         // `missing`: each argument as typed ("--out <OUT>", "<DIR>")
  missing_subcommand,       // no subject
  repeated_argument,        // subject: the option's name
  invalid_utf8,             // subject: the option's name
};

struct UsageError {
  UsageProblem problem;
  const CommandSpec* command;  // the command whose usage line is shown
  std::string subject;
  std::vector<std::string> missing;  // in declaration order
};

// "error: {message}", a tip when a similarly spelled name exists, a blank line, the command's
// usage line (`program` first) wrapped to `width`, a blank line and "For more information, try
// '--help'.", each line ended by LF.
std::string render_usage_error(const UsageError& error, std::string_view program,
                               std::size_t width);

}  // namespace srb
