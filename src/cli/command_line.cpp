#include "cli/command_line.hpp"

#include <filesystem>
#include <optional>

#include "cli/argument_scan.hpp"
#include "cli/command_spec.hpp"
#include "cli/help_format.hpp"
#include "cli/usage_error.hpp"
#include "core/text.hpp"

// Parsing reads the arguments once against the command tree (scan_arguments) and acts on the
// outcome: help is printed, a usage error is printed, or the values read become the Cli record.

namespace srb {
namespace {

constexpr int kHelpStatus = 0;
constexpr int kUsageStatus = 2;

std::string program_name(std::span<const std::string> args) {
  const std::string name =
      args.empty() ? std::string() : std::filesystem::path(args[0]).filename().string();
  return name.empty() ? "sarn-runtime-bundle" : lossy_utf8(name);
}

// The command's words below the program: "key generate", or "" for the program itself.
std::string subcommand_words(const CommandSpec& command) {
  if (command.parent == nullptr) return "";
  const std::string above = subcommand_words(*command.parent);
  return above.empty() ? command.name : above + " " + command.name;
}

// Reads the values the scan found for the command's arguments.
class ScannedValues {
 public:
  explicit ScannedValues(const ScannedCommand& scanned) : scanned_(scanned) {}

  const std::vector<std::string>& all(ArgumentId id) const {
    const std::vector<ArgumentSpec>& arguments = scanned_.command->arguments;
    for (std::size_t i = 0; i < arguments.size(); ++i)
      if (arguments[i].id == id) return scanned_.values[i];
    return none_;
  }
  // Required arguments are present: the scan checked them. Reading one the command does not
  // have is a fault of this file, which `at` turns into an exception instead of a bad read.
  const std::string& one(ArgumentId id) const { return all(id).at(0); }
  std::optional<std::string> text(ArgumentId id) const {
    if (all(id).empty()) return std::nullopt;
    return all(id).front();
  }
  std::optional<std::filesystem::path> path(ArgumentId id) const {
    if (all(id).empty()) return std::nullopt;
    return std::filesystem::path(all(id).front());
  }
  bool flag(ArgumentId id) const { return !all(id).empty(); }

 private:
  const ScannedCommand& scanned_;
  const std::vector<std::string> none_;
};

Cli to_build(const ScannedValues& v) {
  using enum ArgumentId;
  return Cli{Build{v.one(version), v.one(out), v.path(from), v.text(arch), v.path(identity),
                   v.all(include)}};
}

Cli to_verify(const ScannedValues& v) {
  using enum ArgumentId;
  return Cli{Verify{v.one(dir), v.text(require_publisher), v.flag(require_signature),
                    v.text(require_arch)}};
}

// The Cli record of the command reached. A command added to CommandId without an arm here is
// a warning, and with -Werror a build failure.
Cli to_cli(const ScannedCommand& scanned) {
  const ScannedValues v(scanned);
  switch (scanned.id) {
    case CommandId::build:
      return to_build(v);
    case CommandId::verify:
      return to_verify(v);
    case CommandId::path:
      return Cli{Path{v.one(ArgumentId::version), v.flag(ArgumentId::system)}};
    case CommandId::key_generate:
      return Cli{Key{Generate{v.one(ArgumentId::out)}}};
    case CommandId::key_pubkey:
      break;
  }
  return Cli{Key{Pubkey{v.one(ArgumentId::identity)}}};
}

}  // namespace

std::variant<Cli, ParseExit> parse_command_line(std::span<const std::string> args, Output& out,
                                                Output& err, ConsoleWidths widths) {
  const std::string program = program_name(args);
  const ScanOutcome outcome = scan_arguments(command_spec(), args);
  if (const auto* help = std::get_if<HelpRequest>(&outcome)) {
    out << render_help(*help->command, program, widths.out);
    return ParseExit{kHelpStatus, subcommand_words(*help->command)};
  }
  if (const auto* bare = std::get_if<BareCall>(&outcome)) {
    err << render_help(*bare->command, program, widths.err);
    return ParseExit{kUsageStatus, subcommand_words(*bare->command)};
  }
  if (const auto* error = std::get_if<UsageError>(&outcome)) {
    err << render_usage_error(*error, program, widths.err);
    return ParseExit{kUsageStatus, subcommand_words(*error->command)};
  }
  return to_cli(std::get<ScannedCommand>(outcome));
}

CommandId command_id(const Cli& cli) {
  struct Id {
    CommandId operator()(const Build&) const { return CommandId::build; }
    CommandId operator()(const Verify&) const { return CommandId::verify; }
    CommandId operator()(const Path&) const { return CommandId::path; }
    CommandId operator()(const Key& key) const { return std::visit(*this, key.command); }
    CommandId operator()(const Generate&) const { return CommandId::key_generate; }
    CommandId operator()(const Pubkey&) const { return CommandId::key_pubkey; }
  };
  return std::visit(Id{}, cli.command);
}

std::string command_words(CommandId id) {
  return subcommand_words(command_spec(id));
}

}  // namespace srb
