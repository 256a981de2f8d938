#include "cli/command_line.hpp"

#include <CLI/CLI.hpp>

#include "cli/text.hpp"

// The command tree is declared once, with CLI11, and parsed into plain strings; the Cli record is
// filled from them afterwards. CLI11 exceptions stop here: parse_command_line returns ParseExit.

namespace srb {
namespace {

constexpr const char* kHelpFlagText = "Print help";
constexpr const char* kHelpCommandText = "Print this message or the help of the given subcommand(s)";

// Every argument as CLI11 fills it, before the Cli record is formed.
struct RawArgs {
  std::string version, out, from, arch, identity, dir, require_publisher, require_arch;
  std::vector<std::string> include, help_names;
  bool require_signature = false, system = false;
};

const CLI::Validator& utf8_text() {
  static const CLI::Validator validator(
      [](std::string& value) {
        return is_valid_utf8(value) ? std::string() : std::string("invalid UTF-8 was detected");
      },
      "", "UTF-8");
  return validator;
}

const CLI::Validator& non_empty_path() {
  static const CLI::Validator validator(
      [](std::string& value) {
        return value.empty() ? std::string("a value is required but none was supplied")
                             : std::string();
      },
      "", "NON-EMPTY");
  return validator;
}

CLI::Option* text_option(CLI::App& app, const std::string& name, std::string& into,
                         const std::string& value_name, const std::string& help) {
  return app.add_option(name, into, help)->type_name(value_name)->check(utf8_text());
}

CLI::Option* path_option(CLI::App& app, const std::string& name, std::string& into,
                         const std::string& value_name, const std::string& help) {
  return app.add_option(name, into, help)->type_name(value_name)->check(non_empty_path());
}

void add_help_command(CLI::App& app, RawArgs& raw) {
  CLI::App* help = app.add_subcommand("help", kHelpCommandText);
  help->add_option("COMMAND", raw.help_names)->type_name("COMMAND");
}

void declare_build(CLI::App& app, RawArgs& raw) {
  CLI::App* build = app.add_subcommand(
      "build",
      "Copy the minimal loader + libc set from the host into a content-addressed bundle directory");
  text_option(*build, "--version", raw.version, "VERSION",
              "Bundle version tag. Written into `bundle.toml` and used by the launcher to match "
              "`runtime = \"sarn-runtime/<version>\"` in package manifests")
      ->required();
  path_option(*build, "--out", raw.out, "OUT", "Output directory. Created if missing")->required();
  path_option(*build, "--from", raw.from, "FROM",
              "Host root to resolve source paths against. Defaults to `/`");
  text_option(*build, "--arch", raw.arch, "ARCH",
              "Target architecture. Defaults to the host arch (`std::env::consts::ARCH`). "
              "Explicit override lets you build a cross-arch bundle from a fabricated rootfs "
              "(e.g. an aarch64 sysroot on an `x86_64` CI runner)");
  path_option(*build, "--identity", raw.identity, "IDENTITY",
              "Path to an identity JSON file for signing the bundle. Format: "
              "`{ \"secret_key_hex\": \"<64-hex>\" }`. When set, the finished `bundle.toml` gains "
              "`publisher_hex` + `signature_hex`. Same shape as `sarn-pkg`'s identity files");
  build
      ->add_option("--include", raw.include,
                   "Extra shared object to place at the top of the bundle's `lib/` (repeatable). "
                   "Use it to fold the Rust `libstd-<hash>.so` and the Sarn "
                   "`libhostshim_dylib.so` into the bundle so thin (`-C prefer-dynamic`) apps "
                   "resolve them via the launcher's `LD_LIBRARY_PATH=<mount>/lib`. Each is hashed "
                   "+ signed like every other bundle file")
      ->type_name("PATH")
      ->check(non_empty_path())
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

void declare_verify(CLI::App& app, RawArgs& raw) {
  CLI::App* verify = app.add_subcommand(
      "verify",
      "Verify an existing bundle by recomputing hashes (and, when signed, checking the signature)");
  path_option(*verify, "DIR", raw.dir, "DIR", "Path to the bundle root (contains `bundle.toml`)")
      ->required();
  text_option(*verify, "--require-publisher", raw.require_publisher, "REQUIRE_PUBLISHER",
              "If set, refuse the bundle unless it is signed by this exact publisher (Ed25519 "
              "public key, hex-encoded)");
  verify->add_flag("--require-signature", raw.require_signature, "If set, refuse an unsigned bundle")
      ->disable_flag_override();
  text_option(*verify, "--require-arch", raw.require_arch, "REQUIRE_ARCH",
              "If set, refuse a bundle whose declared `arch` differs. Defaults to no arch "
              "enforcement");
}

void declare_path(CLI::App& app, RawArgs& raw) {
  CLI::App* path =
      app.add_subcommand("path", "Print the resolved bundle path for a given version");
  text_option(*path, "--version", raw.version, "VERSION", "Runtime version tag")->required();
  path->add_flag("--system", raw.system,
                 "Print the system fallback (`/usr/lib/sarn-runtime/<v>/`) even if no bundle is "
                 "installed there")
      ->disable_flag_override();
}

void declare_key(CLI::App& app, RawArgs& raw) {
  CLI::App* key = app.add_subcommand("key", "Signing-key utilities");
  key->require_subcommand(1);
  CLI::App* generate =
      key->add_subcommand("generate", "Write a fresh signing identity JSON file to `--out`");
  path_option(*generate, "--out", raw.out, "OUT", "")->required();
  CLI::App* pubkey =
      key->add_subcommand("pubkey", "Print the public key of an identity JSON file (hex)");
  path_option(*pubkey, "--identity", raw.identity, "IDENTITY", "")->required();
  add_help_command(*key, raw);
}

void declare_tree(CLI::App& app, RawArgs& raw) {
  app.set_help_flag("-h,--help", kHelpFlagText);
  app.require_subcommand(1);
  declare_build(app, raw);
  declare_verify(app, raw);
  declare_path(app, raw);
  declare_key(app, raw);
  add_help_command(app, raw);
  for (CLI::App* sub : app.get_subcommands({})) {
    sub->set_help_flag("-h,--help", kHelpFlagText);
    for (CLI::App* inner : sub->get_subcommands({})) inner->set_help_flag("-h,--help", kHelpFlagText);
  }
}

std::optional<std::string> given(const CLI::App& app, const std::string& name,
                                 const std::string& value) {
  if (app.count(name) == 0) return std::nullopt;
  return value;
}

std::optional<std::filesystem::path> given_path(const CLI::App& app, const std::string& name,
                                                const std::string& value) {
  if (app.count(name) == 0) return std::nullopt;
  return std::filesystem::path(value);
}

Cli to_build(const CLI::App& build, const RawArgs& raw) {
  Build b{raw.version, raw.out, given_path(build, "--from", raw.from),
          given(build, "--arch", raw.arch), given_path(build, "--identity", raw.identity), {}};
  for (const std::string& include : raw.include) b.include.emplace_back(include);
  return Cli{b};
}

Cli to_verify(const CLI::App& verify, const RawArgs& raw) {
  return Cli{Verify{raw.dir, given(verify, "--require-publisher", raw.require_publisher),
                    raw.require_signature, given(verify, "--require-arch", raw.require_arch)}};
}

Cli to_key(const CLI::App& key, const RawArgs& raw) {
  if (key.got_subcommand("generate")) return Cli{Key{Generate{raw.out}}};
  return Cli{Key{Pubkey{raw.identity}}};
}

// The help command prints the help of the command its words name, from `app` down.
ParseExit print_named_help(CLI::App& app, const std::vector<std::string>& names,
                           std::ostream& out) {
  CLI::App* target = &app;
  for (const std::string& name : names) target = target->get_subcommand(name);
  out << target->help();
  return ParseExit{0};
}

std::variant<Cli, ParseExit> to_cli(CLI::App& app, const RawArgs& raw, std::ostream& out) {
  if (CLI::App* build = app.get_subcommand("build"); build->parsed()) return to_build(*build, raw);
  if (CLI::App* verify = app.get_subcommand("verify"); verify->parsed())
    return to_verify(*verify, raw);
  if (app.get_subcommand("path")->parsed()) return Cli{Path{raw.version, raw.system}};
  CLI::App* key = app.get_subcommand("key");
  if (key->parsed() && !key->get_subcommand("help")->parsed()) return to_key(*key, raw);
  if (key->parsed()) return print_named_help(*key, raw.help_names, out);
  return print_named_help(app, raw.help_names, out);
}

}  // namespace

std::variant<Cli, ParseExit> parse_command_line(std::span<const std::string> args,
                                                std::ostream& out, std::ostream& err) {
  CLI::App app("Produce and verify Sarn runtime bundles.",
               std::filesystem::path(args.empty() ? "" : args[0]).filename().string());
  RawArgs raw;
  declare_tree(app, raw);
  if (args.size() <= 1) {
    err << app.help();
    return ParseExit{2};
  }
  std::vector<std::string> reversed(args.rbegin(), args.rend() - 1);
  try {
    app.parse(reversed);
    return to_cli(app, raw, out);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e, out, err);
    return ParseExit{status == 0 ? 0 : 2};
  }
}

}  // namespace srb
