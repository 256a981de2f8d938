#include "cli/argument_scan.hpp"

// The scan mirrors CLI11's reading of this tree: "--" ends the options; a word naming a
// subcommand of the current command enters it; an option that takes a value consumes the next
// argument whatever it looks like, unless its value follows "=". Arguments it does not know are
// passed on untouched for CLI11 to collect as unexpected.

namespace srb {
namespace {

const CLI::App* find_subcommand(const CLI::App& command, const std::string& name) {
  const auto found =
      command.get_subcommands([&name](const CLI::App* sub) { return sub->get_name() == name; });
  return found.empty() ? nullptr : found.front();
}

// Handles one long option at args[i]; returns how many arguments it used.
std::size_t scan_long_option(ArgumentScan& scan, std::span<const std::string> args, std::size_t i,
                             const std::string& name, const std::string& value) {
  const std::string& arg = args[i];
  const CLI::Option* option = scan.last_command->get_option_no_throw("--" + name);
  const bool has_value = arg.find('=') != std::string::npos;
  if (option == nullptr || (!has_value && option->get_items_expected_max() == 0)) {
    scan.args.push_back(arg);
    return 1;
  }
  if (option->get_items_expected_max() == 0) {
    scan.error = UsageError{UsageProblem::flag_with_value, scan.last_command, "--" + name};
    return 1;
  }
  if (has_value) {
    scan.args.push_back("--" + name);
    scan.args.push_back(value);  // possibly empty, which CLI11 would not take from "--name="
    return 1;
  }
  if (i + 1 == args.size()) {
    scan.error = UsageError{UsageProblem::missing_value, scan.last_command, arg};
    return 1;
  }
  scan.args.push_back(arg);
  scan.args.push_back(args[i + 1]);
  return 2;
}

}  // namespace

ArgumentScan scan_arguments(const CLI::App& root, std::span<const std::string> args) {
  ArgumentScan scan{{}, &root, 0, std::nullopt};
  bool options_ended = false;
  for (std::size_t i = 1; i < args.size() && !scan.error;) {
    const std::string& arg = args[i];
    std::string name, value;
    std::size_t used = 1;
    const CLI::App* sub = options_ended ? nullptr : find_subcommand(*scan.last_command, arg);
    if (sub != nullptr) {
      scan.last_command = sub;
      scan.args.push_back(arg);
      scan.args_after_command = 0;
      i += 1;
      continue;
    }
    if (!options_ended && CLI::detail::split_long(arg, name, value)) {
      used = scan_long_option(scan, args, i, name, value);
    } else {
      options_ended = options_ended || arg == "--";
      scan.args.push_back(arg);
    }
    scan.args_after_command += used;
    i += used;
  }
  return scan;
}

}  // namespace srb
