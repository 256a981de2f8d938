// End-to-end tests of `build` run by root into an output directory, or from a tree, that an
// unprivileged user (uid 65534) prepared: links, FIFOs, hard links, read-only leftovers and setgid
// directories planted where the build writes, a process that swaps each copy for its own file,
// sparse and world-writable sources, and a sysroot reached through another process's root. None
// of them may make the build write outside --out, write into a file it did not create, sign a
// file it did not write, hang, fill the disk, or leave a file that anyone else may read against
// the source's bits or write. Every run goes through timeout(1), so a build that blocks fails its
// test instead of stalling the suite.

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "manifest/manifest.hpp"
#include "tests/support/bundle_fixture.hpp"
#include "tests/support/process.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb::test {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;
constexpr int kTimedOut = 124;  // timeout(1)'s status when it had to stop the build
constexpr std::string_view kThroughMagicLink =
    "sarn-runtime-bundle build: i/o: Too many levels of symbolic links (os error 40)\n";

// The RFC 8032 test 1 secret key and its public key.
constexpr std::string_view kIdentity =
    "{\"secret_key_hex\":\"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60\"}\n";
constexpr std::string_view kPublisher =
    "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a";

// What a path holds, compared before and after a build: type, mode, owner, and the content or
// the link target.
std::string state_of(const fs::path& path) {
  struct stat status;
  if (::lstat(path.c_str(), &status) != 0) return "absent";
  std::string state = std::to_string(status.st_mode) + " " + std::to_string(status.st_uid) + " ";
  if (S_ISLNK(status.st_mode)) return state + fs::read_symlink(path).string();
  if (S_ISREG(status.st_mode)) return state + read_file(path);
  return state;
}

class BuildTrust : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to prepare files as another user";
    fs::permissions(dir_.path(), fs::perms(0755));
    make_host_root(dir_ / "root",
                   {"/lib64/ld-linux-x86-64.so.2", "/lib64/libc.so.6", "/etc/ld.so.cache"});
    write_file(dir_ / "victim", "victim bytes", 0600);
    write_file(dir_ / "conf", "conf bytes", 0600);
    fs::create_directory(dir_ / "elsewhere");
    fs::create_directory(dir_ / "nobody");
    ASSERT_EQ(::chown((dir_ / "nobody").c_str(), kNobody, kNobody), 0);
  }

  fs::path out() const { return dir_ / "nobody/b"; }

  // Runs a shell script as uid 65534 in its own directory; VICTIM, CONF and ELSEWHERE name the
  // root-owned files and directory outside the bundle.
  void as_nobody(const std::string& script) {
    RunOptions options;
    options.uid = options.gid = kNobody;
    options.cwd = dir_ / "nobody";
    options.env = {"PATH=/usr/bin:/bin", "VICTIM=" + (dir_ / "victim").string(),
                   "CONF=" + (dir_ / "conf").string(),
                   "ELSEWHERE=" + (dir_ / "elsewhere").string()};
    const ProcessResult r = run_process({"sh", "-ec", script}, options);
    ASSERT_EQ(r.status, 0) << r.err;
  }

  ProcessResult build(const fs::path& out, std::vector<std::string> more = {},
                      RunOptions options = {}) {
    std::vector<std::string> args{"timeout",      "20",         tool_path_for(options).string(),
                                  "build",        "--version",  "1.0",
                                  "--out",        out.string(), "--from",
                                  from_.string(), "--arch",     "x86_64"};
    args.insert(args.end(), more.begin(), more.end());
    options.env = minimal_env();
    options.env->push_back("SOURCE_DATE_EPOCH=1700000000");
    return run_process(args, options);
  }

  // Every entry of the test directory outside the bundle, by path.
  std::map<std::string, std::string> outside_the_bundle() const {
    std::map<std::string, std::string> states;
    for (auto it = fs::recursive_directory_iterator(dir_.path());
         it != fs::recursive_directory_iterator(); ++it) {
      if (it->path() == out()) {
        it.disable_recursion_pending();
        continue;
      }
      states[it->path().string()] = state_of(it->path());
    }
    return states;
  }

  TempDir dir_;
  fs::path from_ = dir_ / "root";
};

// Drops this process (a child about to act for the other user) to uid and gid 65534.
void become_nobody() {
  const gid_t group = kNobody;
  if (::setgroups(1, &group) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(126);
}

// A process of uid 65534 that stands in for an attacker owning the directories a build writes
// into: each time a file there is closed after writing, it deletes it and creates one of its own
// in its place (once per name), which the file system often gives the inode just freed. It
// reports each swap through a pipe, with whether the bundle's manifest was still missing right
// after it (the build writes the manifest last, so such a swap came while the build ran), and
// it stops when the test closes its end of another pipe, between two swaps.
class CopyReplacer {
 public:
  CopyReplacer(const fs::path& bundle, const std::vector<fs::path>& directories) {
    int ready[2], stopping[2], reports[2];
    if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(stopping, O_CLOEXEC) != 0 ||
        ::pipe2(reports, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe failed");
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      ::close(ready[0]);
      ::close(stopping[1]);
      ::close(reports[0]);
      replace_closed_files(bundle, directories, ready[1], stopping[0], reports[1]);
    }
    ::close(ready[1]);
    ::close(stopping[0]);
    ::close(reports[1]);
    stop_ = stopping[1];
    reports_ = reports[0];
    char byte = 0;
    const bool started = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    if (!started) {
      stop();
      throw std::runtime_error("the replacing process did not start");
    }
  }
  ~CopyReplacer() { stop(); }
  CopyReplacer(const CopyReplacer&) = delete;
  CopyReplacer& operator=(const CopyReplacer&) = delete;

  // Stops the process and waits for it; returns how many of its swaps came before the manifest
  // was written, and how many in all.
  std::pair<int, int> stop() {
    if (pid_ > 0) {
      ::close(stop_);
      while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
      }
      pid_ = -1;
      char report = 0;
      while (::read(reports_, &report, 1) == 1) {
        ++swaps_;
        if (report == 'm') ++before_manifest_;
      }
      ::close(reports_);
    }
    return {before_manifest_, swaps_};
  }

 private:
  [[noreturn]] static void replace_closed_files(const fs::path& bundle,
                                                const std::vector<fs::path>& directories, int ready,
                                                int stop, int reports) {
    become_nobody();
    const int watch = ::inotify_init1(IN_CLOEXEC);
    std::map<int, fs::path> watched;
    for (const fs::path& directory : directories)
      watched[::inotify_add_watch(watch, directory.c_str(), IN_CLOSE_WRITE)] = directory;
    if (::write(ready, "r", 1) != 1) ::_exit(126);
    std::set<fs::path> replaced;
    alignas(inotify_event) char events[8192];
    for (;;) {
      pollfd fds[2] = {{stop, POLLIN, 0}, {watch, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) continue;
      if (fds[0].revents != 0) ::_exit(0);  // the test closed its end
      const ssize_t n = ::read(watch, events, sizeof events);
      if (n <= 0) ::_exit(1);
      for (const char* at = events; at < events + n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(at);
        at += sizeof(inotify_event) + event->len;
        if (event->len == 0 || std::string_view(event->name) == "bundle.toml") continue;
        const fs::path path = watched[event->wd] / event->name;
        if (!replaced.insert(path).second) continue;
        ::unlink(path.c_str());
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0755);
        if (fd < 0 || ::write(fd, "EVIL", 4) != 4) continue;
        ::close(fd);
        struct stat manifest {};
        const bool before_manifest = ::lstat((bundle / "bundle.toml").c_str(), &manifest) != 0;
        if (::write(reports, before_manifest ? "m" : "a", 1) != 1) ::_exit(1);
      }
    }
  }

  pid_t pid_ = -1;
  int stop_ = -1;
  int reports_ = -1;
  int swaps_ = 0;
  int before_manifest_ = 0;
};

// A process of uid 65534 in a user and mount namespace of its own, in which it binds the host's
// root at `mount_point`. It reports its process ID through a pipe once the mount is done (the
// pipe closes without one when namespaces are not allowed), then waits for the end of its
// standard input, which the test closes when done with it.
class NamespaceHolder {
 public:
  NamespaceHolder(const fs::path& home, const fs::path& mount_point) {
    int report[2], hold[2];
    if (::pipe2(report, O_CLOEXEC) != 0 || ::pipe2(hold, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe failed");
    const std::string script = "mount --rbind / \"$0\" && echo $$ && exec cat >/dev/null 2>&1";
    std::string log = (home / "ns.log").string();
    std::vector<std::string> args = {"/usr/bin/unshare",  "-Urm", "sh", "-c", script,
                                     mount_point.string()};
    std::vector<char*> argv;
    for (std::string& arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    char path_variable[] = "PATH=/usr/bin:/bin";
    char* envp[] = {path_variable, nullptr};
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      become_nobody();
      const int log_fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (log_fd < 0 || ::dup2(hold[0], STDIN_FILENO) < 0 || ::dup2(report[1], STDOUT_FILENO) < 0 ||
          ::dup2(log_fd, STDERR_FILENO) < 0 || ::chdir(home.c_str()) != 0)
        ::_exit(126);
      ::execve(argv[0], argv.data(), envp);
      ::_exit(127);
    }
    ::close(report[1]);
    ::close(hold[0]);
    hold_ = hold[1];
    char buffer[64];
    for (ssize_t n; (n = ::read(report[0], buffer, sizeof buffer)) != 0;) {
      if (n > 0)
        reported_.append(buffer, static_cast<std::size_t>(n));
      else if (errno != EINTR)
        break;
    }
    ::close(report[0]);
  }
  ~NamespaceHolder() {
    ::close(hold_);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  NamespaceHolder(const NamespaceHolder&) = delete;
  NamespaceHolder& operator=(const NamespaceHolder&) = delete;

  // Its process ID once the mount is in place, or nothing.
  std::optional<std::string> pid() const {
    if (reported_.empty() || !reported_.ends_with('\n')) return std::nullopt;
    return reported_.substr(0, reported_.size() - 1);
  }

 private:
  pid_t pid_ = -1;
  int hold_ = -1;
  std::string reported_;
};

struct stat status_of(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
  return status;
}

std::string unsafe(const fs::path& path) {
  return "sarn-runtime-bundle build: bundle destination is a symbolic link or special file: " +
         path.string() + "\n";
}

// A link anywhere below --out, on the way to a file or at the file itself, would have root write
// (and chmod) whatever it points to.
TEST_F(BuildTrust, LinksPlantedInTheOutputDirectoryAreRefusedAndTheirTargetsKept) {
  const struct {
    const char* plant;
    const char* refused;  // the entry named in the error, below --out
  } cases[] = {
      {"mkdir -p b/etc; ln -s \"$VICTIM\" b/etc/ld.so.cache", "etc/ld.so.cache"},
      {"mkdir -p b; ln -s \"$CONF\" b/bundle.toml", "bundle.toml"},
      {"mkdir -p b/lib; ln -s \"$ELSEWHERE\" b/lib/lib64", "lib/lib64"},
      {"mkdir -p b; ln -s \"$ELSEWHERE\" b/lib", "lib"},
      {"mkdir -p b; ln -s \"$ELSEWHERE\" b/etc", "etc"},
      {"mkdir -p b/lib/lib64; ln -s \"$VICTIM\" b/lib/lib64/libc.so.6", "lib/lib64/libc.so.6"},
      {"mkdir -p b/lib; ln -s nowhere b/lib/lib64", "lib/lib64"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.plant);
    fs::remove_all(out());
    as_nobody(c.plant);
    const std::map<std::string, std::string> before = outside_the_bundle();
    const ProcessResult r = build(out());
    EXPECT_EQ(r.err, unsafe(out() / c.refused));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(outside_the_bundle(), before);
    EXPECT_TRUE(fs::is_empty(dir_ / "elsewhere"));
    // No manifest is written; one planted at bundle.toml stays the link it was.
    EXPECT_NE(fs::symlink_status(out() / "bundle.toml").type(), fs::file_type::regular);
  }
}

// A FIFO where a file goes would block the build, or hand the digest step bytes that whoever
// holds the other end chose.
TEST_F(BuildTrust, SpecialFilesAtADestinationFailWithoutBlocking) {
  const struct {
    const char* plant;
    std::string error;
  } cases[] = {
      {"mkdir -p b/lib/lib64; mkfifo b/lib/lib64/libc.so.6", unsafe(out() / "lib/lib64/libc.so.6")},
      {"mkdir -p b; mkfifo b/bundle.toml", unsafe(out() / "bundle.toml")},
      {"mkdir -p b/lib; mkfifo b/lib/lib64",
       "sarn-runtime-bundle build: i/o: Not a directory (os error 20)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.plant);
    fs::remove_all(out());
    as_nobody(c.plant);
    const ProcessResult r = build(out());
    ASSERT_NE(r.status, kTimedOut);
    EXPECT_EQ(r.err, c.error);
    EXPECT_EQ(r.status, 1);
  }
}

// A rebuild over an earlier bundle replaces its files: another name of a file keeps its content,
// and a read-only copy is no obstacle to its owner or to root.
TEST_F(BuildTrust, HardLinksAndReadOnlyLeftoversAreReplacedNotWrittenInto) {
  as_nobody(
      "mkdir -p b/lib/lib64 b/etc; echo kept > keep; ln keep b/lib/lib64/libc.so.6;"
      "echo stale > b/etc/ld.so.cache; chmod 0444 b/etc/ld.so.cache");
  const ProcessResult by_root = build(out());
  ASSERT_EQ(by_root.err, "");
  EXPECT_EQ(read_file(dir_ / "nobody/keep"), "kept\n");
  EXPECT_EQ(read_file(out() / "lib/lib64/libc.so.6"), "content of /lib64/libc.so.6\n");
  EXPECT_EQ(read_file(out() / "etc/ld.so.cache"), "content of /etc/ld.so.cache\n");
  EXPECT_EQ(run_tool({"verify", out().string()}).status, 0);

  // The sources are world-readable, the copies of a 0444 source are 0444 too.
  for (const char* file : {"lib64/ld-linux-x86-64.so.2", "lib64/libc.so.6", "etc/ld.so.cache"})
    fs::permissions(dir_ / "root" / file, fs::perms(0444));
  RunOptions as_user;
  as_user.uid = as_user.gid = kNobody;
  const fs::path own = dir_ / "nobody/own";
  ASSERT_EQ(build(own, {}, as_user).err, "");
  EXPECT_EQ(fs::status(own / "lib/lib64/libc.so.6").permissions(), fs::perms(0444));
  const ProcessResult again = build(own, {}, as_user);
  EXPECT_EQ(again.err, "");
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(run_tool({"verify", own.string()}, as_user).status, 0);
}

// A root-owned setuid copy of an ordinary program would run with euid 0 for anyone.
TEST_F(BuildTrust, CopiesCarryPermissionBitsOnly) {
  ::chmod((dir_ / "root/lib64/libc.so.6").c_str(), 04755);
  ::chmod((dir_ / "root/etc/ld.so.cache").c_str(), 01644);
  write_file(dir_ / "libextra.so", "extra", 02751);
  const ProcessResult r = build(out(), {"--include", (dir_ / "libextra.so").string()});
  ASSERT_EQ(r.err, "");
  const struct {
    const char* bundle_path;
    mode_t mode;
  } cases[] = {{"lib/lib64/libc.so.6", 0755},
               {"etc/ld.so.cache", 0644},
               {"lib/libextra.so", 0751},
               {"lib/lib64/ld-linux-x86-64.so.2", 0644}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bundle_path);
    struct stat status;
    ASSERT_EQ(::lstat((out() / c.bundle_path).c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, c.mode);
  }
}

// The digest is taken through the descriptor that wrote the copy, while the copy is still open,
// so the inode cannot be given to anyone else: a file swapped in for a closed copy is never what
// the manifest lists and signs. Builds are repeated, a bounded number of times, until a swap
// came while one ran (the build noticed it, or the swap came before the manifest was written).
TEST_F(BuildTrust, AFileSwappedInForAClosedCopyIsNeverSigned) {
  write_file(dir_ / "identity.json", kIdentity, 0600);
  constexpr int kMaxRuns = 200;
  int runs = 0, landed = 0;
  for (; runs < kMaxRuns && landed == 0; ++runs) {
    SCOPED_TRACE(runs);
    fs::remove_all(out());
    as_nobody("mkdir -p b/lib/lib64 b/etc");
    CopyReplacer replacer(out(), {out() / "lib/lib64", out() / "etc"});
    const ProcessResult r = build(out(), {"--identity", (dir_ / "identity.json").string()});
    const auto [before_manifest, swaps] = replacer.stop();
    if (r.status != 0) {
      EXPECT_TRUE(r.err.starts_with("sarn-runtime-bundle build: bundle file changed during"))
          << r.err;
      landed += swaps > 0 ? 1 : 0;
      continue;
    }
    landed += before_manifest;
    const bool verifies =
        run_tool({"verify", "--require-publisher", std::string(kPublisher), out().string()})
            .status == 0;
    bool foreign = false;
    for (const char* file :
         {"lib/lib64/ld-linux-x86-64.so.2", "lib/lib64/libc.so.6", "etc/ld.so.cache"})
      foreign = foreign || read_file_if_present(out() / file) == "EVIL";
    EXPECT_FALSE(verifies && foreign);
  }
  EXPECT_GT(landed, 0) << "no swap came while a build ran, in " << runs << " builds";
}

// A magic link leads into whatever another process sees, which that process may have arranged:
// a --from path through one is refused, not taken as a root with no entries.
TEST_F(BuildTrust, AFromPathThroughAMagicLinkIsRefused) {
  const std::string root = (dir_ / "root").string();
  for (const std::string& from :
       {"/proc/self/root" + root, "/proc/" + std::to_string(::getpid()) + "/root" + root,
        "/proc/thread-self/root" + root, std::string("/proc/self/cwd")}) {
    SCOPED_TRACE(from);
    fs::remove_all(out());
    from_ = from;
    RunOptions in_root;
    in_root.cwd = root;
    const ProcessResult r = build(out(), {}, in_root);
    EXPECT_EQ(r.err, kThroughMagicLink);
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(fs::exists(out() / "lib/lib64"));
  }
}

// The whole chain: in a user namespace, uid 65534 binds the host's root into its tree and links a
// library name to a root-only file through it. Only through its process's root does the tree
// hold that file; there the build must not look, so nothing of the file reaches the bundle.
TEST_F(BuildTrust, ATreeReachedThroughAnotherUsersNamespaceIsRefused) {
  ASSERT_EQ(::chmod((dir_ / "victim").c_str(), 0640), 0);
  as_nobody(
      "mkdir -p tree/host tree/lib64 b/lib/lib64; chmod 2775 b/lib/lib64;"
      "echo loader > tree/lib64/ld-linux-x86-64.so.2; ln -s \"/host$VICTIM\" tree/lib64/libc.so.6");
  const NamespaceHolder holder(dir_ / "nobody", dir_ / "nobody/tree/host");
  const std::optional<std::string> pid = holder.pid();
  if (!pid)
    GTEST_SKIP() << "user namespaces not allowed here: " << read_file(dir_ / "nobody/ns.log");
  from_ = "/proc/" + *pid + "/root" + (dir_ / "nobody/tree").string();
  const ProcessResult r = build(out());
  EXPECT_EQ(r.err, kThroughMagicLink);
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(fs::exists(out() / "lib/lib64/libc.so.6"));
}

// A setgid directory gives what is created in it its own group, and a directory its setgid bit:
// the group of whoever planted it could then read a copy that only the builder's group may.
TEST_F(BuildTrust, SetgidDirectoriesOfAnotherGroupDoNotPassOnTheirGroup) {
  ASSERT_EQ(::chmod((dir_ / "root/lib64/libc.so.6").c_str(), 0640), 0);
  as_nobody("mkdir -p b/lib b/etc; chmod 2777 b b/lib b/etc");
  const ProcessResult r = build(out());
  ASSERT_EQ(r.err, "");
  for (const char* created : {"bundle.toml", "lib/lib64", "lib/lib64/libc.so.6",
                              "lib/lib64/ld-linux-x86-64.so.2", "etc/ld.so.cache"}) {
    SCOPED_TRACE(created);
    EXPECT_EQ(status_of(out() / created).st_gid, ::getegid());
  }
  EXPECT_EQ(permissions_of(out() / "lib/lib64"), 0755u);
  EXPECT_EQ(permissions_of(out() / "lib/lib64/libc.so.6"), 0640u);
  RunOptions as_user = as_other_user();
  EXPECT_NE(run_process({"cat", (out() / "lib/lib64/libc.so.6").string()}, as_user).status, 0);
}

// A source of holes copied as zeros would fill the disk, written as root.
TEST_F(BuildTrust, ASparseSourceStaysSparseAndKeepsItsDigest) {
  constexpr std::uint64_t kSize = std::uint64_t{256} << 20;
  as_nobody(
      "mkdir -p tree/lib64; echo loader > tree/lib64/ld-linux-x86-64.so.2;"
      "truncate -s 256M tree/lib64/libc.so.6;"
      "printf data | dd of=tree/lib64/libc.so.6 bs=4096 seek=1000 conv=notrunc status=none");
  from_ = dir_ / "nobody/tree";
  const ProcessResult r = build(out());
  ASSERT_EQ(r.err, "");
  const fs::path copy = out() / "lib/lib64/libc.so.6";
  EXPECT_LE(status_of(copy).st_blocks * 512, 1 << 20);
  EXPECT_EQ(fs::file_size(copy), kSize);
  const Result<BundleManifest> manifest = load_manifest(out());
  ASSERT_TRUE(manifest);
  ASSERT_EQ(manifest->files.size(), 2u);
  EXPECT_EQ(manifest->files[1].path, "lib/lib64/libc.so.6");
  EXPECT_EQ(manifest->files[1].size, kSize);
  EXPECT_EQ(manifest->files[1].hash, digest_of(from_ / "lib64/libc.so.6"));
}

// With no umask to help, a world-writable source must still not give a world-writable library,
// and the directories and manifest the build creates are writable by the builder alone.
TEST_F(BuildTrust, NothingTheBuildCreatesIsWritableByOthersWhateverTheUmask) {
  as_nobody("echo open > libopen.so; chmod 0777 libopen.so");
  ASSERT_EQ(::chmod((dir_ / "root/lib64/libc.so.6").c_str(), 0777), 0);
  RunOptions no_umask;
  no_umask.umask = 0;
  const ProcessResult r =
      build(out(), {"--include", (dir_ / "nobody/libopen.so").string()}, no_umask);
  ASSERT_EQ(r.err, "");
  const struct {
    const char* created;
    mode_t bits;
  } cases[] = {{"", 0755},
               {"lib", 0755},
               {"lib/lib64", 0755},
               {"etc", 0755},
               {"bundle.toml", 0644},
               {"lib/lib64/libc.so.6", 0755},
               {"lib/libopen.so", 0755},
               {"etc/ld.so.cache", 0644}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.created);
    EXPECT_EQ(permissions_of(out() / c.created), c.bits);
  }
}

}  // namespace
}  // namespace srb::test
