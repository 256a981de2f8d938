// Bundles in the two forms that carry them to a fleet: a Debian package made by
// scripts/bundle-deb (its files, its bytes, its name and the postinst that verifies what dpkg
// installed) and an OCI image pushed by scripts/bundle-oci to an image layout on disk.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/bundle_fixture.hpp"
#include "tests/support/process.hpp"
#include "tests/support/run_checked.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb::test {
namespace {

namespace fs = std::filesystem;

const fs::path kScripts = fs::path(SRB_SOURCE_DIR) / "scripts";
constexpr long kEpoch = 1700000000;
constexpr const char* kEpochText = "2023-11-14 22:13:20";  // kEpoch in UTC

bool has_program(const std::string& name) {
  return run_process({"sh", "-c", "command -v \"$1\"", "sh", name}).status == 0;
}

// The process environment of the scripts: the built tool first on PATH, so that a postinst finds
// it as it would find the installed one, and times shown in UTC.
RunOptions script_options(std::optional<long> epoch = std::nullopt) {
  RunOptions options;
  options.env = {"PATH=" + tool_path().parent_path().string() + ":/usr/local/bin:/usr/bin:/bin",
                 "TZ=UTC"};
  if (epoch) options.env->push_back("SOURCE_DATE_EPOCH=" + std::to_string(*epoch));
  options.umask = 022;
  return options;
}

// Runs scripts/NAME with the built tool.
ProcessResult run_script(const std::string& name, const std::vector<std::string>& args,
                         const RunOptions& options) {
  std::vector<std::string> command{"bash", (kScripts / name).string(), "--tool",
                                   tool_path().string()};
  command.insert(command.end(), args.begin(), args.end());
  return run_process(command, options);
}

ProcessResult bundle_deb(const std::vector<std::string>& args,
                         const RunOptions& options = script_options()) {
  return run_script("bundle-deb", args, options);
}

ProcessResult bundle_oci(const std::vector<std::string>& args) {
  return run_script("bundle-oci", args, script_options());
}

std::string without_newline(std::string text) {
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// A signed bundle of this host, built at kEpoch, with its identity's public key.
struct HostBundle {
  HostBundle(const fs::path& dir, const std::string& tag) : path(dir / "bundle") {
    const fs::path identity = dir / "id.json";
    run_checked({tool_path().string(), "key", "generate", "--out", identity.string()});
    RunOptions options = script_options(kEpoch);
    run_checked({tool_path().string(), "build", "--version", tag, "--out", path.string(),
                 "--identity", identity.string()},
                options);
    publisher = without_newline(
        run_checked({tool_path().string(), "key", "pubkey", "--identity", identity.string()}).out);
  }
  fs::path path;
  std::string publisher;
};

std::string host_debian_arch() {
  return without_newline(run_checked({"dpkg", "--print-architecture"}).out);
}

std::string mode_text(const fs::path& path) {
  struct stat status;
  if (::lstat(path.c_str(), &status) != 0) throw std::runtime_error("lstat " + path.string());
  std::string text = S_ISDIR(status.st_mode) ? "d" : S_ISREG(status.st_mode) ? "-" : "?";
  const char* letters = "rwxrwxrwx";
  for (int bit = 0; bit < 9; ++bit)
    text += (status.st_mode & (0400 >> bit)) ? letters[bit] : '-';
  return text;
}

// One entry of a package's data archive as `tar --list --verbose` shows it.
struct ArchiveEntry {
  std::string mode;
  std::string owner;
  std::string time;
  bool operator==(const ArchiveEntry&) const = default;
};

std::map<std::string, ArchiveEntry> data_entries(const fs::path& deb) {
  RunOptions utc;
  utc.env = {"PATH=/usr/bin:/bin", "TZ=UTC"};
  const ProcessResult listing = run_checked(
      {"sh", "-c", "dpkg-deb --fsys-tarfile \"$1\" | tar -tv --numeric-owner --full-time -f -",
       "sh", deb.string()},
      utc);
  std::map<std::string, ArchiveEntry> entries;
  std::istringstream lines(listing.out);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string mode, owner, size, date, time, name;
    words >> mode >> owner >> size >> date >> time >> name;
    entries[name] = {mode, owner, date + " " + time};
  }
  return entries;
}

TEST(BundleDeb, PackageInstallsTheBundlesOwnBytesAtTheSystemLocation) {
  TempDir dir;
  const HostBundle bundle(dir.path(), "2.5");
  fs::create_directory(dir / "out");
  const ProcessResult made = bundle_deb({"--require-publisher", bundle.publisher, "--out-dir",
                                         (dir / "out").string(), bundle.path.string()});
  ASSERT_EQ(made.status, 0) << made.err;
  const fs::path deb = dir / "out" / ("sarn-runtime-2.5_1700000000_" + host_debian_arch() + ".deb");
  EXPECT_EQ(made.out, deb.string() + "\n");
  ASSERT_TRUE(fs::is_regular_file(deb));

  const auto field = [&](const char* name) {
    return without_newline(run_checked({"dpkg-deb", "--field", deb.string(), name}).out);
  };
  EXPECT_EQ(field("Package"), "sarn-runtime-2.5");
  EXPECT_EQ(field("Version"), "1700000000");
  EXPECT_EQ(field("Architecture"), host_debian_arch());
  EXPECT_EQ(field("Depends"), "sarn-runtime-bundle");

  // Every entry belongs to root, carries the bundle's production time, and the bundle's own
  // entries keep their modes; besides them come the parents and the package's documents.
  std::map<std::string, ArchiveEntry> expected;
  const auto add = [&](const std::string& name, const std::string& mode) {
    expected[name] = {mode, "0/0", kEpochText};
  };
  for (const char* parent :
       {"./", "./usr/", "./usr/lib/", "./usr/lib/sarn-runtime/", "./usr/lib/sarn-runtime/2.5/",
        "./usr/share/", "./usr/share/doc/", "./usr/share/doc/sarn-runtime-2.5/",
        "./usr/share/lintian/", "./usr/share/lintian/overrides/"})
    add(parent, "drwxr-xr-x");
  for (const char* document : {"./usr/share/doc/sarn-runtime-2.5/copyright",
                               "./usr/share/doc/sarn-runtime-2.5/changelog.gz",
                               "./usr/share/lintian/overrides/sarn-runtime-2.5"})
    add(document, "-rw-r--r--");
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(bundle.path)) {
    const std::string name =
        "./usr/lib/sarn-runtime/2.5/" + fs::relative(entry.path(), bundle.path).string();
    add(entry.is_directory() ? name + "/" : name, mode_text(entry.path()));
  }
  EXPECT_EQ(data_entries(deb), expected);

  // Unpacked, the files are the bundle's bytes, and the tree verifies with the publisher.
  const fs::path root = dir / "root";
  run_checked({"dpkg-deb", "--extract", deb.string(), root.string()});
  const fs::path installed = root / "usr/lib/sarn-runtime/2.5";
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(bundle.path)) {
    if (!entry.is_regular_file()) continue;
    const fs::path relative = fs::relative(entry.path(), bundle.path);
    EXPECT_EQ(read_file(installed / relative), read_file(entry.path())) << relative;
  }
  run_checked({tool_path().string(), "verify", "--require-publisher", bundle.publisher,
               installed.string()});

  if (!has_program("lintian"))
    GTEST_SKIP() << "lintian is missing: scripts/install-deps installs it";
  // Nothing beyond the overrides, each of which states its reason (lintian warns on standard
  // error when run as root).
  const ProcessResult lintian = run_process({"lintian", deb.string()});
  EXPECT_EQ(lintian.out, "");
  EXPECT_EQ(lintian.status, 0) << lintian.err;
  const std::string overrides = read_file(root / "usr/share/lintian/overrides/sarn-runtime-2.5");
  std::istringstream lines(overrides);
  bool reason = false;
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("#")) {
      EXPECT_TRUE(reason) << "an override without a reason: " << line;
    }
    reason = line.starts_with("#") || (reason && !line.empty());
  }
}

// The same bundle packs into the same bytes: packaged again from a copy made later (other times,
// another directory, another umask), and without SOURCE_DATE_EPOCH, whose place the bundle's
// production time then takes.
TEST(BundleDeb, SameBundleGivesByteIdenticalPackages) {
  TempDir dir;
  const HostBundle bundle(dir.path(), "1.0");
  const fs::path copy = dir / "elsewhere/copy";
  fs::create_directories(copy.parent_path());
  run_checked({"cp", "-R", bundle.path.string(), copy.string()});
  struct Run {
    fs::path source;
    std::optional<long> epoch;
    mode_t umask;
  };
  std::vector<std::string> packages;
  int n = 0;
  for (const Run& run :
       {Run{bundle.path, kEpoch, 022}, Run{copy, kEpoch, 077}, Run{copy, std::nullopt, 002}}) {
    const fs::path out = dir / ("out" + std::to_string(n++));
    fs::create_directory(out);
    RunOptions options = script_options(run.epoch);
    options.umask = run.umask;
    const ProcessResult made =
        bundle_deb({"--out-dir", out.string(), run.source.string()}, options);
    ASSERT_EQ(made.status, 0) << made.err;
    packages.push_back(digest_of(without_newline(made.out)));
  }
  // Digests of the packages, so that a difference does not print two archives.
  EXPECT_EQ(packages[0], packages[1]);
  EXPECT_EQ(packages[0], packages[2]);
}

TEST(BundleDeb, RefusesTagsThatCannotNameAPackage) {
  const std::string charset =
      "it may hold only lower-case letters a-z, digits 0-9, '+', '-' and '.'";
  const std::string not_a_name = "cannot name a directory";
  const struct {
    std::string tag;
    std::string refusal;  // empty: packaged
  } cases[] = {
      {"1.0+git.2-x", ""},  {"7", ""},          {"1.0_rc1", charset},        {"1.0-RC1", charset},
      {"1.0~rc1", charset}, {"1.0:1", charset}, {"caf\xc3\xa9", not_a_name}, {"1.0 rc", not_a_name},
      {"a/b", not_a_name},  {".", not_a_name},  {"..", not_a_name},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    TempDir dir;
    make_bundle(dir / "bundle", {.version = c.tag, .files = {{"lib/libc.so.6", "libc"}}});
    fs::create_directory(dir / "out");
    const ProcessResult made =
        bundle_deb({"--out-dir", (dir / "out").string(), (dir / "bundle").string()});
    if (c.refusal.empty()) {
      EXPECT_EQ(made.status, 0) << made.err;
      EXPECT_EQ(
          made.out,
          (dir / "out" / ("sarn-runtime-" + c.tag + "_1700000000_amd64.deb")).string() + "\n");
    } else {
      EXPECT_EQ(made.status, 1);
      EXPECT_NE(made.err.find(c.refusal), std::string::npos) << made.err;
      EXPECT_EQ(names_in(dir / "out"), std::vector<std::string>{});
    }
  }
}

// The package's architecture is Debian's name of the manifest's; dpkg's own table agrees.
TEST(BundleDeb, ArchitectureIsDebiansNameOfTheManifestsArch) {
  for (const std::string arch : {"x86_64", "aarch64", "riscv64"}) {
    SCOPED_TRACE(arch);
    TempDir dir;
    make_bundle(dir / "bundle", {.arch = arch, .files = {{"lib/libc.so.6", "libc"}}});
    const ProcessResult made =
        bundle_deb({"--out-dir", dir.path().string(), (dir / "bundle").string()});
    if (arch == "riscv64") {
      EXPECT_EQ(made.status, 1);
      EXPECT_NE(made.err.find("no Debian architecture is known for the bundle's arch 'riscv64'"),
                std::string::npos)
          << made.err;
      continue;
    }
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string debian = without_newline(
        run_checked({"dpkg-deb", "--field", without_newline(made.out), "Architecture"}).out);
    const ProcessResult gnu =
        run_checked({"dpkg-architecture", "--host-arch", debian, "--query", "DEB_HOST_GNU_CPU"});
    EXPECT_EQ(without_newline(gnu.out), arch);
  }
}

// The postinst as dpkg runs it for an installation below DPKG_ROOT: it configures an intact
// bundle of the pinned publisher whose version is its directory's, and nothing else.
TEST(BundleDeb, PostinstConfiguresOnlyAnIntactBundleOfItsPublisherAndTag) {
  TempDir dir;
  const SigningKey publisher = test_key(0x42);
  const SigningKey stranger = test_key(0x17);
  const BundleParts parts{.version = "1.0",
                          .files = {{"lib/lib/x86_64-linux-gnu/libc.so.6", "libc"},
                                    {"lib/lib64/ld-linux-x86-64.so.2", "loader"}},
                          .key = &publisher};
  const BundleManifest manifest = make_bundle(dir / "bundle", parts);
  const ProcessResult made =
      bundle_deb({"--require-publisher", *manifest.publisher_hex, "--out-dir", dir.path().string(),
                  (dir / "bundle").string()});
  ASSERT_EQ(made.status, 0) << made.err;
  const fs::path deb = without_newline(made.out);
  const fs::path control = dir / "control";
  run_checked({"dpkg-deb", "--control", deb.string(), control.string()});

  const struct {
    const char* name;
    std::function<void(const fs::path& installed)> change;
    std::string complaint;  // empty: configures
  } cases[] = {
      {"intact", [](const fs::path&) {}, ""},
      {"a library changed",
       [](const fs::path& installed) {
         write_file(installed / "lib/lib/x86_64-linux-gnu/libc.so.6", "libC");
       },
       "hash mismatch"},
      {"a file added",
       [](const fs::path& installed) { write_file(installed / "lib/libextra.so", "x"); },
       "not listed in bundle.toml: lib/libextra.so"},
      {"half unpacked, bundle.toml missing",
       [](const fs::path& installed) { fs::remove(installed / "bundle.toml"); },
       "bundle.toml not found"},
      {"the same files signed by another publisher",
       [&](const fs::path& installed) {
         BundleParts other = parts;
         other.key = &stranger;
         make_bundle(installed, other);
       },
       "does not match required"},
      {"a signed bundle of another version",
       [&](const fs::path& installed) {
         BundleParts other = parts;
         other.version = "0.9";
         make_bundle(installed, other);
       },
       "is version 0.9, not 1.0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TempDir root;
    run_checked({"dpkg-deb", "--extract", deb.string(), root.path().string()});
    c.change(root / "usr/lib/sarn-runtime/1.0");
    RunOptions options = script_options();
    options.env->push_back("DPKG_ROOT=" + root.path().string());
    const ProcessResult configured =
        run_process({(control / "postinst").string(), "configure", ""}, options);
    if (c.complaint.empty()) {
      EXPECT_EQ(configured.status, 0) << configured.err;
      EXPECT_EQ(configured.err, "");
    } else {
      EXPECT_EQ(configured.status, 1);
      EXPECT_NE(configured.err.find(c.complaint), std::string::npos) << configured.err;
    }
  }
}

bool has_oci_tools() {
  return has_program("umoci") && has_program("skopeo");
}

// The image's configuration as skopeo reads it from a layout.
nlohmann::json image_config(const std::string& reference) {
  return nlohmann::json::parse(run_checked({"skopeo", "inspect", "--config", reference}).out);
}

// Two pushes of the same bundle, the second from a copy made later, give one manifest digest;
// pulled back and unpacked, the image is the bundle at its system location and nothing else.
TEST(BundleOci, SameBundleGivesOneImageThatUnpacksToAVerifiedBundle) {
  if (!has_oci_tools())
    GTEST_SKIP() << "umoci or skopeo is missing: scripts/install-deps installs them";
  TempDir dir;
  const HostBundle bundle(dir.path(), "1.0");
  const fs::path copy = dir / "copy";
  run_checked({"cp", "-R", bundle.path.string(), copy.string()});
  std::vector<std::string> digests;
  for (const auto& [source, layout] :
       {std::pair{bundle.path, dir / "one"}, std::pair{copy, dir / "two"}}) {
    const ProcessResult pushed = bundle_oci({"--require-publisher", bundle.publisher,
                                             source.string(), "oci:" + layout.string() + ":1.0"});
    ASSERT_EQ(pushed.status, 0) << pushed.err;
    const std::string out = without_newline(pushed.out);
    digests.push_back(out.substr(out.rfind('\n') + 1));
  }
  EXPECT_TRUE(digests[0].starts_with("sha256:")) << digests[0];
  EXPECT_EQ(digests[0], digests[1]);

  const std::string image = "oci:" + (dir / "one").string() + ":1.0";
  const nlohmann::json config = image_config(image);
  EXPECT_EQ(config["architecture"], host_debian_arch());
  EXPECT_EQ(config["os"], "linux");
  EXPECT_EQ(config["created"], "2023-11-14T22:13:20Z");
  EXPECT_EQ(config["rootfs"]["diff_ids"].size(), 1u);
  EXPECT_FALSE(config.contains("history"));

  // A receiving host: copy the image into a layout of its own, unpack its layer, verify.
  const fs::path pulled = dir / "pulled";
  run_checked({"skopeo", "copy", "--quiet", image, "oci:" + pulled.string() + ":1.0"});
  const fs::path rootfs = dir / "rootfs";
  run_checked({"umoci", "--log", "error", "raw", "unpack", "--image", pulled.string() + ":1.0",
               rootfs.string()});
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(rootfs)) {
    const std::string name = fs::relative(entry.path(), rootfs).string();
    EXPECT_TRUE(std::string("usr/lib/sarn-runtime/1.0").starts_with(name) ||
                name.starts_with("usr/lib/sarn-runtime/1.0/"))
        << name;
  }
  run_checked({tool_path().string(), "verify", "--require-publisher", bundle.publisher,
               (rootfs / "usr/lib/sarn-runtime/1.0").string()});
}

TEST(BundleOci, RefusesABundleThatDoesNotVerify) {
  if (!has_oci_tools())
    GTEST_SKIP() << "umoci or skopeo is missing: scripts/install-deps installs them";
  TempDir dir;
  const SigningKey key = test_key();
  make_bundle(dir / "bundle", {.files = {{"lib/libc.so.6", "libc"}}, .key = &key});
  write_file(dir / "bundle/lib/libc.so.6", "libC");
  const ProcessResult pushed =
      bundle_oci({(dir / "bundle").string(), "oci:" + (dir / "layout").string() + ":1.0"});
  EXPECT_EQ(pushed.status, 1);
  EXPECT_NE(pushed.err.find("hash mismatch"), std::string::npos) << pushed.err;
  EXPECT_NE(pushed.err.find("does not verify"), std::string::npos) << pushed.err;
  EXPECT_FALSE(fs::exists(dir / "layout"));
}

}  // namespace
}  // namespace srb::test
