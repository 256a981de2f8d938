// End-to-end tests of `key generate` and `key pubkey`: the built binary writing identities into a
// scratch directory, and reading hand-written ones.

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/unique_fd.hpp"
#include "tests/support/process.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/support/traced_process.hpp"

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

// A group ID without an entry in the group database that is nobody's primary group either: a
// group without members.
std::optional<gid_t> unused_gid() {
  for (gid_t gid : {54321u, 54322u, 61234u, 49999u}) {
    bool primary = false;
    ::setpwent();
    while (const struct passwd* user = ::getpwent())
      primary = primary || user->pw_gid == gid;
    ::endpwent();
    if (::getgrgid(gid) == nullptr && !primary) return gid;
  }
  return std::nullopt;
}

ProcessResult pubkey(const fs::path& identity) {
  return run_tool({"key", "pubkey", "--identity", identity.string()});
}

TEST(KeyCommand, GenerateWritesAnOwnerOnlyIdentityThatPubkeyReads) {
  struct Case {
    const char* name;
    mode_t umask;
    bool missing_parents;  // --out lies two levels below directories that do not exist yet
    const char* existing;  // content of a file already at the path, with mode 0644
  };
  const Case cases[] = {
      {"usual umask, missing parents", 022, true, nullptr},
      {"umask 0", 0, false, nullptr},
      {"over an existing 0644 file", 0, false,
       "an old identity, longer than the new one ...............\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TempDir temp;
    const fs::path out =
        c.missing_parents ? temp / "missing" / "deeper" / "id.json" : temp / "id.json";
    if (c.existing) write_file(out, std::string(c.existing) + std::string(100, 'x'), 0644);
    RunOptions options;
    options.umask = c.umask;
    const std::string public_hex = generate(out.string(), out, options);
    if (c.missing_parents) {
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

// An old identity that another user could read (made 0644 by hand) and holds open is replaced,
// never rewritten: their descriptor still reads the old bytes, and the identity is a new file.
TEST(KeyCommand, GenerateReplacesAFileAnotherUserHoldsOpen) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  const TempDir temp;
  fs::permissions(temp.path(), fs::perms(0755));
  const fs::path out = temp / "id.json";
  write_file(out, "old identity\n", 0644);
  UniqueFd held;
  with_file_rights_of(kOtherUser, kOtherUser,
                      [&] { held.reset(::open(out.c_str(), O_RDONLY | O_CLOEXEC)); });
  ASSERT_TRUE(held.is_open());

  generate(out.string(), out, {});
  std::string seen(4096, '\0');
  const ssize_t n = ::pread(held.get(), seen.data(), seen.size(), 0);
  seen.resize(static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
  EXPECT_EQ(seen, "old identity\n");
  struct stat old_file {};
  ASSERT_EQ(::fstat(held.get(), &old_file), 0);
  EXPECT_EQ(old_file.st_mode & 07777, 0644u);
  EXPECT_EQ(old_file.st_nlink, 0u);  // no longer at --out, nor anywhere
}

// A write that fails midway (here at the file-size limit, where the tool ignores SIGXFSZ so that
// the write fails rather than the process) leaves the old identity whole and no file beside it.
TEST(KeyCommand, GenerateThatFailsKeepsTheOldIdentity) {
  const TempDir temp;
  const fs::path out = temp / "id.json";
  const std::string old_public = generate(out.string(), out, {});
  const ProcessResult result =
      run_process({"sh", "-c", "ulimit -f 0; exec \"$0\" key generate --out \"$1\"",
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

// Another user's directory, or one that others may write without the sticky bit (a group counts
// as others once it has members besides the directory's owner), lets them move the new file away
// before the rename or swap it for theirs. Such a directory is refused as another user's file
// is, before anything is created in it; a sticky one such as /tmp is fine, and so is a group
// directory whose group has nobody else in it.
TEST(KeyCommand, GenerateRefusesADirectoryOthersCouldChange) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give directories other owners";
  const struct passwd* other = ::getpwuid(kOtherUser);
  ASSERT_NE(other, nullptr) << "uid " << kOtherUser << " has no entry in the user database";
  const gid_t shared_group = other->pw_gid;  // has the other user as a member
  const std::optional<gid_t> empty_group = unused_gid();
  if (!empty_group) GTEST_SKIP() << "no unused group ID found";
  struct Case {
    const char* name;
    uid_t owner;
    gid_t group;
    mode_t mode;
    bool as_other_user;
    bool refused;
  };
  const Case cases[] = {
      {"another user's directory", kOtherUser, kOtherUser, 0755, false, true},
      {"writable by everyone", 0, 0, 0777, false, true},
      {"writable by everyone, for the other user too", 0, 0, 0777, true, true},
      {"writable by a group with another member", 0, shared_group, 0775, false, true},
      {"sticky and writable by everyone, as /tmp", 0, 0, 01777, false, false},
      {"sticky, for the other user", 0, 0, 01777, true, false},
      {"writable by a group without members", 0, *empty_group, 0775, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TempDir temp;
    fs::permissions(temp.path(), fs::perms(0755));
    const fs::path dir = temp / "dir";
    fs::create_directory(dir);
    ASSERT_EQ(::chown(dir.c_str(), c.owner, c.group), 0);
    ASSERT_EQ(::chmod(dir.c_str(), c.mode), 0);
    const fs::path out = dir / "id.json";
    const ProcessResult result = run_tool({"key", "generate", "--out", out.string()},
                                          c.as_other_user ? as_other_user() : RunOptions{});
    if (c.refused) {
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.out, "");
      EXPECT_EQ(result.err, refusal_of(out));
      EXPECT_EQ(names_in(dir), std::vector<std::string>{});
    } else {
      EXPECT_EQ(result.status, 0) << result.err;
      EXPECT_EQ(names_in(dir), std::vector<std::string>{"id.json"});
    }
  }
  // Directories the command makes itself under umask 0 are writable by everyone too; they stay,
  // empty.
  const TempDir temp;
  const fs::path out = temp / "made" / "id.json";
  RunOptions no_umask;
  no_umask.umask = 0;
  const ProcessResult result = run_tool({"key", "generate", "--out", out.string()}, no_umask);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, refusal_of(out));
  EXPECT_EQ(mode_of(temp / "made"), 0777u);
  EXPECT_EQ(names_in(temp / "made"), std::vector<std::string>{});
}

// The system calls that rename a file, whichever the C library uses.
bool is_rename(long number) {
#ifdef SYS_rename
  if (number == SYS_rename) return true;
#endif
  return number == SYS_renameat || number == SYS_renameat2;
}

// What a system without unnamed files (O_TMPFILE), or without a way to link one in by its
// descriptor (before Linux 6.10 this took CAP_DAC_READ_SEARCH) or through /proc, answers.
constexpr Refusal kNoUnnamedFiles{
    .number = SYS_openat, .error = EOPNOTSUPP, .arg = 2, .mask = O_TMPFILE, .value = O_TMPFILE};
constexpr Refusal kNoLinkByDescriptor{
    .number = SYS_linkat, .error = ENOENT, .arg = 4, .mask = AT_EMPTY_PATH, .value = AT_EMPTY_PATH};
constexpr Refusal kNoLinkThroughProc{.number = SYS_linkat,
                                     .error = ENOENT,
                                     .arg = 4,
                                     .mask = AT_SYMLINK_FOLLOW,
                                     .value = AT_SYMLINK_FOLLOW};

bool is_identity(const std::string& text) {
  return std::regex_match(text, std::regex("\\{\"secret_key_hex\":\"[0-9a-f]{64}\"\\}\n"));
}

const std::string kOldIdentity = "{\"secret_key_hex\":\"" + std::string(kSeedHex) + "\"}\n";

// Where key generate runs: its directory, as root or as the other user in their own directory,
// with an old identity at --out.
class GenerateSite {
 public:
  explicit GenerateSite(bool as_other_user)
      : as_other_user_(as_other_user),
        dir_(as_other_user ? make_other_users_directory(temp_.path()) : temp_.path()),
        options_(as_other_user ? test::as_other_user() : RunOptions{}) {}

  const fs::path& dir() const { return dir_; }
  fs::path out() const { return dir_ / "id.json"; }
  const RunOptions& options() const { return options_; }
  uid_t owner() const { return as_other_user_ ? kOtherUser : 0; }
  std::vector<std::string> command() const {
    return {tool_path_for(options_).string(), "key", "generate", "--out", out().string()};
  }

  // Only the old identity, as its owner left it.
  void reset() const {
    for (const std::string& name : names_in(dir_))
      fs::remove(dir_ / name);
    write_file(out(), kOldIdentity, 0600);
    if (::chown(out().c_str(), owner(), owner()) != 0) throw std::runtime_error("chown failed");
  }

 private:
  bool as_other_user_;
  TempDir temp_;
  fs::path dir_;
  RunOptions options_;
};

// Every call key generate makes from the moment it opens the directory of --out, one after
// another, is where it is stopped by a signal: SIGKILL, and one of SIGINT, SIGTERM and SIGHUP.
// Whatever the point, --out holds the old identity or the new one, whole and 0600, and no other
// name is left in the directory: the secret is in a file without a name until the moment of the
// rename, with those three signals held back from the link to the rename. Only a SIGKILL at the
// rename itself can leave the new name (the kernel offers no way to put a file without a name in
// another's place). Where the file system has no unnamed files, or none can be linked in, the
// new file has its name from the start: then a SIGKILL can leave it too, but none of the other
// three ever does.
TEST(KeyCommand, GenerateStoppedAtAnyCallLeavesTheOldOrTheNewIdentityAndNoSecret) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the tool as another user";
  if (const auto why = tracing_unavailable()) GTEST_SKIP() << "cannot trace the tool: " << *why;
  struct Way {
    const char* name;
    bool as_other_user;
    std::vector<Refusal> refusals;
    std::size_t links;  // linkat calls made
    bool named_from_the_start;
  };
  const Way ways[] = {
      {"root, an unnamed file linked in by its descriptor", false, {}, 1, false},
      {"uid 65534, linked in through /proc/self/fd", true, {kNoLinkByDescriptor}, 2, false},
      {"root, no unnamed files", false, {kNoUnnamedFiles}, 0, true},
      {"uid 65534, an unnamed file that cannot be linked in",
       true,
       {kNoLinkByDescriptor, kNoLinkThroughProc},
       2,
       true},
  };
  constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    const GenerateSite site(way.as_other_user);
    site.reset();
    std::vector<SyscallEntry> calls;
    const ProcessResult untouched = run_traced({.args = site.command(),
                                                .options = site.options(),
                                                .refusals = way.refusals,
                                                .at_entry = [&](const SyscallEntry& call) {
                                                  calls.push_back(call);
                                                  return 0;
                                                }});
    ASSERT_EQ(untouched.status, 0) << untouched.err;
    EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                            [](const SyscallEntry& call) { return call.number == SYS_linkat; }),
              static_cast<std::ptrdiff_t>(way.links));
    // From the opening of the directory of --out, after the key is drawn (until then nothing
    // is touched but the directories made for --out), to the last call before exit_group.
    const auto draw = std::find_if(calls.begin(), calls.end(), [](const SyscallEntry& call) {
      return call.number == SYS_getrandom && call.args[1] == 32;
    });
    const auto first = std::find_if(draw, calls.end(), [](const SyscallEntry& call) {
      return call.number == SYS_openat && (call.args[2] & O_DIRECTORY) != 0;
    });
    ASSERT_NE(first, calls.end());
    bool kept_old = false, wrote_new = false;
    int names_left = 0;
    for (std::size_t at = static_cast<std::size_t>(draw - calls.begin()) + 1; at + 1 < calls.size();
         ++at) {
      for (const int signal : {SIGKILL, kStopSignals[at % 3]}) {
        SCOPED_TRACE("signal " + std::to_string(signal) + " at call " + std::to_string(at) +
                     " (system call " + std::to_string(calls[at].number) + ")");
        site.reset();
        const ProcessResult stopped = run_traced(
            {.args = site.command(),
             .options = site.options(),
             .refusals = way.refusals,
             .at_entry = [&](const SyscallEntry& call) { return call.index == at ? signal : 0; }});
        const std::optional<std::string> now = read_file_if_present(site.out());
        ASSERT_TRUE(now.has_value());
        const bool old = *now == kOldIdentity;
        EXPECT_TRUE(old || is_identity(*now)) << *now;
        EXPECT_EQ(permissions_of(site.out()), 0600u);
        if (stopped.status == 0) {
          EXPECT_FALSE(old);
        } else {
          EXPECT_EQ(stopped.status, 128 + signal) << stopped.err;
        }
        kept_old = kept_old || old;
        wrote_new = wrote_new || !old;
        for (const std::string& name : names_in(site.dir())) {
          if (name == "id.json") continue;
          ++names_left;
          EXPECT_EQ(signal, SIGKILL) << name;
          EXPECT_TRUE(way.named_from_the_start || is_rename(calls[at].number)) << name;
          EXPECT_EQ(permissions_of(site.dir() / name), 0600u) << name;
        }
      }
    }
    EXPECT_TRUE(kept_old);
    EXPECT_TRUE(wrote_new);
    if (!way.named_from_the_start) {
      EXPECT_LE(names_left, 1);
    }
  }
}

// The seam of a directory that someone with the right to (root, or the user) changes between
// the link and the rename: the new name now holds another file, which the rename puts at --out.
// That file is not the identity the command made and prints the key of: the command fails.
TEST(KeyCommand, GenerateFailsWhenAnotherFileTookTheNewFilesPlace) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to plant another user's file";
  if (const auto why = tracing_unavailable()) GTEST_SKIP() << "cannot trace the tool: " << *why;
  struct Case {
    const char* name;
    uid_t owner;
    std::string error;
  };
  const Case cases[] = {
      {"a file of root's own", 0, "Resource temporarily unavailable (os error 11)"},
      {"a file of another user", kOtherUser,
       "refusing to write a secret to a file owned by another user: {out}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const GenerateSite site(false);
    site.reset();
    const fs::path planted = site.dir() / "planted";
    write_file(planted, "planted\n", 0600);
    ASSERT_EQ(::chown(planted.c_str(), c.owner, c.owner), 0);
    bool swapped = false;
    const ProcessResult result =
        run_traced({.args = site.command(),
                    .options = {},
                    .refusals = {},
                    .at_entry = [&](const SyscallEntry& call) {
                      if (swapped || !is_rename(call.number)) return 0;
                      for (const std::string& name : names_in(site.dir())) {
                        if (!name.starts_with(".identity-")) continue;
                        fs::rename(planted, site.dir() / name);
                        swapped = true;
                      }
                      return 0;
                    }});
    ASSERT_TRUE(swapped);
    std::string error = c.error;
    if (const std::size_t at = error.find("{out}"); at != std::string::npos)
      error.replace(at, 5, site.out().string());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "sarn-runtime-bundle key generate: " + error + "\n");
    EXPECT_EQ(names_in(site.dir()), std::vector<std::string>{"id.json"});
  }
}

// Once the rename is done the old identity is gone; a failure after it (syncing the directory,
// or printing on standard output) ends with status 1, prints no public key, and says so.
TEST(KeyCommand, GenerateFailingAfterTheRenameSaysTheNewIdentityIsInPlace) {
  if (const auto why = tracing_unavailable()) GTEST_SKIP() << "cannot trace the tool: " << *why;
  const GenerateSite site(false);
  site.reset();
  // The directory is what the last fsync syncs.
  std::uint32_t directory = 0;
  run_traced({.args = site.command(),
              .options = {},
              .refusals = {},
              .at_entry = [&](const SyscallEntry& call) {
                if (call.number == SYS_fsync) directory = static_cast<std::uint32_t>(call.args[0]);
                return 0;
              }});
  ASSERT_NE(directory, 0u);
  struct Case {
    const char* name;
    std::vector<Refusal> refusals;
    std::optional<fs::path> stdout_file;
    std::string error;
  };
  const Case cases[] = {
      {"syncing the directory fails",
       {{.number = SYS_fsync, .error = EIO, .arg = 0, .mask = ~0u, .value = directory}},
       std::nullopt,
       "Input/output error (os error 5)"},
      {"standard output is full",
       {},
       "/dev/full",
       "write error: No space left on device (os error 28)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    site.reset();
    RunOptions options;
    options.stdout_file = c.stdout_file;
    const ProcessResult result = run_traced(
        {.args = site.command(), .options = options, .refusals = c.refusals, .at_entry = {}});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "sarn-runtime-bundle key generate: " + c.error + " \xE2\x80\x94 " +
                              site.out().string() + " now holds the new identity\n");
    const std::string now = read_file(site.out());
    EXPECT_TRUE(is_identity(now) && now != kOldIdentity) << now;
    EXPECT_EQ(names_in(site.dir()), std::vector<std::string>{"id.json"});
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
