#include "cli/command_spec.hpp"

#include <algorithm>

#include "build/host_sources.hpp"

// The declaration of every command and argument with its help text, and the identifiers that
// name the arguments as the user types them.

namespace srb {
namespace {

constexpr const char* kHelpCommandText =
    "Print this message or the help of the given subcommand(s)";

// Completions offer the architectures a build has a table for.
std::vector<std::string> architectures() {
  std::vector<std::string> names;
  for (const HostSourceTable& table : host_source_tables())
    names.emplace_back(table.arch);
  return names;
}

std::vector<ArgumentSpec> build_arguments() {
  return {
      {ArgumentId::version, Form::option, "VERSION", ValueKind::text, Presence::required,
       Repeat::no,
       "Bundle version tag. Written into `bundle.toml` and used by the launcher to match "
       "`runtime = \"sarn-runtime/<version>\"` in package manifests"},
      {ArgumentId::out, Form::option, "OUT", ValueKind::path, Presence::required, Repeat::no,
       "Output directory. Created if missing"},
      {ArgumentId::from, Form::option, "FROM", ValueKind::path, Presence::optional, Repeat::no,
       "Host root to resolve source paths against. Defaults to `/`"},
      {ArgumentId::arch, Form::option, "ARCH", ValueKind::text, Presence::optional, Repeat::no,
       "Target architecture. Defaults to the host arch (`std::env::consts::ARCH`). Explicit "
       "override lets you build a cross-arch bundle from a fabricated rootfs (e.g. an aarch64 "
       "sysroot on an `x86_64` CI runner)",
       architectures()},
      {ArgumentId::identity, Form::option, "IDENTITY", ValueKind::path, Presence::optional,
       Repeat::no,
       "Path to an identity JSON file for signing the bundle. Format: "
       "`{ \"secret_key_hex\": \"<64-hex>\" }`. When set, the finished `bundle.toml` gains "
       "`publisher_hex` + `signature_hex`. Same shape as `sarn-pkg`'s identity files"},
      {ArgumentId::include, Form::option, "PATH", ValueKind::path, Presence::optional, Repeat::yes,
       "Extra shared object to place at the top of the bundle's `lib/` (repeatable). Use it to "
       "fold the Rust `libstd-<hash>.so` and the Sarn `libhostshim_dylib.so` into the bundle so "
       "thin (`-C prefer-dynamic`) apps resolve them via the launcher's "
       "`LD_LIBRARY_PATH=<mount>/lib`. Each is hashed + signed like every other bundle file"},
  };
}

std::vector<ArgumentSpec> verify_arguments() {
  return {
      {ArgumentId::dir, Form::positional, "DIR", ValueKind::path, Presence::required, Repeat::no,
       "Path to the bundle root (contains `bundle.toml`)"},
      {ArgumentId::require_publisher, Form::option, "REQUIRE_PUBLISHER", ValueKind::text,
       Presence::optional, Repeat::no,
       "If set, refuse the bundle unless it is signed by this exact publisher (Ed25519 public key, "
       "hex-encoded)"},
      {ArgumentId::require_signature, Form::option, "", ValueKind::flag, Presence::optional,
       Repeat::no, "If set, refuse an unsigned bundle"},
      {ArgumentId::require_arch, Form::option, "REQUIRE_ARCH", ValueKind::text, Presence::optional,
       Repeat::no,
       "If set, refuse a bundle whose declared `arch` differs. Defaults to no arch enforcement",
       architectures()},
  };
}

std::vector<ArgumentSpec> path_arguments() {
  return {
      {ArgumentId::version, Form::option, "VERSION", ValueKind::text, Presence::required,
       Repeat::no, "Runtime version tag"},
      {ArgumentId::system, Form::option, "", ValueKind::flag, Presence::optional, Repeat::no,
       "Print the system fallback (`/usr/lib/sarn-runtime/<v>/`) even if no bundle is installed "
       "there"},
  };
}

std::vector<ArgumentSpec> generate_arguments() {
  return {
      {ArgumentId::out, Form::option, "OUT", ValueKind::path, Presence::required, Repeat::no, ""},
  };
}

std::vector<ArgumentSpec> pubkey_arguments() {
  return {
      {ArgumentId::identity, Form::option, "IDENTITY", ValueKind::path, Presence::required,
       Repeat::no, ""},
  };
}

// `help` takes the names of the command whose help it prints.
CommandSpec help_command() {
  return {"help",
          kHelpCommandText,
          {{ArgumentId::command, Form::positional, "COMMAND", ValueKind::text, Presence::optional,
            Repeat::yes, "The subcommand whose help to print"}},
          {}};
}

CommandSpec with_help_command(CommandSpec command) {
  command.subcommands.push_back(help_command());
  return command;
}

// Parents are set once every vector has its final size, so the pointers stay valid.
void link_parents(CommandSpec& command) {
  for (CommandSpec& sub : command.subcommands) {
    sub.parent = &command;
    link_parents(sub);
  }
}

// A command that runs as `id`.
CommandSpec runnable(CommandId id, std::string name, std::string description,
                     std::vector<ArgumentSpec> arguments) {
  return {std::move(name), std::move(description), std::move(arguments), {}, id};
}

CommandSpec build_tree() {
  CommandSpec key = with_help_command(
      {"key",
       "Signing-key utilities",
       {},
       {runnable(CommandId::key_generate, "generate",
                 "Write a fresh signing identity JSON file to `--out`", generate_arguments()),
        runnable(CommandId::key_pubkey, "pubkey",
                 "Print the public key of an identity JSON file (hex)", pubkey_arguments())}});
  CommandSpec root = with_help_command(
      {"sarn-runtime-bundle",
       "Produce and verify Sarn runtime bundles.",
       {},
       {runnable(CommandId::build, "build",
                 "Copy the minimal loader + libc set from the host into a content-addressed "
                 "bundle directory",
                 build_arguments()),
        runnable(CommandId::verify, "verify",
                 "Verify an existing bundle by recomputing hashes (and, when signed, checking the "
                 "signature)",
                 verify_arguments()),
        runnable(CommandId::path, "path", "Print the resolved bundle path for a given version",
                 path_arguments()),
        std::move(key)}});
  link_parents(root);
  return root;
}

const CommandSpec* find_command(const CommandSpec& command, CommandId id) {
  if (command.id == id) return &command;
  for (const CommandSpec& sub : command.subcommands)
    if (const CommandSpec* found = find_command(sub, id)) return found;
  return nullptr;
}

}  // namespace

const CommandSpec* CommandSpec::find_subcommand(const std::string& word) const {
  for (const CommandSpec& sub : subcommands)
    if (sub.name == word) return &sub;
  return nullptr;
}

const CommandSpec& command_spec() {
  static const CommandSpec tree = build_tree();
  return tree;
}

// Every identifier has a command in the tree, as a test checks.
const CommandSpec& command_spec(CommandId id) {
  return *find_command(command_spec(), id);
}

std::string_view identifier(ArgumentId id) {
  switch (id) {
    case ArgumentId::version:
      return "version";
    case ArgumentId::out:
      return "out";
    case ArgumentId::from:
      return "from";
    case ArgumentId::arch:
      return "arch";
    case ArgumentId::identity:
      return "identity";
    case ArgumentId::include:
      return "include";
    case ArgumentId::dir:
      return "dir";
    case ArgumentId::require_publisher:
      return "require_publisher";
    case ArgumentId::require_signature:
      return "require_signature";
    case ArgumentId::require_arch:
      return "require_arch";
    case ArgumentId::system:
      return "system";
    case ArgumentId::command:
      break;
  }
  return "command";
}

std::string ArgumentSpec::name() const {
  if (is_positional()) return value_name;
  std::string option = "--" + std::string(identifier(id));
  std::replace(option.begin(), option.end(), '_', '-');
  return option;
}

std::string display_name(const ArgumentSpec& spec) {
  if (spec.is_positional()) {
    if (spec.repeat == Repeat::yes) return "[" + spec.value_name + "]...";
    return "<" + spec.value_name + ">";
  }
  if (spec.kind == ValueKind::flag) return spec.name();
  return spec.name() + " <" + spec.value_name + ">";
}

}  // namespace srb
