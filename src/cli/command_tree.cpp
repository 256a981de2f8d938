#include "cli/command_tree.hpp"

#include <algorithm>
#include <cctype>
#include <limits>

#include "build/host_sources.hpp"

// The declaration of every command and argument with its help text. Nothing is bound to a
// variable: CLI11 never parses, so its options only describe.

namespace srb {
namespace {

constexpr const char* kHelpFlagText = "Print help";
constexpr const char* kHelpCommandText =
    "Print this message or the help of the given subcommand(s)";

// Completions offer the architectures a build has a table for.
std::vector<std::string> architectures() {
  std::vector<std::string> names;
  for (const HostSourceTable& table : host_source_tables())
    names.emplace_back(table.arch);
  return names;
}

const std::vector<ArgumentSpec> kBuildArguments = {
    {"--version", "VERSION", ValueKind::text, Presence::required, Repeat::no,
     "Bundle version tag. Written into `bundle.toml` and used by the launcher to match "
     "`runtime = \"sarn-runtime/<version>\"` in package manifests"},
    {"--out", "OUT", ValueKind::path, Presence::required, Repeat::no,
     "Output directory. Created if missing"},
    {"--from", "FROM", ValueKind::path, Presence::optional, Repeat::no,
     "Host root to resolve source paths against. Defaults to `/`"},
    {"--arch", "ARCH", ValueKind::text, Presence::optional, Repeat::no,
     "Target architecture. Defaults to the host arch (`std::env::consts::ARCH`). Explicit "
     "override lets you build a cross-arch bundle from a fabricated rootfs (e.g. an aarch64 "
     "sysroot on an `x86_64` CI runner)",
     architectures()},
    {"--identity", "IDENTITY", ValueKind::path, Presence::optional, Repeat::no,
     "Path to an identity JSON file for signing the bundle. Format: "
     "`{ \"secret_key_hex\": \"<64-hex>\" }`. When set, the finished `bundle.toml` gains "
     "`publisher_hex` + `signature_hex`. Same shape as `sarn-pkg`'s identity files"},
    {"--include", "PATH", ValueKind::path, Presence::optional, Repeat::yes,
     "Extra shared object to place at the top of the bundle's `lib/` (repeatable). Use it to "
     "fold the Rust `libstd-<hash>.so` and the Sarn `libhostshim_dylib.so` into the bundle so "
     "thin (`-C prefer-dynamic`) apps resolve them via the launcher's "
     "`LD_LIBRARY_PATH=<mount>/lib`. Each is hashed + signed like every other bundle file"},
};

const std::vector<ArgumentSpec> kVerifyArguments = {
    {"DIR", "DIR", ValueKind::path, Presence::required, Repeat::no,
     "Path to the bundle root (contains `bundle.toml`)"},
    {"--require-publisher", "REQUIRE_PUBLISHER", ValueKind::text, Presence::optional, Repeat::no,
     "If set, refuse the bundle unless it is signed by this exact publisher (Ed25519 public key, "
     "hex-encoded)"},
    {"--require-signature", "", ValueKind::flag, Presence::optional, Repeat::no,
     "If set, refuse an unsigned bundle"},
    {"--require-arch", "REQUIRE_ARCH", ValueKind::text, Presence::optional, Repeat::no,
     "If set, refuse a bundle whose declared `arch` differs. Defaults to no arch enforcement",
     architectures()},
};

const std::vector<ArgumentSpec> kPathArguments = {
    {"--version", "VERSION", ValueKind::text, Presence::required, Repeat::no,
     "Runtime version tag"},
    {"--system", "", ValueKind::flag, Presence::optional, Repeat::no,
     "Print the system fallback (`/usr/lib/sarn-runtime/<v>/`) even if no bundle is installed "
     "there"},
};

const std::vector<ArgumentSpec> kGenerateArguments = {
    {"--out", "OUT", ValueKind::path, Presence::required, Repeat::no, ""},
};

const std::vector<ArgumentSpec> kPubkeyArguments = {
    {"--identity", "IDENTITY", ValueKind::path, Presence::required, Repeat::no, ""},
};

CLI::Option* declare_argument(CLI::App& command, const ArgumentSpec& spec) {
  if (spec.kind == ValueKind::flag) return command.add_flag(spec.name, spec.help);
  CLI::Option* option = command.add_option(spec.name, spec.help)->type_name(spec.value_name);
  if (spec.presence == Presence::required) option->required();
  return option;
}

CLI::App* declare_command(CLI::App& parent, const std::string& name, const std::string& description,
                          const std::vector<ArgumentSpec>& specs,
                          std::vector<DeclaredArgument>& arguments) {
  CLI::App* command = parent.add_subcommand(name, description);
  for (const ArgumentSpec& spec : specs)
    arguments.push_back({spec, command, declare_argument(*command, spec)});
  return command;
}

// `help` takes the names of the command whose help it prints; the parser resolves them.
void declare_help_command(CLI::App& parent) {
  CLI::App* help = parent.add_subcommand("help", kHelpCommandText);
  help->add_option("COMMAND", "The subcommand whose help to print")
      ->expected(0, std::numeric_limits<int>::max());
}

// Declared once the tree is complete, so help lists the flag after every other option. The
// commands carry none until then: CLI11 would copy the parent's into each new subcommand, only
// for it to be made again here, and each option costs thousands of instructions at start-up.
void declare_help_flags(CLI::App& command) {
  for (CLI::App* sub : command.get_subcommands({}))
    declare_help_flags(*sub);
  command.set_help_flag("-h,--help", kHelpFlagText);
}

}  // namespace

CommandTree::CommandTree(const std::string& program_name)
    : root("Produce and verify Sarn runtime bundles.", program_name) {
  root.set_help_flag();  // removes the one CLI11 gives every root; see declare_help_flags
  root.require_subcommand(1);
  declare_command(root, "build",
                  "Copy the minimal loader + libc set from the host into a content-addressed "
                  "bundle directory",
                  kBuildArguments, arguments);
  declare_command(root, "verify",
                  "Verify an existing bundle by recomputing hashes (and, when signed, checking "
                  "the signature)",
                  kVerifyArguments, arguments);
  declare_command(root, "path", "Print the resolved bundle path for a given version",
                  kPathArguments, arguments);
  CLI::App* key = declare_command(root, "key", "Signing-key utilities", {}, arguments);
  key->require_subcommand(1);
  declare_command(*key, "generate", "Write a fresh signing identity JSON file to `--out`",
                  kGenerateArguments, arguments);
  declare_command(*key, "pubkey", "Print the public key of an identity JSON file (hex)",
                  kPubkeyArguments, arguments);
  declare_help_command(*key);
  declare_help_command(root);
  declare_help_flags(root);
}

std::string identifier(const ArgumentSpec& spec) {
  std::string id = spec.name.starts_with("--") ? spec.name.substr(2) : spec.name;
  std::replace(id.begin(), id.end(), '-', '_');
  std::transform(id.begin(), id.end(), id.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return id;
}

}  // namespace srb
