// End-to-end tests of `build` run by root into an output directory that an unprivileged user
// (uid 65534) prepared: links, FIFOs, hard links and read-only leftovers planted where the build
// writes. None of them may make the build write outside --out, write into a file it did not
// create, hang, or copy a setuid bit. Every run goes through timeout(1), so a build that blocks
// fails its test instead of stalling the suite.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/process.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb::test {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;
constexpr int kTimedOut = 124;  // timeout(1)'s status when it had to stop the build

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
    std::vector<std::string> args{"timeout",
                                  "20",
                                  tool_path_for(options).string(),
                                  "build",
                                  "--version",
                                  "1.0",
                                  "--out",
                                  out.string(),
                                  "--from",
                                  (dir_ / "root").string(),
                                  "--arch",
                                  "x86_64"};
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
};

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

}  // namespace
}  // namespace srb::test
