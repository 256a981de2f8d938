// End-to-end tests of `key generate` and `key pubkey`: the built binary writing identities into a
// scratch directory, and reading hand-written ones.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "core/unique_fd.hpp"
#include "tests/support/process.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb::test {
namespace {

namespace fs = std::filesystem;

// RFC 8032's TEST 1 secret key and its public key.
constexpr std::string_view kSeedHex =
    "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60";
constexpr std::string_view kPublicHex =
    "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a";

mode_t mode_of(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
  return status.st_mode & 07777;
}

// Runs `key generate --out out`, checks its two lines and the file it wrote, and returns the
// printed public key.
std::string generate(const std::string& out, const fs::path& written, const RunOptions& options) {
  const ProcessResult result = run_tool({"key", "generate", "--out", out}, options);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  std::smatch match;
  const std::regex lines("wrote identity to (.*)\npublic-key: ed25519:([0-9a-f]{64})\n");
  if (!std::regex_match(result.out, match, lines)) {
    ADD_FAILURE() << result.out;
    return "";
  }
  EXPECT_EQ(match[1], out);
  const std::string text = read_file(written);
  EXPECT_TRUE(std::regex_match(text, std::regex("\\{\"secret_key_hex\":\"[0-9a-f]{64}\"\\}\n")))
      << text;
  EXPECT_EQ(text.size(), 86u);
  EXPECT_EQ(mode_of(written), 0600);
  return match[2];
}

// What key generate prints when it will not write the secret to `out`.
std::string refusal_of(const fs::path& out) {
  return "sarn-runtime-bundle key generate: refusing to write a secret to a file owned by "
         "another user: " +
         out.string() + "\n";
}

ProcessResult pubkey(const fs::path& identity) {
  return run_tool({"key", "pubkey", "--identity", identity.string()});
}

TEST(KeyCommand, GenerateWritesAnOwnerOnlyIdentityThatPubkeyReads) {
  struct Case {
    const char* name;
    mode_t umask;
    const char* existing;  // content of a file already at the path, with mode 0644
  };
  const Case cases[] = {
      {"usual umask", 022, nullptr},
      {"umask 0", 0, nullptr},
      {"over an existing 0644 file", 0,
       "an old identity, longer than the new one ...............\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TempDir temp;
    const fs::path out = temp / "missing" / "deeper" / "id.json";
    if (c.existing) write_file(out, std::string(c.existing) + std::string(100, 'x'), 0644);
    RunOptions options;
    options.umask = c.umask;
    const std::string public_hex = generate(out.string(), out, options);
    if (!c.existing) {
      // New directories get 0777 less the umask.
      EXPECT_EQ(mode_of(temp / "missing"), 0777 & ~c.umask);
      EXPECT_EQ(mode_of(temp / "missing" / "deeper"), 0777 & ~c.umask);
    }
    const ProcessResult read = pubkey(out);
    EXPECT_EQ(read.status, 0);
    EXPECT_EQ(read.out, public_hex + "\n");
    EXPECT_EQ(read.err, "");
  }
}

TEST(KeyCommand, GenerateAgainReplacesTheIdentity) {
  const TempDir temp;
  RunOptions in_temp;
  in_temp.cwd = temp.path();
  // A relative path is printed as typed.
  const std::string first = generate("id.json", temp / "id.json", in_temp);
  const std::string second = generate("id.json", temp / "id.json", in_temp);
  EXPECT_NE(first, second);
  EXPECT_EQ(pubkey(temp / "id.json").out, second + "\n");
}

TEST(KeyCommand, GenerateFailuresPrintTheBareSystemError) {
  const TempDir temp;
  write_file(temp / "file", "not a directory");
  fs::create_directory(temp / "dir");
  struct Case {
    fs::path out;
    std::string error;
  };
  const Case cases[] = {
      {temp / "file" / "id.json", "Not a directory (os error 20)"},
      {temp / "file" / "sub" / "id.json", "Not a directory (os error 20)"},
      {temp / "dir", "Is a directory (os error 21)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.out);
    const ProcessResult result = run_tool({"key", "generate", "--out", c.out.string()});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "sarn-runtime-bundle key generate: " + c.error + "\n");
  }
  EXPECT_EQ(read_file(temp / "file"), "not a directory");
}

// A file the user may write but not chmod (another owner's 0666 file) would leave the secret
// readable by everyone; generate refuses before it touches the old content.
TEST(KeyCommand, GenerateRefusesAFileItCannotRestrict) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the file another owner";
  const TempDir temp;
  fs::permissions(temp.path(), fs::perms(0777));
  const fs::path out = temp / "shared.json";
  write_file(out, "old content", 0666);
  ASSERT_EQ(::chmod(out.c_str(), 0666), 0);
  const ProcessResult result =
      run_tool({"key", "generate", "--out", out.string()}, as_other_user());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "sarn-runtime-bundle key generate: Operation not permitted (os error 1)\n");
  EXPECT_EQ(read_file(out), "old content");
}

// Root writing the secret where another user prepared the path: into their file (they keep
// reading it), through their link (they chose the target) or into their FIFO (they read it, and
// the open would wait for them). Each is refused before anything is written or truncated.
TEST(KeyCommand, GenerateRefusesAPathAnotherUserPrepared) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to meet another user's files";
  const TempDir temp;
  fs::permissions(temp.path(), fs::perms(01777));  // like /tmp: everyone may add entries
  const fs::path out = temp / "id.json";
  const fs::path victim = temp / "victim";
  const fs::path created = temp / "created";
  const struct {
    const char* name;
    std::string prepare;  // shell commands run as nobody
  } cases[] = {
      {"their 0666 file", "printf old > " + out.string() + " && chmod 666 " + out.string()},
      {"their link to root's file", "ln -s " + victim.string() + " " + out.string()},
      {"their dangling link", "ln -s " + created.string() + " " + out.string()},
      {"their FIFO", "mkfifo -m 666 " + out.string()},
  };
  RunOptions as_nobody;
  as_nobody.uid = as_nobody.gid = 65534;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(victim, "root's own\n", 0600);
    ASSERT_EQ(run_process({"sh", "-c", c.prepare}, as_nobody).status, 0);
    struct stat before {};
    ASSERT_EQ(::lstat(out.c_str(), &before), 0);

    const ProcessResult result = run_process(
        {"timeout", "20", tool_path().string(), "key", "generate", "--out", out.string()});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, refusal_of(out));
    struct stat after {};
    ASSERT_EQ(::lstat(out.c_str(), &after), 0);
    EXPECT_EQ(after.st_uid, 65534u);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_size, before.st_size);
    EXPECT_EQ(read_file(victim), "root's own\n");
    EXPECT_FALSE(fs::exists(created));
    fs::remove(out);
  }
}

// Root's own link is followed as before, and a pipe the process was handed stays usable whoever
// made it: under sudo, /dev/stdout is a pipe of the invoking user.
TEST(KeyCommand, GenerateWritesThroughItsOwnLinkAndAHeldPipe) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to be handed another user's pipe";
  const TempDir temp;
  fs::create_symlink(temp / "target.json", temp / "link.json");
  generate((temp / "link.json").string(), temp / "target.json", {});

  ASSERT_EQ(::setfsuid(65534), 0);
  int ends[2];
  const int made = ::pipe2(ends, O_CLOEXEC);
  ::setfsuid(0);
  ASSERT_EQ(made, 0);
  struct stat pipe_status {};
  ASSERT_EQ(::fstat(ends[1], &pipe_status), 0);
  ASSERT_EQ(pipe_status.st_uid, 65534u);
  RunOptions into_pipe;
  into_pipe.stdout_file = "/proc/self/fd/" + std::to_string(ends[1]);
  const ProcessResult result = run_process(
      {"timeout", "20", tool_path().string(), "key", "generate", "--out", "/dev/stdout"},
      into_pipe);
  ::close(ends[1]);
  std::string written(4096, '\0');
  const ssize_t n = ::read(ends[0], written.data(), written.size());
  ::close(ends[0]);
  written.resize(static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(std::regex_match(
      written, std::regex("\\{\"secret_key_hex\":\"[0-9a-f]{64}\"\\}\n"
                          "wrote identity to /dev/stdout\npublic-key: ed25519:[0-9a-f]{64}\n")))
      << written;
}

// A root-owned file that another user moved to --out and holds open for reading (a bundle.toml
// root built in their directory, say) is replaced, never rewritten: their descriptor still
// reads the old bytes, and the identity is a new file.
TEST(KeyCommand, GenerateReplacesAFileAnotherUserHoldsOpen) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  const TempDir temp;
  const fs::path theirs = make_other_users_directory(temp.path());
  const fs::path manifest = theirs / "bundle.toml";
  const fs::path out = theirs / "id.json";
  write_file(manifest, "version = \"1\"\n", 0644);
  UniqueFd held;
  with_file_rights_of(kOtherUser, kOtherUser, [&] {
    held.reset(::open(manifest.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::rename(manifest.c_str(), out.c_str()), 0);
  });
  ASSERT_TRUE(held.is_open());

  generate(out.string(), out, {});
  std::string seen(4096, '\0');
  const ssize_t n = ::pread(held.get(), seen.data(), seen.size(), 0);
  seen.resize(static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
  EXPECT_EQ(seen, "version = \"1\"\n");
  struct stat old_file {};
  ASSERT_EQ(::fstat(held.get(), &old_file), 0);
  EXPECT_EQ(old_file.st_mode & 07777, 0644u);
  EXPECT_EQ(old_file.st_nlink, 0u);  // no longer at --out, nor anywhere
}

// A write that fails midway (here at the file-size limit, with SIGXFSZ ignored so the write
// fails instead of the process) leaves the old identity whole and no temporary file beside it.
TEST(KeyCommand, GenerateThatFailsKeepsTheOldIdentity) {
  const TempDir temp;
  const fs::path out = temp / "id.json";
  const std::string old_public = generate(out.string(), out, {});
  const ProcessResult result =
      run_process({"sh", "-c", "trap '' XFSZ; ulimit -f 0; exec \"$0\" key generate --out \"$1\"",
                   tool_path().string(), out.string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "sarn-runtime-bundle key generate: File too large (os error 27)\n");
  EXPECT_EQ(pubkey(out).out, old_public + "\n");
  EXPECT_EQ(names_in(temp.path()), std::vector<std::string>{"id.json"});
}

// The user's own link at --out, or a chain of them, leads to the file that is replaced; the
// links stay as they were, and another name for the old identity (a hard link) keeps it.
TEST(KeyCommand, GenerateReplacesTheTargetOfItsOwnLinks) {
  struct Link {
    const char* name;    // in the scratch directory
    const char* target;  // as written in the link; below the scratch directory when absolute
    bool absolute;
  };
  struct Case {
    const char* name;
    std::vector<Link> links;
  };
  const Case cases[] = {
      {"absolute link", {{"id.json", "keys/target.json", true}}},
      {"relative chain through a directory",
       {{"id.json", "keys/hop.json", false}, {"keys/hop.json", "target.json", false}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TempDir temp;
    write_file(temp / "keys" / "target.json", "old identity\n", 0600);
    fs::create_hard_link(temp / "keys" / "target.json", temp / "old.json");
    for (const Link& link : c.links)
      fs::create_symlink(link.absolute ? temp / link.target : fs::path(link.target),
                         temp / link.name);
    const fs::path out = temp / "id.json";
    const std::string public_hex = generate(out.string(), temp / "keys" / "target.json", {});
    EXPECT_EQ(pubkey(out).out, public_hex + "\n");
    for (const Link& link : c.links)
      EXPECT_TRUE(fs::is_symlink(temp / link.name)) << link.name;
    EXPECT_EQ(read_file(temp / "old.json"), "old identity\n");
  }
}

// Standard output redirected to a file is no stream: /dev/stdout leads to that file, which is
// replaced like any other and then holds the identity alone (the printed lines go to the file
// the redirection opened, which no longer has a name).
TEST(KeyCommand, GenerateToStandardOutputInAFileReplacesThatFile) {
  const TempDir temp;
  const fs::path file = temp / "id.json";
  write_file(file, "", 0644);
  RunOptions into_file;
  into_file.stdout_file = file;
  const ProcessResult result = run_tool({"key", "generate", "--out", "/dev/stdout"}, into_file);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(
      std::regex_match(read_file(file), std::regex("\\{\"secret_key_hex\":\"[0-9a-f]{64}\"\\}\n")));
  EXPECT_EQ(mode_of(file), 0600u);
}

// Root's own link is no licence for the link it points to: another user's link further on
// chose the target, so the secret is refused as at the first link.
TEST(KeyCommand, GenerateRefusesAnotherUsersLinkBehindItsOwn) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to meet another user's links";
  const TempDir temp;
  const fs::path theirs = make_other_users_directory(temp.path());
  write_file(temp / "victim", "root's own\n", 0600);
  with_file_rights_of(kOtherUser, kOtherUser, [&] {
    ASSERT_EQ(::symlink((temp / "victim").c_str(), (theirs / "link").c_str()), 0);
  });
  const fs::path out = temp / "id.json";
  fs::create_symlink(theirs / "link", out);

  const ProcessResult result = run_tool({"key", "generate", "--out", out.string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, refusal_of(out));
  EXPECT_EQ(read_file(temp / "victim"), "root's own\n");
  EXPECT_EQ(permissions_of(temp / "victim"), 0600u);
}

// A character device is written where it stands, directly or through a link, and stays a
// device: a null device swallows the identity, a full one fails with its own error. (Private
// device nodes, so a fault here cannot replace the system's /dev/null.)
TEST(KeyCommand, GenerateWritesADeviceWhereItStands) {
  const TempDir temp;
  if (!make_memory_device(temp / "null") || !make_memory_device(temp / "full", 7))
    GTEST_SKIP() << "cannot make device nodes here";
  fs::create_symlink(temp / "null", temp / "to-null");
  struct Case {
    const char* out;
    int status;
    std::string err;
  };
  const Case cases[] = {
      {"null", 0, ""},
      {"to-null", 0, ""},
      {"full", 1, "sarn-runtime-bundle key generate: No space left on device (os error 28)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.out);
    const ProcessResult result = run_tool({"key", "generate", "--out", (temp / c.out).string()});
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.out.starts_with("wrote identity to "), c.status == 0) << result.out;
  }
  EXPECT_EQ(names_in(temp.path()), (std::vector<std::string>{"full", "null", "to-null"}));
  for (const char* device : {"null", "full"}) {
    struct stat status {};
    ASSERT_EQ(::lstat((temp / device).c_str(), &status), 0);
    EXPECT_TRUE(S_ISCHR(status.st_mode)) << device;
  }
}

// An ordinary user's identity is replaced only where they could create a file, and not over a
// file they made read-only; both fail before anything changes.
TEST(KeyCommand, GenerateAsAnOrdinaryUserNeedsAWritableDirectoryAndFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to prepare another user's files";
  const TempDir temp;
  fs::permissions(temp.path(), fs::perms(0755));
  struct Case {
    const char* name;
    bool directory_is_theirs;
    mode_t file_mode;
  };
  const Case cases[] = {
      {"their file in root's directory", false, 0600},
      {"their read-only file", true, 0400},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path dir = temp / c.name;
    const fs::path out = dir / "id.json";
    write_file(out, "their old identity\n", c.file_mode);
    ASSERT_EQ(::chown(out.c_str(), kOtherUser, kOtherUser), 0);
    if (c.directory_is_theirs) {
      ASSERT_EQ(::chown(dir.c_str(), kOtherUser, kOtherUser), 0);
    }
    const ProcessResult result =
        run_tool({"key", "generate", "--out", out.string()}, as_other_user());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "sarn-runtime-bundle key generate: Permission denied (os error 13)\n");
    EXPECT_EQ(read_file(out), "their old identity\n");
    EXPECT_EQ(names_in(dir), std::vector<std::string>{"id.json"});
  }
}

TEST(KeyCommand, PubkeyReadsHandWrittenIdentities) {
  const TempDir temp;
  std::string upper(kSeedHex);
  for (char& c : upper)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string texts[] = {
      "{\n\t\"secret_key_hex\" : \"" + std::string(kSeedHex) + "\"\r\n}",
      "{\"secret_key_hex\":\"" + upper + "\"}",
      "{\"name\":\"ci\",\"secret_key_hex\":\"" + std::string(kSeedHex) + "\",\"n\":[1,{}]}",
      "[\"" + std::string(kSeedHex) + "\"]\n",
      // Skipped whatever it holds, even a lone surrogate that no string may decode to.
      "{\"a\":\"\\ud800\",\"secret_key_hex\":\"" + std::string(kSeedHex) + "\"}",
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    write_file(temp / "id.json", text, 0600);
    const ProcessResult result = pubkey(temp / "id.json");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, std::string(kPublicHex) + "\n");
    EXPECT_EQ(result.err, "");
  }
}

TEST(KeyCommand, PubkeyReportsIdentityProblems) {
  const TempDir temp;
  const std::string seed(kSeedHex);
  struct Case {
    const char* name;
    std::optional<std::string> content;  // absent: no file at all
    std::string detail;
  };
  const Case cases[] = {
      {"missing", std::nullopt, "No such file or directory (os error 2)"},
      {"not UTF-8", "{\"secret_key_hex\":\"\xFF\"}", "stream did not contain valid UTF-8"},
      {"number", "{\n  \"secret_key_hex\": 5\n}\n",
       "invalid type: integer `5`, expected a string at line 2 column 21"},
      {"missing member", "{\"secret\":\"" + seed + "\"}",
       "missing field `secret_key_hex` at line 1 column 77"},
      {"repeated member",
       "{\"secret_key_hex\":\"" + seed + "\",\"secret_key_hex\":\"" + seed + "\"}",
       "duplicate field `secret_key_hex` at line 1 column 101"},
      {"empty array", "[]",
       "invalid length 0, expected struct File with 1 element at line 1 column 2"},
      {"truncated", "{\"secret_key_hex\":\"" + seed,
       "EOF while parsing a string at line 1 column 83"},
      {"trailing", "{\"secret_key_hex\":\"" + seed + "\"}\n}",
       "trailing characters at line 2 column 1"},
      {"empty secret", "{\"secret_key_hex\":\"\"}",
       "secret_key_hex must decode to 32 bytes (got 0)"},
      {"33 bytes", "{\"secret_key_hex\":\"" + seed + "00\"}",
       "secret_key_hex must decode to 32 bytes (got 33)"},
      {"31 bytes", "{\"secret_key_hex\":\"" + seed.substr(2) + "\"}",
       "secret_key_hex must decode to 32 bytes (got 31)"},
      {"three digits", "{\"secret_key_hex\":\"abc\"}", "secret_key_hex: Odd number of digits"},
      {"bad digit", "{\"secret_key_hex\":\"" + seed.substr(0, 10) + "g" + seed.substr(11) + "\"}",
       "secret_key_hex: Invalid character 'g' at position 10"},
      // Digits are counted as characters: U+0085 makes 64 of them, U+00E9 63.
      {"64 characters", "{\"secret_key_hex\":\"" + seed.substr(1) + "\\u0085\"}",
       "secret_key_hex: Invalid character '\\u{85}' at position 63"},
      {"63 characters", "{\"secret_key_hex\":\"" + seed.substr(2) + "\u00e9\"}",
       "secret_key_hex: Odd number of digits"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path path = temp / (std::string(c.name) + ".json");
    if (c.content) write_file(path, *c.content, 0600);
    const ProcessResult result = pubkey(path);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "sarn-runtime-bundle key pubkey: identity file: " + c.detail + "\n");
  }
}

}  // namespace
}  // namespace srb::test
