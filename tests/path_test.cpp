// End-to-end tests of `path`: the built binary under controlled environments, with bundles laid
// out in a scratch directory and, when the tests run as root, under the real system root. Cases
// that need a user without a home directory drop to an unused UID.

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/process.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb::test {
namespace {

namespace fs = std::filesystem;

const std::string kSystemRoot = "/usr/lib/sarn-runtime";
const std::string kUnresolvable =
    "sarn-runtime-bundle path: home / data-dir not resolvable \xE2\x80\x94 set XDG_DATA_HOME or "
    "HOME\n";

// A version tag no real installation uses, so the system root cannot decide a case by accident.
std::string unique_version() {
  static int counter = 0;
  return "srb-path-test-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

void replace_all(std::string& text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

// Installs `version` under the system root for one test, and removes it again even when the test
// fails, together with the root itself when this created it.
class SystemInstall {
 public:
  explicit SystemInstall(const std::string& version) : version_dir_(kSystemRoot + "/" + version) {
    std::error_code ec;
    // Retry once should a parallel test remove the root it created between our two steps.
    for (int attempt = 0; attempt < 2 && !fs::is_directory(version_dir_, ec); ++attempt) {
      created_root_ |= fs::create_directory(kSystemRoot, ec);
      fs::create_directory(version_dir_, ec);
    }
    // Readable by the unprivileged user of the home-less cases, whatever our umask.
    if (created_root_) fs::permissions(kSystemRoot, fs::perms(0755), ec);
    fs::permissions(version_dir_, fs::perms(0755), ec);
    write_file(version_dir_ / "bundle.toml", "version = \"" + version + "\"\n");
  }
  ~SystemInstall() {
    std::error_code ec;
    fs::remove_all(version_dir_, ec);
    if (created_root_) fs::remove(kSystemRoot, ec);  // only if nobody else put anything there
  }
  SystemInstall(const SystemInstall&) = delete;
  SystemInstall& operator=(const SystemInstall&) = delete;

 private:
  fs::path version_dir_;
  bool created_root_ = false;
};

// One run of `path`. In every text "{tmp}" stands for the scratch directory and "{v}" for a
// unique version tag.
struct PathCase {
  const char* name;
  std::vector<std::string> env = {};  // besides PATH
  // Created under {tmp}: "a/b" a file, "a/b/" a directory, "a/b -> target" a symbolic link.
  std::vector<std::string> layout = {};
  std::string version = "{v}";
  bool system_flag = false;
  bool installed_in_system_root = false;
  std::string expected_out = "";
  std::string expected_err = "";  // when set, the run must fail with status 1
};

void lay_out(const fs::path& dir, const std::string& entry) {
  if (const std::size_t arrow = entry.find(" -> "); arrow != std::string::npos) {
    const fs::path link = dir / entry.substr(0, arrow);
    fs::create_directories(link.parent_path());
    fs::create_symlink(entry.substr(arrow + 4), link);
  } else if (entry.ends_with('/')) {
    fs::create_directories(dir / entry);
  } else {
    write_file(dir / entry, "");
  }
}

// Runs one case with `binary` and `options`, whose env and cwd it fills in.
void check_case(const PathCase& c, const fs::path& binary, RunOptions options = {}) {
  SCOPED_TRACE(c.name);
  const TempDir tmp;
  const std::string version = unique_version();
  const auto expand = [&](std::string text) {
    replace_all(text, "{tmp}", tmp.path().native());
    replace_all(text, "{v}", version);
    return text;
  };
  for (const std::string& entry : c.layout)
    lay_out(tmp.path(), expand(entry));
  std::optional<SystemInstall> system_install;
  if (c.installed_in_system_root) system_install.emplace(version);

  options.env = minimal_env();
  for (const std::string& entry : c.env)
    options.env->push_back(expand(entry));
  if (!options.cwd) options.cwd = tmp.path();
  std::vector<std::string> args{binary.native(), "path", "--version", expand(c.version)};
  if (c.system_flag) args.push_back("--system");

  const ProcessResult result = run_process(args, options);
  EXPECT_EQ(result.out, expand(c.expected_out));
  EXPECT_EQ(result.err, expand(c.expected_err));
  EXPECT_EQ(result.status, c.expected_err.empty() ? 0 : 1);
}

bool is_root() {
  return ::geteuid() == 0;
}

TEST(PathCommand, PerUserRootFromEnvironment) {
  const PathCase cases[] = {
      {.name = "installed under SARN_RUNTIME_BUNDLE_DIR",
       .env = {"SARN_RUNTIME_BUNDLE_DIR={tmp}/b", "HOME={tmp}/h"},
       .layout = {"b/{v}/bundle.toml"},
       .expected_out = "{tmp}/b/{v}\n"},
      {.name = "trailing slash on SARN_RUNTIME_BUNDLE_DIR adds no second slash",
       .env = {"SARN_RUNTIME_BUNDLE_DIR={tmp}/b/"},
       .layout = {"b/{v}/bundle.toml"},
       .expected_out = "{tmp}/b/{v}\n"},
      {.name = "relative SARN_RUNTIME_BUNDLE_DIR stays relative",
       .env = {"SARN_RUNTIME_BUNDLE_DIR=b"},
       .layout = {"b/{v}/bundle.toml"},
       .expected_out = "b/{v}\n"},
      {.name = "empty SARN_RUNTIME_BUNDLE_DIR is ignored",
       .env = {"SARN_RUNTIME_BUNDLE_DIR=", "HOME={tmp}/h"},
       .expected_out = "{tmp}/h/.local/share/sarn-runtime/{v}\n"},
      {.name = "absolute XDG_DATA_HOME, nothing installed",
       .env = {"XDG_DATA_HOME={tmp}/x", "HOME={tmp}/h"},
       .expected_out = "{tmp}/x/sarn-runtime/{v}\n"},
      {.name = "relative XDG_DATA_HOME is ignored",
       .env = {"XDG_DATA_HOME=x", "HOME={tmp}/h"},
       .layout = {"x/sarn-runtime/{v}/bundle.toml"},
       .expected_out = "{tmp}/h/.local/share/sarn-runtime/{v}\n"},
      {.name = "empty XDG_DATA_HOME is ignored",
       .env = {"XDG_DATA_HOME=", "HOME={tmp}/h"},
       .expected_out = "{tmp}/h/.local/share/sarn-runtime/{v}\n"},
      {.name = "HOME of / gets no double slash",
       .env = {"HOME=/"},
       .expected_out = "/.local/share/sarn-runtime/{v}\n"},
      {.name = "--system ignores an installed per-user bundle",
       .env = {"SARN_RUNTIME_BUNDLE_DIR={tmp}/b"},
       .layout = {"b/{v}/bundle.toml"},
       .system_flag = true,
       .expected_out = "/usr/lib/sarn-runtime/{v}\n"},
      {.name = "--system with a plain tag",
       .env = {"HOME={tmp}/h"},
       .version = "1.0",
       .system_flag = true,
       .expected_out = "/usr/lib/sarn-runtime/1.0\n"},
      {.name = "non-UTF-8 bytes are printed as U+FFFD",
       .env = {"SARN_RUNTIME_BUNDLE_DIR={tmp}/b\xff"},
       .layout = {"b\xff/{v}/bundle.toml"},
       .expected_out = "{tmp}/b\xEF\xBF\xBD/{v}\n"},
  };
  for (const PathCase& c : cases)
    check_case(c, tool_path());
}

// A launcher takes the tag from an application's metadata, so a tag must not lead anywhere but
// to one directory right below a root: not to the root itself, above it, or to a path of its
// own. Each is refused with or without --system, and even when a bundle.toml waits where it
// would lead. Names that merely look odd are still tags.
TEST(PathCommand, TakesOnlyATagThatIsOneFileName) {
  const std::string refused_suffix = "\": a version tag must be a single file name\n";
  const std::string refused = "sarn-runtime-bundle path: invalid version tag \"";
  const PathCase cases[] = {
      {.name = "empty", .version = "", .expected_err = refused + refused_suffix},
      {.name = "dot", .version = ".", .expected_err = refused + "." + refused_suffix},
      {.name = "dot dot", .version = "..", .expected_err = refused + ".." + refused_suffix},
      {.name = "a path below the root",
       .version = "a/b",
       .expected_err = refused + "a/b" + refused_suffix},
      {.name = "a trailing slash",
       .version = "a/",
       .expected_err = refused + "a/" + refused_suffix},
      {.name = "an absolute path",
       .version = "{tmp}/abs",
       .expected_err = refused + "{tmp}/abs" + refused_suffix},
      {.name = "climbing out of the root",
       .version = "../../..",
       .expected_err = refused + "../../.." + refused_suffix},
      {.name = "three dots are a name", .version = "...", .expected_out = "{tmp}/r/b/...\n"},
      {.name = "a leading dot is a name", .version = ".1", .expected_out = "{tmp}/r/b/.1\n"},
      {.name = "a backslash is a name", .version = "a\\b", .expected_out = "{tmp}/r/b/a\\b\n"},
  };
  for (const bool system_flag : {false, true}) {
    SCOPED_TRACE(system_flag ? "with --system" : "without --system");
    for (PathCase c : cases) {
      // Something installed wherever a refused tag would lead.
      c.env = {"SARN_RUNTIME_BUNDLE_DIR={tmp}/r/b"};
      c.layout = {"r/bundle.toml", "r/b/bundle.toml", "abs/bundle.toml"};
      c.system_flag = system_flag;
      if (system_flag && !c.expected_out.empty())
        c.expected_out = "/usr/lib/sarn-runtime/" + c.version + "\n";
      check_case(c, tool_path());
    }
  }
}

// Without HOME, or with it empty, the home directory comes from the user database.
TEST(PathCommand, HomeFromUserDatabaseWhenHomeUnsetOrEmpty) {
  const passwd* entry = ::getpwuid(::getuid());
  if (entry == nullptr || entry->pw_dir == nullptr || *entry->pw_dir == '\0')
    GTEST_SKIP() << "this user has no home directory in the user database";
  std::string data_dir = entry->pw_dir;
  if (!data_dir.ends_with('/')) data_dir += '/';
  data_dir += ".local/share/sarn-runtime/{v}\n";

  const PathCase cases[] = {
      {.name = "HOME unset", .env = {}, .expected_out = data_dir},
      {.name = "HOME empty", .env = {"HOME="}, .expected_out = data_dir},
      {.name = "HOME empty, XDG_DATA_HOME relative",
       .env = {"HOME=", "XDG_DATA_HOME=x"},
       .expected_out = data_dir},
  };
  for (const PathCase& c : cases)
    check_case(c, tool_path());
}

TEST(PathCommand, InstalledChecksAgainstTheSystemRoot) {
  if (!is_root()) GTEST_SKIP() << "needs root to install under " << kSystemRoot;
  const PathCase cases[] = {
      {.name = "per-user installation wins over the system one",
       .env = {"SARN_RUNTIME_BUNDLE_DIR={tmp}/b"},
       .layout = {"b/{v}/bundle.toml"},
       .installed_in_system_root = true,
       .expected_out = "{tmp}/b/{v}\n"},
      {.name = "system installation when the per-user one is absent",
       .env = {"SARN_RUNTIME_BUNDLE_DIR={tmp}/b"},
       .installed_in_system_root = true,
       .expected_out = "/usr/lib/sarn-runtime/{v}\n"},
      {.name = "a candidate without bundle.toml is not installed",
       .env = {"SARN_RUNTIME_BUNDLE_DIR={tmp}/b"},
       .layout = {"b/{v}/lib/libc.so.6", "b/{v}/etc/ld.so.cache"},
       .installed_in_system_root = true,
       .expected_out = "/usr/lib/sarn-runtime/{v}\n"},
      {.name = "a directory named bundle.toml counts as installed",
       .env = {"SARN_RUNTIME_BUNDLE_DIR={tmp}/b"},
       .layout = {"b/{v}/bundle.toml/"},
       .installed_in_system_root = true,
       .expected_out = "{tmp}/b/{v}\n"},
      {.name = "a link to bundle.toml counts as installed",
       .env = {"SARN_RUNTIME_BUNDLE_DIR={tmp}/b"},
       .layout = {"elsewhere.toml", "b/{v}/bundle.toml -> {tmp}/elsewhere.toml"},
       .installed_in_system_root = true,
       .expected_out = "{tmp}/b/{v}\n"},
      {.name = "a dangling link named bundle.toml is not installed",
       .env = {"SARN_RUNTIME_BUNDLE_DIR={tmp}/b"},
       .layout = {"b/{v}/bundle.toml -> {tmp}/missing.toml"},
       .installed_in_system_root = true,
       .expected_out = "/usr/lib/sarn-runtime/{v}\n"},
      {.name = "installed under the data directory",
       .env = {"XDG_DATA_HOME={tmp}/x"},
       .layout = {"x/sarn-runtime/{v}/bundle.toml"},
       .installed_in_system_root = true,
       .expected_out = "{tmp}/x/sarn-runtime/{v}\n"},
  };
  for (const PathCase& c : cases)
    check_case(c, tool_path());
}

// A UID without an entry in the user database, or nothing when every candidate has one.
std::optional<uid_t> unused_uid() {
  for (uid_t uid : {54321u, 54322u, 61234u, 49999u})
    if (::getpwuid(uid) == nullptr) return uid;
  return std::nullopt;
}

// Runs as a user with neither HOME nor a user database entry.
TEST(PathCommand, UserWithoutHomeDirectory) {
  if (!is_root()) GTEST_SKIP() << "needs root to run as another user";
  const std::optional<uid_t> uid = unused_uid();
  if (!uid) GTEST_SKIP() << "no unused UID found";

  const PathCase cases[] = {
      {.name = "nothing installed", .expected_err = kUnresolvable},
      {.name = "empty and relative variables are no home",
       .env = {"SARN_RUNTIME_BUNDLE_DIR=", "XDG_DATA_HOME=x", "HOME="},
       .expected_err = kUnresolvable},
      {.name = "--system needs no home",
       .version = "1.0",
       .system_flag = true,
       .expected_out = "/usr/lib/sarn-runtime/1.0\n"},
      {.name = "system installation needs no home",
       .installed_in_system_root = true,
       .expected_out = "/usr/lib/sarn-runtime/{v}\n"},
      {.name = "absolute XDG_DATA_HOME needs no home",
       .env = {"XDG_DATA_HOME=/x"},
       .expected_out = "/x/sarn-runtime/{v}\n"},
      {.name = "SARN_RUNTIME_BUNDLE_DIR needs no home",
       .env = {"SARN_RUNTIME_BUNDLE_DIR=/opt/b"},
       .expected_out = "/opt/b/{v}\n"},
  };
  const RunOptions as_user = as_other_user(*uid, *uid);
  for (const PathCase& c : cases)
    check_case(c, tool_path_for(as_user), as_user);
}

}  // namespace
}  // namespace srb::test
