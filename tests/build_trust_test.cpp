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
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <thread>
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

// A process of uid 65534 that stands in for an attacker owning the directories a build writes
// into: each time a file there is closed after writing, it deletes it and creates one of its own
// in its place (once per name), which the file system often gives the inode just freed.
class CopyReplacer {
 public:
  explicit CopyReplacer(const std::vector<fs::path>& directories) {
    int ready[2];
    if (::pipe(ready) != 0) throw std::runtime_error("pipe failed");
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      ::close(ready[0]);
      replace_closed_files(directories, ready[1]);
    }
    ::close(ready[1]);
    char byte = 0;
    const bool started = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    if (!started) throw std::runtime_error("the replacing process did not start");
  }
  ~CopyReplacer() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  CopyReplacer(const CopyReplacer&) = delete;
  CopyReplacer& operator=(const CopyReplacer&) = delete;

 private:
  [[noreturn]] static void replace_closed_files(const std::vector<fs::path>& directories,
                                                int ready) {
    const gid_t group = kNobody;
    if (::setgroups(1, &group) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
      ::_exit(126);
    const int watch = ::inotify_init1(IN_CLOEXEC);
    std::map<int, fs::path> watched;
    for (const fs::path& directory : directories)
      watched[::inotify_add_watch(watch, directory.c_str(), IN_CLOSE_WRITE)] = directory;
    if (::write(ready, "r", 1) != 1) ::_exit(126);
    std::set<fs::path> replaced;
    alignas(inotify_event) char events[8192];
    for (;;) {
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
        if (fd >= 0 && ::write(fd, "EVIL", 4) == 4) ::close(fd);
      }
    }
  }

  pid_t pid_ = -1;
};

// Kills, when the test ends, a process that a script left running.
class KillAtEnd {
 public:
  explicit KillAtEnd(pid_t pid) : pid_(pid) {}
  ~KillAtEnd() { ::kill(pid_, SIGKILL); }
  KillAtEnd(const KillAtEnd&) = delete;
  KillAtEnd& operator=(const KillAtEnd&) = delete;

 private:
  pid_t pid_;
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
// the manifest lists and signs.
TEST_F(BuildTrust, AFileSwappedInForAClosedCopyIsNeverSigned) {
  write_file(dir_ / "identity.json", kIdentity, 0600);
  int signed_foreign = 0;
  for (int run = 0; run < 50; ++run) {
    SCOPED_TRACE(run);
    fs::remove_all(out());
    as_nobody("mkdir -p b/lib/lib64 b/etc");
    ProcessResult r;
    {
      const CopyReplacer replacer({out() / "lib/lib64", out() / "etc"});
      r = build(out(), {"--identity", (dir_ / "identity.json").string()});
    }
    if (r.status != 0) {
      EXPECT_TRUE(r.err.starts_with("sarn-runtime-bundle build: bundle file changed during"))
          << r.err;
      continue;
    }
    const bool verifies =
        run_tool({"verify", "--require-publisher", std::string(kPublisher), out().string()})
            .status == 0;
    bool foreign = false;
    for (const char* file :
         {"lib/lib64/ld-linux-x86-64.so.2", "lib/lib64/libc.so.6", "etc/ld.so.cache"})
      foreign = foreign || read_file(out() / file) == "EVIL";
    if (verifies && foreign) ++signed_foreign;
  }
  EXPECT_EQ(signed_foreign, 0);
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
      "echo loader > tree/lib64/ld-linux-x86-64.so.2; ln -s \"/host$VICTIM\" tree/lib64/libc.so.6;"
      "(unshare -Urm sh -c 'mount --rbind / \"$0\" && echo $$ > ns.pid && exec sleep 30' "
      "\"$PWD/tree/host\" > ns.log 2>&1 &)");
  std::string pid;
  for (int tries = 0; tries < 100 && pid.empty(); ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (fs::exists(dir_ / "nobody/ns.pid")) pid = read_file(dir_ / "nobody/ns.pid");
  }
  if (pid.empty() || !pid.ends_with('\n'))
    GTEST_SKIP() << "user namespaces not allowed here: " << read_file(dir_ / "nobody/ns.log");
  const KillAtEnd namespace_holder(std::stoi(pid));
  from_ = "/proc/" + pid.substr(0, pid.size() - 1) + "/root" + (dir_ / "nobody/tree").string();
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
