#include "cli/command_line.hpp"

#include <gtest/gtest.h>

namespace srb {
namespace {

struct Parsed {
  std::variant<Cli, ParseExit> result;
  std::string out;
  std::string err;
};

Parsed parse(std::vector<std::string> args) {
  args.insert(args.begin(), "/usr/bin/sarn-runtime-bundle");
  Parsed parsed{.result = {}, .out = {}, .err = {}};
  Output out(parsed.out), err(parsed.err);
  parsed.result = parse_command_line(args, out, err);
  return parsed;
}

// The command record of a successful parse; fails the test when parsing stopped.
template <typename Command>
Command parsed_command(const std::vector<std::string>& args) {
  const Parsed p = parse(args);
  EXPECT_EQ(p.err, "");
  EXPECT_EQ(p.out, "");
  const Cli* cli = std::get_if<Cli>(&p.result);
  if (cli == nullptr) {
    ADD_FAILURE() << "parsing stopped: " << p.err;
    return {};
  }
  if constexpr (std::is_same_v<Command, Generate> || std::is_same_v<Command, Pubkey>) {
    const Key* key = std::get_if<Key>(&cli->command);
    if (key != nullptr && std::holds_alternative<Command>(key->command))
      return std::get<Command>(key->command);
  } else if (std::holds_alternative<Command>(cli->command)) {
    return std::get<Command>(cli->command);
  }
  ADD_FAILURE() << "another command was parsed";
  return {};
}

using Texts = std::vector<std::string>;

TEST(ParseCommandLine, BuildTakesEveryFieldAndIncludesInOrder) {
  const Build b = parsed_command<Build>(
      {"build", "--include", "/z/libz.so", "--version", "1.0", "--out", "/tmp/b", "--from", "/root",
       "--arch", "aarch64", "--identity", "id.json", "--include=/a/liba.so", "--include",
       "/lib/[a,b].so", "--include", "/lib/\xFF.so"});
  EXPECT_EQ(b.version, "1.0");
  EXPECT_EQ(b.out, "/tmp/b");
  EXPECT_EQ(b.from, std::filesystem::path("/root"));
  EXPECT_EQ(b.arch, "aarch64");
  EXPECT_EQ(b.identity, std::filesystem::path("id.json"));
  // A value that looks like a list stays one path.
  EXPECT_EQ(b.include, (Texts{"/z/libz.so", "/a/liba.so", "/lib/[a,b].so", "/lib/\xFF.so"}));
}

TEST(ParseCommandLine, BuildLeavesAbsentOptionsEmpty) {
  const Build b = parsed_command<Build>({"build", "--out", "rel/out", "--version", "2"});
  EXPECT_EQ(b.version, "2");
  EXPECT_EQ(b.out, "rel/out");
  EXPECT_EQ(b.from, std::nullopt);
  EXPECT_EQ(b.arch, std::nullopt);
  EXPECT_EQ(b.identity, std::nullopt);
  EXPECT_TRUE(b.include.empty());
}

// Empty texts are values like any other, whether given apart or after "=".
TEST(ParseCommandLine, EmptyTextValuesArePresent) {
  const Build spaced =
      parsed_command<Build>({"build", "--version", "", "--arch", "", "--out", "o"});
  EXPECT_EQ(spaced.version, "");
  EXPECT_EQ(spaced.arch, "");
  const Build joined = parsed_command<Build>({"build", "--version=", "--arch=", "--out=o"});
  EXPECT_EQ(joined.version, "");
  EXPECT_EQ(joined.arch, "");
  EXPECT_EQ(joined.out, "o");
  const Verify v =
      parsed_command<Verify>({"verify", "d", "--require-publisher=", "--require-arch", ""});
  EXPECT_EQ(v.require_publisher, "");
  EXPECT_EQ(v.require_arch, "");
}

TEST(ParseCommandLine, PathArgumentsKeepRawBytes) {
  const Build b = parsed_command<Build>({"build", "--version", "1", "--out", "/o\xFF", "--from",
                                         "/r\xC0", "--identity", "/i\xED\xA0\x80"});
  EXPECT_EQ(b.out.native(), "/o\xFF");
  EXPECT_EQ(b.from->native(), "/r\xC0");
  EXPECT_EQ(b.identity->native(), "/i\xED\xA0\x80");
  EXPECT_EQ(parsed_command<Verify>({"verify", "/d\xFE"}).dir.native(), "/d\xFE");
  EXPECT_EQ(parsed_command<Generate>({"key", "generate", "--out", "\xFF"}).out.native(), "\xFF");
  EXPECT_EQ(parsed_command<Pubkey>({"key", "pubkey", "--identity", "\xFF"}).identity.native(),
            "\xFF");
}

TEST(ParseCommandLine, VerifyTakesDirectoryAndRequirements) {
  const Verify full = parsed_command<Verify>({"verify", "--require-signature", "--require-arch",
                                              "x86_64", "/b", "--require-publisher", "ab12"});
  EXPECT_EQ(full.dir, "/b");
  EXPECT_EQ(full.require_publisher, "ab12");
  EXPECT_TRUE(full.require_signature);
  EXPECT_EQ(full.require_arch, "x86_64");

  const Verify bare = parsed_command<Verify>({"verify", "/b"});
  EXPECT_EQ(bare.require_publisher, std::nullopt);
  EXPECT_FALSE(bare.require_signature);
  EXPECT_EQ(bare.require_arch, std::nullopt);

  // A flag takes no value, so the word after it is the directory.
  EXPECT_EQ(parsed_command<Verify>({"verify", "--require-signature", "x"}).dir, "x");
  EXPECT_EQ(parsed_command<Verify>({"verify", "--", "--b"}).dir, "--b");
  // A subcommand's name is an ordinary directory name here.
  EXPECT_EQ(parsed_command<Verify>({"verify", "build"}).dir, "build");
}

TEST(ParseCommandLine, PathAndKeyCommands) {
  const Path plain = parsed_command<Path>({"path", "--version", "1.0"});
  EXPECT_EQ(plain.version, "1.0");
  EXPECT_FALSE(plain.system);
  EXPECT_TRUE(parsed_command<Path>({"path", "--system", "--version", "1.0"}).system);
  EXPECT_EQ(parsed_command<Generate>({"key", "generate", "--out", "id.json"}).out, "id.json");
  EXPECT_EQ(parsed_command<Pubkey>({"key", "pubkey", "--identity", "id.json"}).identity, "id.json");
}

// The layout every usage error shares, with and without a suggestion.
TEST(ParseCommandLine, UsageErrorNamesProblemUsageAndHint) {
  const Parsed typo = parse({"build", "--version", "1", "--otu", "x"});
  EXPECT_EQ(std::get<ParseExit>(typo.result).status, 2);
  EXPECT_EQ(typo.out, "");
  EXPECT_EQ(typo.err,
            "error: unexpected argument '--otu' found\n"
            "  tip: did you mean '--out'?\n"
            "\n"
            "Usage: sarn-runtime-bundle build [OPTIONS] --version <VERSION> --out <OUT>\n"
            "\n"
            "For more information, try '--help'.\n");

  const Parsed missing = parse({"key", "pubkey"});
  EXPECT_EQ(std::get<ParseExit>(missing.result).status, 2);
  EXPECT_EQ(missing.err,
            "error: the following required argument was not provided: --identity <IDENTITY>\n"
            "\n"
            "Usage: sarn-runtime-bundle key pubkey [OPTIONS] --identity <IDENTITY>\n"
            "\n"
            "For more information, try '--help'.\n");
}

// A value that starts with a dash is given after "=", or as "-" alone, or after "--".
TEST(ParseCommandLine, DashedValuesGoAfterEqualsOrDoubleDash) {
  const Build b = parsed_command<Build>({"build", "--version=-1", "--out=--o", "--arch=-",
                                         "--include", "-", "--include=-h", "--from", "-"});
  EXPECT_EQ(b.version, "-1");
  EXPECT_EQ(b.out, "--o");
  EXPECT_EQ(b.arch, "-");
  EXPECT_EQ(b.from, std::filesystem::path("-"));
  EXPECT_EQ(b.include, (Texts{"-", "-h"}));
  EXPECT_EQ(parsed_command<Verify>({"verify", "--", "-dir"}).dir, "-dir");
  EXPECT_EQ(parsed_command<Verify>({"verify", "--require-signature", "--", "--help"}).dir,
            "--help");
  const Verify v = parsed_command<Verify>({"verify", "--require-arch", "-", "-"});
  EXPECT_EQ(v.require_arch, "-");
  EXPECT_EQ(v.dir, "-");
  // Only the first "--" ends the options; a second is a word.
  EXPECT_EQ(parsed_command<Verify>({"verify", "--", "--"}).dir, "--");
  EXPECT_EQ(parsed_command<Path>({"path", "--version=--system"}).version, "--system");
  EXPECT_EQ(parsed_command<Generate>({"key", "generate", "--out=-"}).out, "-");
}

// Names of subcommands and options are values like any other where a value is expected.
TEST(ParseCommandLine, WordsThatAreNamesElsewhereAreValues) {
  EXPECT_EQ(parsed_command<Path>({"path", "--version", "help"}).version, "help");
  EXPECT_EQ(parsed_command<Build>({"build", "--version", "key", "--out", "build"}).out, "build");
  EXPECT_EQ(parsed_command<Pubkey>({"key", "pubkey", "--identity", "generate"}).identity,
            "generate");
}

TEST(ParseCommandLine, HelpScreenOfSubcommand) {
  const Parsed p = parse({"key", "generate", "--help"});
  EXPECT_EQ(std::get<ParseExit>(p.result).status, 0);
  EXPECT_EQ(std::get<ParseExit>(p.result).command, "key generate");
  EXPECT_EQ(p.err, "");
  EXPECT_EQ(p.out,
            "Write a fresh signing identity JSON file to `--out`\n"
            "\n"
            "Usage: sarn-runtime-bundle key generate [OPTIONS] --out <OUT>\n"
            "\n"
            "Options:\n"
            "  --out <OUT>\n"
            "  -h, --help   Print help\n");
}

// Each command line becomes the record of its command, which names the command by its words.
TEST(ParseCommandLine, RecordsNameTheCommandParsed) {
  const struct {
    std::vector<std::string> args;
    CommandId id;
    std::string words;
  } cases[] = {
      {{"build", "--version", "1", "--out", "o"}, CommandId::build, "build"},
      {{"verify", "d"}, CommandId::verify, "verify"},
      {{"path", "--version", "1"}, CommandId::path, "path"},
      {{"key", "generate", "--out", "o"}, CommandId::key_generate, "key generate"},
      {{"key", "pubkey", "--identity", "i"}, CommandId::key_pubkey, "key pubkey"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.words);
    const Parsed p = parse(c.args);
    const Cli* cli = std::get_if<Cli>(&p.result);
    ASSERT_NE(cli, nullptr) << p.err;
    EXPECT_EQ(command_id(*cli), c.id);
    EXPECT_EQ(command_words(c.id), c.words);
  }
}

// The usage line names the program as it was called.
TEST(ParseCommandLine, UsageNamesTheProgramAsCalled) {
  std::string out_text, err_text;
  Output out(out_text), err(err_text);
  const std::vector<std::string> args = {"/opt/bin/srb", "path"};
  parse_command_line(args, out, err);
  EXPECT_NE(err_text.find("\nUsage: srb path [OPTIONS] --version <VERSION>\n"), std::string::npos)
      << err_text;
}

}  // namespace
}  // namespace srb
