// End-to-end checks of the command line: statuses and streams of the binary itself.

#include <gtest/gtest.h>

#include <algorithm>

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

struct UsageCase {
  std::vector<std::string> args;
  std::string error;  // the first line
  std::string usage;  // the usage line of the command concerned
};

// Every rejected command line ends with status 2, prints nothing on stdout, and explains itself
// on stderr in the command's own terms.
TEST(CommandLine, RejectsBadCommandLinesWithStatus2) {
  const std::string build =
      "Usage: sarn-runtime-bundle build [OPTIONS] --version VERSION --out OUT";
  const std::string verify = "Usage: sarn-runtime-bundle verify [OPTIONS] DIR";
  const std::string path = "Usage: sarn-runtime-bundle path [OPTIONS] --version VERSION";
  const std::string top = "Usage: sarn-runtime-bundle [OPTIONS] SUBCOMMAND";
  const std::string key = "Usage: sarn-runtime-bundle key [OPTIONS] SUBCOMMAND";
  const UsageCase cases[] = {
      {{"build", "--out", "o"},
       "error: the following required argument was not provided: version",
       build},
      {{"path"}, "error: the following required argument was not provided: version", path},
      {{"verify"}, "error: the following required argument was not provided: dir", verify},
      {{"key", "generate"},
       "error: the following required argument was not provided: out",
       "Usage: sarn-runtime-bundle key generate [OPTIONS] --out OUT"},
      {{"key", "pubkey"},
       "error: the following required argument was not provided: identity",
       "Usage: sarn-runtime-bundle key pubkey [OPTIONS] --identity IDENTITY"},
      {{"build", "1.0", "--out", "o"}, "error: unexpected argument '1.0' found", build},
      {{"path", "--version", "1", "--system", "extra"},
       "error: unexpected argument 'extra' found",
       path},
      {{"verify", "a", "--require-signature", "b"}, "error: unexpected argument 'b' found", verify},
      {{"--version", "1"}, "error: unexpected argument '--version' found", top},
      {{"path", "--version", "1", "--system=x"},
       "error: the flag '--system' does not take a value",
       path},
      {{"path", "--version", "1", "--system=true"},
       "error: the flag '--system' does not take a value",
       path},
      {{"verify", "d", "--require-signature="},
       "error: the flag '--require-signature' does not take a value",
       verify},
      {{"build", "--version", "1", "--out"},
       "error: a value is required for '--out' but none was supplied",
       build},
      {{"build", "--version", "1", "--out", ""},
       "error: a value is required for '--out' but none was supplied",
       build},
      {{"build", "--version", "1", "--out", "o", "--from="},
       "error: a value is required for '--from' but none was supplied",
       build},
      {{"build", "--version", "1", "--out", "o", "--identity", ""},
       "error: a value is required for '--identity' but none was supplied",
       build},
      {{"build", "--version", "1", "--out", "o", "--include", "a", "--include", ""},
       "error: a value is required for '--include' but none was supplied",
       build},
      {{"verify", ""}, "error: a value is required for 'DIR' but none was supplied", verify},
      {{"key", "generate", "--out="},
       "error: a value is required for '--out' but none was supplied",
       "Usage: sarn-runtime-bundle key generate [OPTIONS] --out OUT"},
      {{"build", "--version", "1", "--out", "a", "--out", "b"},
       "error: the argument '--out' cannot be used multiple times",
       build},
      {{"path", "--version", "1", "--system", "--system"},
       "error: the argument '--system' cannot be used multiple times",
       path},
      {{"build", "--version", "1\xFF", "--out", "o"},
       "error: invalid UTF-8 was detected in the value of '--version'",
       build},
      {{"build", "--version", "1", "--out", "o", "--arch", "x\xC0"},
       "error: invalid UTF-8 was detected in the value of '--arch'",
       build},
      {{"verify", "d", "--require-publisher", "\xED\xA0\x80"},
       "error: invalid UTF-8 was detected in the value of '--require-publisher'",
       verify},
      {{"verify", "d", "--require-arch=\xE2\x80"},
       "error: invalid UTF-8 was detected in the value of '--require-arch'",
       verify},
      {{"path", "--version", "\xFF"},
       "error: invalid UTF-8 was detected in the value of '--version'",
       path},
      {{"biuld"}, "error: the subcommand 'biuld' wasn't recognized", top},
      {{"key", "pubky"}, "error: the subcommand 'pubky' wasn't recognized", key},
      {{"help", "nope"}, "error: the subcommand 'nope' wasn't recognized", top},
      {{"help", "key", "genrate"}, "error: the subcommand 'genrate' wasn't recognized", key},
      {{"path", "--sytem", "--version", "1"}, "error: unexpected argument '--sytem' found", path},
      {{"--"}, "error: a subcommand is required but one was not provided", top},
  };
  for (const UsageCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const ProcessResult r = run_tool(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    const std::vector<std::string> lines = lines_of(r.err);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), c.error);
    EXPECT_NE(std::find(lines.begin(), lines.end(), c.usage), lines.end()) << r.err;
    EXPECT_TRUE(r.err.ends_with(kHint)) << r.err;
  }
}

TEST(CommandLine, SuggestsSimilarNames) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"biuld"}, "  tip: did you mean 'build'?"},
      {{"key", "genrate", "--out", "x"}, "  tip: did you mean 'generate'?"},
      {{"help", "verfy"}, "  tip: did you mean 'verify'?"},
      {{"verify", "d", "--require-arc", "x86_64"}, "  tip: did you mean '--require-arch'?"},
      {{"build", "--verison=1", "--out", "o"}, "  tip: did you mean '--version'?"},
  };
  for (const auto& [args, tip] : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    const std::vector<std::string> lines = lines_of(run_tool(args).err);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], tip);
  }
  EXPECT_EQ(run_tool({"zzz"}).err.find("tip:"), std::string::npos);
}

// A bare call of a command that needs a subcommand shows its help, but as a failure.
TEST(CommandLine, BareCallShowsHelpOnStderrWithStatus2) {
  const ProcessResult top = run_tool({});
  const ProcessResult top_help = run_tool({"--help"});
  EXPECT_EQ(top.status, 2);
  EXPECT_EQ(top.out, "");
  EXPECT_EQ(top_help.status, 0);
  EXPECT_EQ(top_help.err, "");
  EXPECT_EQ(top.err, top_help.out);
  EXPECT_TRUE(top.err.starts_with("Produce and verify Sarn runtime bundles.\n")) << top.err;

  const ProcessResult key = run_tool({"key"});
  EXPECT_EQ(key.status, 2);
  EXPECT_EQ(key.out, "");
  EXPECT_EQ(key.err, run_tool({"key", "--help"}).out);
  EXPECT_TRUE(key.err.starts_with("Signing-key utilities\n")) << key.err;
}

// Every way of asking for help prints that command's screen on stdout with status 0.
TEST(CommandLine, HelpRequestsPrintTheNamedCommand) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"-h"}, "Produce and verify Sarn runtime bundles."},
      {{"help"}, "Produce and verify Sarn runtime bundles."},
      {{"help", "build"},
       "Copy the minimal loader + libc set from the host into a content-addressed bundle "
       "directory"},
      {{"verify", "-h"},
       "Verify an existing bundle by recomputing hashes (and, when signed, checking the "
       "signature)"},
      {{"path", "--version", "1", "--help"}, "Print the resolved bundle path for a given version"},
      {{"help", "key"}, "Signing-key utilities"},
      {{"key", "help"}, "Signing-key utilities"},
      {{"help", "key", "pubkey"}, "Print the public key of an identity JSON file (hex)"},
      {{"key", "help", "pubkey"}, "Print the public key of an identity JSON file (hex)"},
      {{"key", "generate", "--help"}, "Write a fresh signing identity JSON file to `--out`"},
  };
  for (const auto& [args, description] : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    const ProcessResult r = run_tool(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(r.out.starts_with(description + "\n")) << r.out;
  }
  EXPECT_EQ(run_tool({"help", "key", "pubkey"}).out, run_tool({"key", "pubkey", "--help"}).out);
}

struct HelpLine {
  std::vector<std::string> args;
  std::string name;  // the start of the line, after two spaces
  std::string text;  // the end of the same line
};

// Each help text appears whole, on its argument's own line, never wrapped.
TEST(CommandLine, HelpShowsEveryTextVerbatim) {
  const std::string help_command = "Print this message or the help of the given subcommand(s)";
  const HelpLine cases[] = {
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
      {{"--help"}, "-h,--help", "Print help"},
      {{"key", "--help"}, "generate", "Write a fresh signing identity JSON file to `--out`"},
      {{"key", "--help"}, "pubkey", "Print the public key of an identity JSON file (hex)"},
      {{"key", "--help"}, "help", help_command},
      {{"key", "--help"}, "-h,--help", "Print help"},
      {{"build", "--help"},
       "--version VERSION",
       "Bundle version tag. Written into `bundle.toml` and used by the launcher to match "
       "`runtime = \"sarn-runtime/<version>\"` in package manifests"},
      {{"build", "--help"}, "--out OUT", "Output directory. Created if missing"},
      {{"build", "--help"},
       "--from FROM",
       "Host root to resolve source paths against. Defaults to `/`"},
      {{"build", "--help"},
       "--arch ARCH",
       "Target architecture. Defaults to the host arch (`std::env::consts::ARCH`). Explicit "
       "override lets you build a cross-arch bundle from a fabricated rootfs (e.g. an aarch64 "
       "sysroot on an `x86_64` CI runner)"},
      {{"build", "--help"},
       "--identity IDENTITY",
       "Path to an identity JSON file for signing the bundle. Format: `{ \"secret_key_hex\": "
       "\"<64-hex>\" }`. When set, the finished `bundle.toml` gains `publisher_hex` + "
       "`signature_hex`. Same shape as `sarn-pkg`'s identity files"},
      {{"build", "--help"},
       "--include PATH",
       "Extra shared object to place at the top of the bundle's `lib/` (repeatable). Use it to "
       "fold the Rust `libstd-<hash>.so` and the Sarn `libhostshim_dylib.so` into the bundle so "
       "thin (`-C prefer-dynamic`) apps resolve them via the launcher's "
       "`LD_LIBRARY_PATH=<mount>/lib`. Each is hashed + signed like every other bundle file"},
      {{"build", "--help"}, "-h,--help", "Print help"},
      {{"verify", "--help"}, "DIR", "Path to the bundle root (contains `bundle.toml`)"},
      {{"verify", "--help"},
       "--require-publisher REQUIRE_PUBLISHER",
       "If set, refuse the bundle unless it is signed by this exact publisher (Ed25519 public "
       "key, hex-encoded)"},
      {{"verify", "--help"}, "--require-signature", "If set, refuse an unsigned bundle"},
      {{"verify", "--help"},
       "--require-arch REQUIRE_ARCH",
       "If set, refuse a bundle whose declared `arch` differs. Defaults to no arch enforcement"},
      {{"path", "--help"}, "--version VERSION", "Runtime version tag"},
      {{"path", "--help"},
       "--system",
       "Print the system fallback (`/usr/lib/sarn-runtime/<v>/`) even if no bundle is installed "
       "there"},
      {{"key", "generate", "--help"}, "-h,--help", "Print help"},
      {{"key", "pubkey", "--help"}, "-h,--help", "Print help"},
      {{"help", "--help"}, "-h,--help", "Print help"},
  };
  for (const HelpLine& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args) + " " + c.name);
    const ProcessResult r = run_tool(c.args);
    const std::vector<std::string> lines = lines_of(r.out);
    const bool found = std::any_of(lines.begin(), lines.end(), [&c](const std::string& line) {
      return line.starts_with("  " + c.name + " ") && line.ends_with(" " + c.text);
    });
    EXPECT_TRUE(found) << r.out;
  }
}

// Options in declaration order, help last; subcommands in the order the tool lists them.
TEST(CommandLine, HelpListsArgumentsInDeclarationOrder) {
  const std::pair<std::vector<std::string>, std::vector<std::string>> cases[] = {
      {{"build", "--help"},
       {"--version", "--out", "--from", "--arch", "--identity", "--include", "-h,--help"}},
      {{"verify", "--help"},
       {"DIR", "--require-publisher", "--require-signature", "--require-arch", "-h,--help"}},
      {{"--help"}, {"-h,--help", "build", "verify", "path", "key", "help"}},
      {{"key", "--help"}, {"-h,--help", "generate", "pubkey", "help"}},
  };
  for (const auto& [args, names] : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    std::vector<std::string> listed;
    for (const std::string& line : lines_of(run_tool(args).out)) {
      if (line.starts_with("  ")) listed.push_back(line.substr(2, line.find(' ', 2) - 2));
    }
    EXPECT_EQ(listed, names);
  }
}

// Output that cannot be written is not success, for help as for a command.
TEST(CommandLine, UnwritableStdoutIsNotSuccess) {
  RunOptions full;
  full.stdout_file = "/dev/full";
  EXPECT_NE(run_tool({"--help"}, full).status, 0);

  const std::vector<std::string> path = {"path", "--system", "--version", "1.0"};
  const ProcessResult written = run_tool(path);
  ASSERT_EQ(written.status, 0) << written.err;
  EXPECT_EQ(written.out, "/usr/lib/sarn-runtime/1.0\n");
  EXPECT_NE(run_tool(path, full).status, 0);
}

}  // namespace
}  // namespace srb::test
