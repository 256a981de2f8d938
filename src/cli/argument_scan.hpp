#pragma once
// A first pass over the arguments, walking the command tree the way CLI11 will. CLI11 reads
// "--out=" as "--out" followed by the next argument as its value, and accepts "--system=true" and
// "--system=" for a flag; the scan settles both before CLI11 sees them.

#include <CLI/CLI.hpp>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cli/usage_error.hpp"

namespace srb {

struct ArgumentScan {
  std::vector<std::string> args;  // for CLI11: without the program name, "--name=" split in two
  const CLI::App* last_command;   // the deepest command named
  std::size_t args_after_command = 0;
  std::optional<UsageError> error;  // a flag given a value, or an option lacking one
};

// `args` are the process arguments, the program's own path first.
ArgumentScan scan_arguments(const CLI::App& root, std::span<const std::string> args);

}  // namespace srb
