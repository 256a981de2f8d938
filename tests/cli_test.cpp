// The command line as a user meets it: statuses, streams, error lines, help screens and failed
// writes. Most cases run in-process through run(); the binary itself is run only where the
// process matters (a full device, a closed pipe).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>

#include "cli/run.hpp"
#include "core/unique_fd.hpp"
#include "tests/support/process.hpp"

namespace srb::test {
namespace {

constexpr std::string_view kHint = "\nFor more information, try '--help'.\n";

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

std::string first_line(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

// Sets COLUMNS for the life of the object (unset when `value` is absent), then restores it.
class ScopedColumns {
 public:
  explicit ScopedColumns(std::optional<std::string> value) {
    if (const char* old = std::getenv("COLUMNS")) old_ = old;
    if (value)
      ::setenv("COLUMNS", value->c_str(), 1);
    else
      ::unsetenv("COLUMNS");
  }
  ~ScopedColumns() {
    if (old_)
      ::setenv("COLUMNS", old_->c_str(), 1);
    else
      ::unsetenv("COLUMNS");
  }
  ScopedColumns(const ScopedColumns&) = delete;
  ScopedColumns& operator=(const ScopedColumns&) = delete;

 private:
  std::optional<std::string> old_;
};

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

int run_with_streams(std::vector<std::string> args, Output& out, Output& err) {
  args.insert(args.begin(), "/usr/bin/sarn-runtime-bundle");
  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  return run(static_cast<int>(args.size()), argv.data(), out, err);
}

// Runs the whole program in-process; the streams are not terminals, so help is laid out for
// COLUMNS, or 80 columns when `columns` is absent.
Outcome run_line(const std::vector<std::string>& args,
                 std::optional<std::string> columns = std::nullopt) {
  const ScopedColumns set(std::move(columns));
  Outcome outcome{.status = 0, .out = {}, .err = {}};
  Output out(outcome.out), err(outcome.err);
  outcome.status = run_with_streams(args, out, err);
  return outcome;
}

struct UsageCase {
  std::vector<std::string> args;
  std::string error;  // the first line
  std::string usage;  // the usage line of the command concerned
};

void expect_rejected(const UsageCase& c) {
  SCOPED_TRACE(testing::PrintToString(c.args));
  const Outcome r = run_line(c.args);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  const std::vector<std::string> lines = lines_of(r.err);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), c.error);
  EXPECT_NE(std::find(lines.begin(), lines.end(), c.usage), lines.end()) << r.err;
  EXPECT_TRUE(r.err.ends_with(kHint)) << r.err;
}

// A help request: status 0, nothing on stderr, and the screen of the command whose description
// starts with `description`.
void expect_help(const std::vector<std::string>& args, const std::string& description) {
  SCOPED_TRACE(testing::PrintToString(args));
  const Outcome r = run_line(args);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(first_line(r.out), description) << r.out;
}

const std::string kBuildUsage =
    "Usage: sarn-runtime-bundle build [OPTIONS] --version <VERSION> --out <OUT>";
const std::string kVerifyUsage = "Usage: sarn-runtime-bundle verify [OPTIONS] <DIR>";
const std::string kPathUsage = "Usage: sarn-runtime-bundle path [OPTIONS] --version <VERSION>";
const std::string kTopUsage = "Usage: sarn-runtime-bundle [OPTIONS] <COMMAND>";
const std::string kKeyUsage = "Usage: sarn-runtime-bundle key [OPTIONS] <COMMAND>";
const std::string kGenerateUsage = "Usage: sarn-runtime-bundle key generate [OPTIONS] --out <OUT>";
const std::string kPubkeyUsage =
    "Usage: sarn-runtime-bundle key pubkey [OPTIONS] --identity <IDENTITY>";

// Every rejected command line ends with status 2, prints nothing on stdout, and explains itself
// on stderr in the command's own terms.
TEST(CommandLine, RejectsBadCommandLinesWithStatus2) {
  const UsageCase cases[] = {
      {{"build", "--out", "o"},
       "error: the following required argument was not provided: --version <VERSION>",
       kBuildUsage},
      {{"path"},
       "error: the following required argument was not provided: --version <VERSION>",
       kPathUsage},
      {{"verify"}, "error: the following required argument was not provided: <DIR>", kVerifyUsage},
      {{"key", "generate"},
       "error: the following required argument was not provided: --out <OUT>",
       kGenerateUsage},
      {{"key", "pubkey"},
       "error: the following required argument was not provided: --identity <IDENTITY>",
       kPubkeyUsage},
      {{"build", "1.0", "--out", "o"}, "error: unexpected argument '1.0' found", kBuildUsage},
      {{"path", "--version", "1", "--system", "extra"},
       "error: unexpected argument 'extra' found",
       kPathUsage},
      {{"verify", "a", "--require-signature", "b"},
       "error: unexpected argument 'b' found",
       kVerifyUsage},
      {{"--version", "1"}, "error: unexpected argument '--version' found", kTopUsage},
      {{"path", "--version", "1", "--system=x"},
       "error: the flag '--system' does not take a value",
       kPathUsage},
      {{"path", "--version", "1", "--system=true"},
       "error: the flag '--system' does not take a value",
       kPathUsage},
      {{"verify", "d", "--require-signature="},
       "error: the flag '--require-signature' does not take a value",
       kVerifyUsage},
      {{"--help=x"}, "error: the flag '--help' does not take a value", kTopUsage},
      {{"build", "--version", "1", "--out"},
       "error: a value is required for '--out' but none was supplied",
       kBuildUsage},
      {{"build", "--version", "1", "--out", ""},
       "error: a value is required for '--out' but none was supplied",
       kBuildUsage},
      {{"build", "--version", "1", "--out", "o", "--from="},
       "error: a value is required for '--from' but none was supplied",
       kBuildUsage},
      {{"build", "--version", "1", "--out", "o", "--identity", ""},
       "error: a value is required for '--identity' but none was supplied",
       kBuildUsage},
      {{"build", "--version", "1", "--out", "o", "--include", "a", "--include", ""},
       "error: a value is required for '--include' but none was supplied",
       kBuildUsage},
      {{"verify", ""},
       "error: a value is required for '<DIR>' but none was supplied",
       kVerifyUsage},
      {{"key", "generate", "--out="},
       "error: a value is required for '--out' but none was supplied",
       kGenerateUsage},
      {{"build", "--version", "1", "--out", "a", "--out", "b"},
       "error: the argument '--out' cannot be used multiple times",
       kBuildUsage},
      {{"path", "--version", "1", "--system", "--system"},
       "error: the argument '--system' cannot be used multiple times",
       kPathUsage},
      {{"build", "--version", "1\xFF", "--out", "o"},
       "error: invalid UTF-8 was detected in the value of '--version'",
       kBuildUsage},
      {{"build", "--version", "1", "--out", "o", "--arch", "x\xC0"},
       "error: invalid UTF-8 was detected in the value of '--arch'",
       kBuildUsage},
      {{"verify", "d", "--require-publisher", "\xED\xA0\x80"},
       "error: invalid UTF-8 was detected in the value of '--require-publisher'",
       kVerifyUsage},
      {{"verify", "d", "--require-arch=\xE2\x80"},
       "error: invalid UTF-8 was detected in the value of '--require-arch'",
       kVerifyUsage},
      {{"path", "--version", "\xFF"},
       "error: invalid UTF-8 was detected in the value of '--version'",
       kPathUsage},
      {{"biuld"}, "error: the subcommand 'biuld' wasn't recognized", kTopUsage},
      {{"key", "pubky"}, "error: the subcommand 'pubky' wasn't recognized", kKeyUsage},
      {{"help", "nope"}, "error: the subcommand 'nope' wasn't recognized", kTopUsage},
      {{"help", "key", "genrate"}, "error: the subcommand 'genrate' wasn't recognized", kKeyUsage},
      {{"path", "--sytem", "--version", "1"},
       "error: unexpected argument '--sytem' found",
       kPathUsage},
      {{"--"}, "error: a subcommand is required but one was not provided", kTopUsage},
      {{"key", "--"}, "error: a subcommand is required but one was not provided", kKeyUsage},
  };
  for (const UsageCase& c : cases)
    expect_rejected(c);
}

// An option that takes a value never takes the next option as it: the option left without a
// value is the mistake reported, wherever it stands.
TEST(CommandLine, OptionNamesAreNeverTakenAsValues) {
  const std::string version_missing =
      "error: a value is required for '--version' but none was supplied";
  const UsageCase cases[] = {
      {{"build", "--out", "/tmp/b5", "--version", "--arch"}, version_missing, kBuildUsage},
      {{"build", "--version", "--out", "/tmp/b1"}, version_missing, kBuildUsage},
      {{"path", "--version", "--system"}, version_missing, kPathUsage},
      {{"path", "--version", "-h"}, version_missing, kPathUsage},
      {{"path", "--version", "--"}, version_missing, kPathUsage},
      {{"path", "--version", "-1"}, version_missing, kPathUsage},
      {{"key", "generate", "--out", "--help"},
       "error: a value is required for '--out' but none was supplied",
       kGenerateUsage},
      {{"verify", "d", "--require-publisher", "--require-signature"},
       "error: a value is required for '--require-publisher' but none was supplied",
       kVerifyUsage},
  };
  for (const UsageCase& c : cases)
    expect_rejected(c);
}

// Names are matched whole; "--" ends the options, and what follows is positional, never help.
TEST(CommandLine, NoAbbreviationsAndDoubleDashEndsOptions) {
  const UsageCase cases[] = {
      {{"build", "--vers", "1", "--out", "o"},
       "error: unexpected argument '--vers' found",
       kBuildUsage},
      {{"path", "--sys", "--version", "1"}, "error: unexpected argument '--sys' found", kPathUsage},
      {{"key", "gen", "--out", "x"}, "error: the subcommand 'gen' wasn't recognized", kKeyUsage},
      {{"build", "--version", "1", "--out", "x", "--", "-h"},
       "error: unexpected argument '-h' found",
       kBuildUsage},
      {{"build", "--version", "1", "--", "--out", "x"},
       "error: unexpected argument '--out' found",
       kBuildUsage},
      {{"verify", "--", "a", "b"}, "error: unexpected argument 'b' found", kVerifyUsage},
      {{"--", "build"}, "error: unexpected argument 'build' found", kTopUsage},
      {{"verify", "-dir"}, "error: unexpected argument '-dir' found", kVerifyUsage},
  };
  for (const UsageCase& c : cases)
    expect_rejected(c);
}

// The first problem in argument order is reported, and help counts only before any problem.
TEST(CommandLine, FirstProblemWinsAndHelpOnlyBeforeIt) {
  const UsageCase rejected[] = {
      {{"key", "verify", "-h"}, "error: the subcommand 'verify' wasn't recognized", kKeyUsage},
      {{"--bogus", "-h"}, "error: unexpected argument '--bogus' found", kTopUsage},
      {{"build", "--verison", "1", "--out", "x"},
       "error: unexpected argument '--verison' found",
       kBuildUsage},
      {{"build", "--bogus", "--out"}, "error: unexpected argument '--bogus' found", kBuildUsage},
      {{"build", "--out", "--bogus"},
       "error: a value is required for '--out' but none was supplied",
       kBuildUsage},
      {{"build", "--out", "", "--version", "\xFF"},
       "error: a value is required for '--out' but none was supplied",
       kBuildUsage},
      {{"key", "pubkey", "--help=x", "--help"},
       "error: the flag '--help' does not take a value",
       kPubkeyUsage},
      {{"path", "--system", "--system", "--help"},
       "error: the argument '--system' cannot be used multiple times",
       kPathUsage},
  };
  for (const UsageCase& c : rejected)
    expect_rejected(c);

  const std::pair<std::vector<std::string>, std::string> helped[] = {
      {{"key", "pubkey", "--help", "--identity", "a", "--help=x"},
       "Print the public key of an identity JSON file (hex)"},
      {{"build", "--help", "--bogus"},
       "Copy the minimal loader + libc set from the host into a content-addressed bundle"},
      {{"build", "--out", "o", "-h", "--out"},
       "Copy the minimal loader + libc set from the host into a content-addressed bundle"},
      {{"path", "-h", "--version"}, "Print the resolved bundle path for a given version"},
  };
  for (const auto& [args, description] : helped)
    expect_help(args, description);
}

// Every missing required argument is named at once, as the user would type it.
TEST(CommandLine, NamesAllMissingRequiredArgumentsAtOnce) {
  const Outcome r = run_line({"build"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err,
            "error: the following required arguments were not provided: --version <VERSION>, "
            "--out <OUT>\n"
            "\n" +
                kBuildUsage +
                "\n"
                "\n"
                "For more information, try '--help'.\n");
}

TEST(CommandLine, SuggestsSimilarNames) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"biuld"}, "  tip: did you mean 'build'?"},
      {{"key", "genrate", "--out", "x"}, "  tip: did you mean 'generate'?"},
      {{"key", "gen"}, "  tip: did you mean 'generate'?"},
      {{"key", "pub"}, "  tip: did you mean 'pubkey'?"},
      {{"help", "verfy"}, "  tip: did you mean 'verify'?"},
      {{"verify", "d", "--require-arc", "x86_64"}, "  tip: did you mean '--require-arch'?"},
      {{"verify", "d", "--require-sig"}, "  tip: did you mean '--require-signature'?"},
      {{"verify", "d", "--publisher", "ab"}, "  tip: did you mean '--require-publisher'?"},
      {{"build", "--verison=1", "--out", "o"}, "  tip: did you mean '--version'?"},
      {{"build", "--vers", "1"}, "  tip: did you mean '--version'?"},
      {{"path", "--hlep"}, "  tip: did you mean '--help'?"},
      {{"verify", "-dir"}, "  tip: to pass '-dir' as a value, use '-- -dir'"},
  };
  for (const auto& [args, tip] : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    const std::vector<std::string> lines = lines_of(run_line(args).err);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], tip);
  }
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"zzz"}, {"build", "-x"}, {"key", "g"}}) {
    SCOPED_TRACE(testing::PrintToString(args));
    EXPECT_EQ(run_line(args).err.find("tip:"), std::string::npos);
  }
}

// A bare call of a command that needs a subcommand shows its help, but as a failure.
TEST(CommandLine, BareCallShowsHelpOnStderrWithStatus2) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, "Produce and verify Sarn runtime bundles."},
      {{"key"}, "Signing-key utilities"},
  };
  for (const auto& [args, description] : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    const Outcome bare = run_line(args);
    EXPECT_EQ(bare.status, 2);
    EXPECT_EQ(bare.out, "");
    std::vector<std::string> help_args = args;
    help_args.push_back("--help");
    expect_help(help_args, description);
    EXPECT_EQ(bare.err, run_line(help_args).out);
  }
}

// Every way of asking for help prints that command's screen on stdout with status 0.
TEST(CommandLine, HelpRequestsPrintTheNamedCommand) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"-h"}, "Produce and verify Sarn runtime bundles."},
      {{"help"}, "Produce and verify Sarn runtime bundles."},
      {{"help", "build"},
       "Copy the minimal loader + libc set from the host into a content-addressed bundle"},
      {{"verify", "-h"},
       "Verify an existing bundle by recomputing hashes (and, when signed, checking the"},
      {{"path", "--version", "1", "--help"}, "Print the resolved bundle path for a given version"},
      {{"help", "key"}, "Signing-key utilities"},
      {{"key", "help"}, "Signing-key utilities"},
      {{"help", "key", "pubkey"}, "Print the public key of an identity JSON file (hex)"},
      {{"key", "help", "pubkey"}, "Print the public key of an identity JSON file (hex)"},
      {{"key", "generate", "--help"}, "Write a fresh signing identity JSON file to `--out`"},
      {{"help", "help"}, "Print this message or the help of the given subcommand(s)"},
      {{"help", "-h"}, "Print this message or the help of the given subcommand(s)"},
  };
  for (const auto& [args, description] : cases)
    expect_help(args, description);
  EXPECT_EQ(run_line({"help", "key", "pubkey"}).out, run_line({"key", "pubkey", "--help"}).out);
}

// The command lines whose help screens the layout tests read.
const std::vector<std::vector<std::string>> kHelpScreens = {
    {"--help"},        {"build", "--help"},           {"verify", "--help"}, {"path", "--help"},
    {"key", "--help"}, {"key", "generate", "--help"}, {"help", "help"},     {"key", "pubkey", "-h"},
};

struct HelpEntry {
  std::string name;
  std::string text;        // the words of its text joined by single spaces
  std::size_t lines = 0;   // how many lines the entry takes
  std::size_t column = 0;  // where its text starts
};

// The entries of a help screen: a line that starts with two spaces and a name, then the lines
// that continue its text, indented further.
std::vector<HelpEntry> entries_of(const std::string& screen) {
  std::vector<HelpEntry> entries;
  for (const std::string& line : lines_of(screen)) {
    const std::size_t indent = line.find_first_not_of(' ');
    if (indent == std::string::npos) continue;
    std::size_t start = indent;
    if (indent == 2) {
      const std::size_t gap = line.find("  ", indent);
      entries.push_back({line.substr(indent, gap - indent), "", 0, 0});
      start = gap == std::string::npos ? line.size() : line.find_first_not_of(' ', gap);
    } else if (indent < 2 || entries.empty()) {
      continue;
    }
    HelpEntry& entry = entries.back();
    ++entry.lines;
    if (start == line.size()) continue;
    if (entry.text.empty()) entry.column = start;
    entry.text += (entry.text.empty() ? "" : " ") + line.substr(start);
  }
  return entries;
}

// Each help text appears whole and word for word beside its argument, whatever the width.
TEST(CommandLine, HelpShowsEveryTextVerbatim) {
  const std::string help_command = "Print this message or the help of the given subcommand(s)";
  const struct {
    std::vector<std::string> args;
    std::string name;
    std::string text;
  } cases[] = {
      {{"--help"},
       "build",
       "Copy the minimal loader + libc set from the host into a content-addressed bundle "
       "directory"},
      {{"--help"},
       "verify",
       "Verify an existing bundle by recomputing hashes (and, when signed, checking the "
       "signature)"},
      {{"--help"}, "path", "Print the resolved bundle path for a given version"},
      {{"--help"}, "key", "Signing-key utilities"},
      {{"--help"}, "help", help_command},
      {{"--help"}, "-h, --help", "Print help"},
      {{"key", "--help"}, "generate", "Write a fresh signing identity JSON file to `--out`"},
      {{"key", "--help"}, "pubkey", "Print the public key of an identity JSON file (hex)"},
      {{"key", "--help"}, "help", help_command},
      {{"key", "--help"}, "-h, --help", "Print help"},
      {{"build", "--help"},
       "--version <VERSION>",
       "Bundle version tag. Written into `bundle.toml` and used by the launcher to match "
       "`runtime = \"sarn-runtime/<version>\"` in package manifests"},
      {{"build", "--help"}, "--out <OUT>", "Output directory. Created if missing"},
      {{"build", "--help"},
       "--from <FROM>",
       "Host root to resolve source paths against. Defaults to `/`"},
      {{"build", "--help"},
       "--arch <ARCH>",
       "Target architecture. Defaults to the host arch (`std::env::consts::ARCH`). Explicit "
       "override lets you build a cross-arch bundle from a fabricated rootfs (e.g. an aarch64 "
       "sysroot on an `x86_64` CI runner)"},
      {{"build", "--help"},
       "--identity <IDENTITY>",
       "Path to an identity JSON file for signing the bundle. Format: `{ \"secret_key_hex\": "
       "\"<64-hex>\" }`. When set, the finished `bundle.toml` gains `publisher_hex` + "
       "`signature_hex`. Same shape as `sarn-pkg`'s identity files"},
      {{"build", "--help"},
       "--include <PATH>",
       "Extra shared object to place at the top of the bundle's `lib/` (repeatable). Use it to "
       "fold the Rust `libstd-<hash>.so` and the Sarn `libhostshim_dylib.so` into the bundle so "
       "thin (`-C prefer-dynamic`) apps resolve them via the launcher's "
       "`LD_LIBRARY_PATH=<mount>/lib`. Each is hashed + signed like every other bundle file"},
      {{"build", "--help"}, "-h, --help", "Print help"},
      {{"verify", "--help"}, "<DIR>", "Path to the bundle root (contains `bundle.toml`)"},
      {{"verify", "--help"},
       "--require-publisher <REQUIRE_PUBLISHER>",
       "If set, refuse the bundle unless it is signed by this exact publisher (Ed25519 public "
       "key, hex-encoded)"},
      {{"verify", "--help"}, "--require-signature", "If set, refuse an unsigned bundle"},
      {{"verify", "--help"},
       "--require-arch <REQUIRE_ARCH>",
       "If set, refuse a bundle whose declared `arch` differs. Defaults to no arch enforcement"},
      {{"path", "--help"}, "--version <VERSION>", "Runtime version tag"},
      {{"path", "--help"},
       "--system",
       "Print the system fallback (`/usr/lib/sarn-runtime/<v>/`) even if no bundle is installed "
       "there"},
      {{"key", "generate", "--help"}, "--out <OUT>", ""},
      {{"key", "generate", "--help"}, "-h, --help", "Print help"},
      {{"key", "pubkey", "--help"}, "--identity <IDENTITY>", ""},
      {{"key", "pubkey", "--help"}, "-h, --help", "Print help"},
      {{"help", "--help"}, "-h, --help", "Print help"},
  };
  for (const char* columns : {"40", "80", "120", "1000"}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(columns) + " " + testing::PrintToString(c.args) + " " + c.name);
      const std::vector<HelpEntry> entries = entries_of(run_line(c.args, columns).out);
      const auto found = std::find_if(entries.begin(), entries.end(),
                                      [&c](const HelpEntry& e) { return e.name == c.name; });
      ASSERT_NE(found, entries.end());
      EXPECT_EQ(found->text, c.text);
    }
  }
}

// Commands, then arguments, then options in declaration order with help last.
TEST(CommandLine, HelpListsArgumentsInDeclarationOrder) {
  const std::pair<std::vector<std::string>, std::vector<std::string>> cases[] = {
      {{"build", "--help"},
       {"--version <VERSION>", "--out <OUT>", "--from <FROM>", "--arch <ARCH>",
        "--identity <IDENTITY>", "--include <PATH>", "-h, --help"}},
      {{"verify", "--help"},
       {"<DIR>", "--require-publisher <REQUIRE_PUBLISHER>", "--require-signature",
        "--require-arch <REQUIRE_ARCH>", "-h, --help"}},
      {{"--help"}, {"build", "verify", "path", "key", "help", "-h, --help"}},
      {{"key", "--help"}, {"generate", "pubkey", "help", "-h, --help"}},
      {{"help", "help"}, {"[COMMAND]...", "-h, --help"}},
  };
  for (const auto& [args, names] : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    std::vector<std::string> listed;
    for (const HelpEntry& entry : entries_of(run_line(args).out))
      listed.push_back(entry.name);
    EXPECT_EQ(listed, names);
  }
}

// Whether `line` is one word, perhaps indented: the only thing that may pass the width.
bool is_single_word(const std::string& line) {
  const std::size_t start = line.find_first_not_of(' ');
  return start == std::string::npos || line.find(' ', start) == std::string::npos;
}

// No line passes the width, and an entry whose text fits beside its name keeps it on one line.
TEST(CommandLine, HelpFitsTheWidth) {
  for (const std::size_t width : {80u, 120u}) {
    for (const std::vector<std::string>& args : kHelpScreens) {
      SCOPED_TRACE(std::to_string(width) + " " + testing::PrintToString(args));
      const std::string screen = run_line(args, std::to_string(width)).out;
      for (const std::string& line : lines_of(screen))
        EXPECT_TRUE(line.size() <= width || is_single_word(line)) << line;
      for (const HelpEntry& entry : entries_of(screen)) {
        const bool beside_name = 2 + entry.name.size() + 2 <= entry.column;
        if (beside_name && entry.column + entry.text.size() <= width) {
          EXPECT_EQ(entry.lines, 1u) << entry.name;
        }
      }
    }
  }
  // Texts that fit at 120 columns, each on its option's line.
  const std::string verify = run_line({"verify", "--help"}, "120").out;
  const std::vector<std::string> lines = lines_of(verify);
  const std::string publisher =
      "  --require-publisher <REQUIRE_PUBLISHER>  If set, refuse the bundle unless it is signed "
      "by this exact publisher";
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "  --require-signature                      If set, refuse an unsigned "
                      "bundle"),
            lines.end())
      << verify;
  EXPECT_NE(verify.find(publisher), std::string::npos) << verify;
}

// The whole layout of one screen at 80 columns: description, blank line, usage with required
// options and value names, sections, "-h, --help", and a long name falling to its own line.
TEST(CommandLine, HelpScreenLayout) {
  EXPECT_EQ(run_line({"verify", "--help"}).out,
            "Verify an existing bundle by recomputing hashes (and, when signed, checking the\n"
            "signature)\n"
            "\n"
            "Usage: sarn-runtime-bundle verify [OPTIONS] <DIR>\n"
            "\n"
            "Arguments:\n"
            "  <DIR>                          Path to the bundle root (contains\n"
            "                                 `bundle.toml`)\n"
            "\n"
            "Options:\n"
            "  --require-publisher <REQUIRE_PUBLISHER>\n"
            "                                 If set, refuse the bundle unless it is signed\n"
            "                                 by this exact publisher (Ed25519 public key,\n"
            "                                 hex-encoded)\n"
            "  --require-signature            If set, refuse an unsigned bundle\n"
            "  --require-arch <REQUIRE_ARCH>  If set, refuse a bundle whose declared `arch`\n"
            "                                 differs. Defaults to no arch enforcement\n"
            "  -h, --help                     Print help\n");
  EXPECT_EQ(run_line({"key", "pubkey", "--help"}).out,
            "Print the public key of an identity JSON file (hex)\n"
            "\n"
            "Usage: sarn-runtime-bundle key pubkey [OPTIONS] --identity <IDENTITY>\n"
            "\n"
            "Options:\n"
            "  --identity <IDENTITY>\n"
            "  -h, --help             Print help\n");
}

// COLUMNS sets the width when it is a positive number; anything else leaves 80 columns.
TEST(CommandLine, ColumnsSetsTheWidthOnlyWhenPositive) {
  const std::string at_80 = run_line({"build", "--help"}, std::nullopt).out;
  const std::string at_120 = run_line({"build", "--help"}, "120").out;
  EXPECT_NE(at_80, at_120);
  for (const char* ignored : {"", "0", "-120", "120x", "wide"}) {
    SCOPED_TRACE(ignored);
    EXPECT_EQ(run_line({"build", "--help"}, ignored).out, at_80);
  }
  // Layout only: what a command prints does not change with the width.
  EXPECT_EQ(run_line({"path", "--system", "--version", "1.0"}, "5").out,
            "/usr/lib/sarn-runtime/1.0\n");
}

// Standard output on a device that refuses every write for want of space.
struct FullDevice {
  FullDevice() : fd(::open("/dev/full", O_WRONLY | O_CLOEXEC)), out(fd.get()) {}
  UniqueFd fd;
  Output out;
};

// Output that cannot be written is reported once on stderr, in the failure-line form, status 1.
TEST(CommandLine, WriteFailureOnStdoutIsOneErrorLine) {
  const std::string full = "write error: No space left on device (os error 28)\n";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--help"}, "sarn-runtime-bundle: " + full},
      {{"help"}, "sarn-runtime-bundle: " + full},
      {{"help", "key"}, "sarn-runtime-bundle key: " + full},
      {{"build", "-h"}, "sarn-runtime-bundle build: " + full},
      {{"key", "generate", "--help"}, "sarn-runtime-bundle key generate: " + full},
      {{"path", "--system", "--version", "1.0"}, "sarn-runtime-bundle path: " + full},
  };
  for (const auto& [args, line] : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    FullDevice device;
    std::string err_text;
    Output err(err_text);
    EXPECT_EQ(run_with_streams(args, device.out, err), 1);
    EXPECT_EQ(err_text, line);
  }
  // Nothing goes to stdout on a rejected command line, so nothing fails there.
  FullDevice device;
  std::string err_text;
  Output err(err_text);
  EXPECT_EQ(run_with_streams({"biuld"}, device.out, err), 2);
  EXPECT_TRUE(err_text.starts_with("error: the subcommand 'biuld' wasn't recognized\n"));
}

// A usage error leaves the binary with status 2 as it leaves run().
TEST(CommandLine, BinaryRejectsAUsageErrorWithStatus2) {
  const ProcessResult rejected = run_tool({"path", "--version", "--system"});
  EXPECT_EQ(rejected.status, 2);
  EXPECT_EQ(rejected.out, "");
  EXPECT_EQ(first_line(rejected.err),
            "error: a value is required for '--version' but none was supplied");
}

// The write failure above, through the binary on a real full device.
TEST(CommandLine, BinaryReportsAFullDevice) {
  const std::string full = "write error: No space left on device (os error 28)\n";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--help"}, "sarn-runtime-bundle: " + full},
      {{"path", "--system", "--version", "1.0"}, "sarn-runtime-bundle path: " + full},
  };
  RunOptions on_full_device;
  on_full_device.stdout_file = "/dev/full";
  for (const auto& [args, line] : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    const ProcessResult r = run_tool(args, on_full_device);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, line);
  }
}

// A closed pipe ends the binary by SIGPIPE, silently, as `| head` expects. The pipe's reader is
// gone before the tool starts, so nothing depends on when it writes.
TEST(CommandLine, BinaryDiesQuietlyOnAClosedPipe) {
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  ::close(ends[0]);
  RunOptions no_reader;
  no_reader.stdout_fd = ends[1];
  const ProcessResult piped = run_tool({"--help"}, no_reader);
  ::close(ends[1]);
  EXPECT_EQ(piped.status, 128 + SIGPIPE);
  EXPECT_EQ(piped.err, "");
}

}  // namespace
}  // namespace srb::test
