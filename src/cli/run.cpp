#include "cli/run.hpp"

#include <cerrno>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "build/build.hpp"
#include "cli/command_line.hpp"
#include "cli/console_width.hpp"
#include "core/hex.hpp"
#include "core/text.hpp"
#include "location/bundle_path.hpp"
#include "signing/identity.hpp"
#include "verify/verify.hpp"

// The dispatcher: each arm runs one handler, then prints its summary on `out` or one error line
// on `err`. Nothing below cli/ prints; the argument parser prints help and usage screens itself.

namespace srb {
namespace {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;

// Two spaces, the label padded to nine characters, ": ", the value. The values come from the
// manifest, so a line feed or a terminal escape in them is printed escaped: it must not fake a
// line of its own (a publisher) for whoever reads the summary.
void print_field(Output& out, std::string_view label, std::string_view value) {
  std::string line = "  ";
  line += label;
  line.resize(11, ' ');
  out << line << ": " << printable(value) << '\n';
}

void print_manifest_fields(Output& out, const BundleManifest& manifest) {
  print_field(out, "version", manifest.version);
  print_field(out, "arch", manifest.arch);
  print_field(out, "files", std::to_string(manifest.files.size()));
  print_field(out, "root-hash", "blake3:" + manifest.root_hash);
  if (manifest.publisher_hex) print_field(out, "publisher", "ed25519:" + *manifest.publisher_hex);
}

// "sarn-runtime-bundle {command}: {text}", the one failure line; without command words (a
// failure before the command line was read, or of the top-level help) the prefix is the
// program name alone.
int fail(Output& err, std::string_view command, std::string_view text) {
  err << "sarn-runtime-bundle" << (command.empty() ? "" : " ") << command << ": " << text << '\n';
  return kFailure;
}

// key generate reports the bare operating-system error, without the "i/o: " of Io.
std::string failure_text(std::optional<CommandId> command, const BundleError& error) {
  const auto* io = std::get_if<Io>(&error);
  return io && command == CommandId::key_generate ? render_os_error(io->error) : message(error);
}

// The failure line of `command` for `error`.
int fail(Output& err, CommandId command, const BundleError& error) {
  return fail(err, command_words(command), failure_text(command, error));
}

int run_build(const Build& cmd, Output& out, Output& err) {
  const BuildRequest request{.version = cmd.version,
                             .out = cmd.out,
                             .from = cmd.from.value_or("/"),
                             .arch = cmd.arch,
                             .identity = cmd.identity,
                             .includes = cmd.include};
  const Result<BundleManifest> manifest = build_bundle(request);
  if (!manifest) return fail(err, CommandId::build, manifest.error());
  out << "built bundle at " << display(cmd.out) << '\n';
  print_manifest_fields(out, *manifest);
  if (manifest->signature_hex) print_field(out, "signed", "yes");
  return kSuccess;
}

int run_verify(const Verify& cmd, Output& out, Output& err) {
  const VerifyOptions request{
      .bundle_dir = cmd.dir,
      .require_arch = cmd.require_arch,
      .require_publisher = cmd.require_publisher,
      .require_signature = cmd.require_signature ? RequireSignature::yes : RequireSignature::no,
      // Binding a version is the library's: the command line has no option for it.
      .require_version = std::nullopt};
  const Result<VerifiedBundle> verified = verify_bundle(request);
  if (!verified) return fail(err, CommandId::verify, verified.error());
  out << "bundle " << display(cmd.dir) << " verified\n";
  print_manifest_fields(out, verified->manifest);
  return kSuccess;
}

int run_path(const Path& cmd, Output& out, Output& err) {
  const Result<std::string> path =
      resolve_bundle_path(cmd.version, cmd.system ? SystemOnly::yes : SystemOnly::no);
  if (!path) return fail(err, CommandId::path, path.error());
  out << lossy_utf8(*path) << '\n';
  return kSuccess;
}

// Once the new identity has replaced --out, the old one is gone whatever fails next, and the
// error line says so. Standard output is written here, so that a failure there is such a one too.
int run_generate(const Generate& cmd, Output& out, Output& err) {
  const Result<GeneratedIdentity> generated = write_new_identity(cmd.out);
  if (!generated) return fail(err, CommandId::key_generate, generated.error());
  const std::string words = command_words(CommandId::key_generate);
  // The dash is U+2014 EM DASH, as in every fixed message.
  const std::string replaced = " \xE2\x80\x94 " + display(cmd.out) + " now holds the new identity";
  if (generated->failed_after_replacing)
    return fail(err, words, render_os_error(*generated->failed_after_replacing) + replaced);
  out << "wrote identity to " << display(cmd.out) << '\n';
  out << "public-key: ed25519:" << generated->public_hex << '\n';
  out.flush();
  if (const std::optional<int> code = out.failure(); code && generated->replaced_file)
    return fail(err, words, "write error: " + render_os_error(os_error(*code)) + replaced);
  return kSuccess;
}

int run_pubkey(const Pubkey& cmd, Output& out, Output& err) {
  const Result<SigningKey> key = load_identity(cmd.identity);
  if (!key) return fail(err, CommandId::key_pubkey, key.error());
  out << encode_hex(key->public_key()) << '\n';
  return kSuccess;
}

int dispatch(const Cli& cli, Output& out, Output& err) {
  struct Dispatch {
    Output& out;
    Output& err;
    int operator()(const Build& cmd) const { return run_build(cmd, out, err); }
    int operator()(const Verify& cmd) const { return run_verify(cmd, out, err); }
    int operator()(const Path& cmd) const { return run_path(cmd, out, err); }
    int operator()(const Key& cmd) const { return std::visit(*this, cmd.command); }
    int operator()(const Generate& cmd) const { return run_generate(cmd, out, err); }
    int operator()(const Pubkey& cmd) const { return run_pubkey(cmd, out, err); }
  };
  return std::visit(Dispatch{.out = out, .err = err}, cli.command);
}

// The operating-system error an escaping exception stands for. Allocation failures are the
// ones expected (a size beyond what can be held is one too); a system error carries its number;
// anything else is reported as a plain i/o failure rather than ending the process.
OsError error_of_current_exception() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return os_error(ENOMEM);
  } catch (const std::length_error&) {
    return os_error(ENOMEM);
  } catch (const std::system_error& error) {
    return os_error(error.code().value());
  } catch (...) {
    return os_error(EIO);
  }
}

// A command whose output could not be written has not succeeded, and says so as coreutils do,
// with the error number of the write that failed.
int flush_status(int status, std::string_view command, Output& out, Output& err) {
  out.flush();
  if (const std::optional<int> code = out.failure(); code && status == kSuccess)
    status = fail(err, command, "write error: " + render_os_error(os_error(*code)));
  err.flush();
  if (err.failure() && status == kSuccess) return kFailure;
  return status;
}

}  // namespace

int run(int argc, char** argv, Output& out, Output& err) {
  std::optional<CommandId> command;
  std::string words;  // of the command, once it is known
  // Memory can run out anywhere, in a library too; the command then fails like any other, with
  // one line and status 1, instead of ending in std::terminate. No exception leaves run().
  try {
    const std::vector<std::string> args(argv, argv + argc);
    const ConsoleWidths widths{console_width(out), console_width(err)};
    const auto parsed = parse_command_line(args, out, err, widths);
    if (const auto* exit = std::get_if<ParseExit>(&parsed))
      return flush_status(exit->status, exit->command, out, err);
    const Cli& cli = std::get<Cli>(parsed);
    command = command_id(cli);
    words = command_words(*command);
    return flush_status(dispatch(cli, out, err), words, out, err);
  } catch (...) {
    fail(err, words, failure_text(command, Io{error_of_current_exception()}));
    return flush_status(kFailure, words, out, err);
  }
}

}  // namespace srb
