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

  const std::vector<std::string>& all(std::string_view name) const {
    const std::vector<ArgumentSpec>& arguments = scanned_.command->arguments;
    for (std::size_t i = 0; i < arguments.size(); ++i)
      if (arguments[i].name == name) return scanned_.values[i];
    return none_;
  }
  // Required arguments are present: the scan checked them.
  const std::string& one(std::string_view name) const { return all(name).front(); }
  std::optional<std::string> text(std::string_view name) const {
    if (all(name).empty()) return std::nullopt;
    return all(name).front();
  }
  std::optional<std::filesystem::path> path(std::string_view name) const {
    if (all(name).empty()) return std::nullopt;
    return std::filesystem::path(all(name).front());
  }
  bool flag(std::string_view name) const { return !all(name).empty(); }

 private:
  const ScannedCommand& scanned_;
  const std::vector<std::string> none_;
};

Cli to_build(const ScannedValues& v) {
  Build cmd{v.one("--version"), v.one("--out"),       v.path("--from"),
            v.text("--arch"),   v.path("--identity"), v.all("--include")};
  return Cli{std::move(cmd)};
}

Cli to_verify(const ScannedValues& v) {
  return Cli{Verify{v.one("DIR"), v.text("--require-publisher"), v.flag("--require-signature"),
                    v.text("--require-arch")}};
}

// The Cli record of the command reached, which is never the program or key: both need a
// subcommand, and the help subcommand ends the scan with a help request.
Cli to_cli(const ScannedCommand& scanned) {
  const ScannedValues v(scanned);
  const std::string& name = scanned.command->name;
  if (name == "build") return to_build(v);
  if (name == "verify") return to_verify(v);
  if (name == "path") return Cli{Path{v.one("--version"), v.flag("--system")}};
  if (name == "generate") return Cli{Key{Generate{v.one("--out")}}};
  return Cli{Key{Pubkey{v.one("--identity")}}};
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

std::string command_words(const Cli& cli) {
  struct Words {
    std::string operator()(const Build&) const { return "build"; }
    std::string operator()(const Verify&) const { return "verify"; }
    std::string operator()(const Path&) const { return "path"; }
    std::string operator()(const Key& key) const {
      return std::holds_alternative<Generate>(key.command) ? "key generate" : "key pubkey";
    }
  };
  return std::visit(Words{}, cli.command);
}

}  // namespace srb
