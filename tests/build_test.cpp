// End-to-end tests of `build`: the binary run on fabricated host roots. Every file of a fake root
// holds "content of {host path}\n", so the digests below are fixed known answers, computed with
// an independent BLAKE3 and Ed25519 implementation.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <map>

#include "build/host_sources.hpp"
#include "manifest/manifest.hpp"
#include "tests/support/process.hpp"
#include "tests/support/sysroot_fixture.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb::test {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kDash = "\xE2\x80\x94";
constexpr std::string_view kNotRegular =
    "sarn-runtime-bundle build: i/o: the source path is neither a regular file nor a symlink to "
    "a regular file\n";

// The RFC 8032 test 1 secret key and its public key.
constexpr std::string_view kIdentity =
    "{\"secret_key_hex\":\"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60\"}\n";
constexpr std::string_view kPublisher =
    "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a";

// The x86_64 fixture below: the loader reached through a link, libc, a dangling libc link and
// the loader cache.
constexpr std::string_view kX86RootHash =
    "c405c1c30fe2c6e132849fd681eb0e9856202a1fb122165ae33a4cf3be3aa4ed";
constexpr std::string_view kX86Files =
    "\n[[files]]\n"
    "path = \"etc/ld.so.cache\"\n"
    "hash = \"ef66493c24a6fe85f82a8d6cd2ae000ae1006feadbd492736084c571ba5b6dd8\"\n"
    "size = 28\n"
    "\n[[files]]\n"
    "path = \"lib/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2\"\n"
    "hash = \"c360cb01e09a70b5c0097868b88e0a9d55c406d10521f2f6e89e322bd119c604\"\n"
    "size = 54\n"
    "\n[[files]]\n"
    "path = \"lib/lib/x86_64-linux-gnu/libc.so.6\"\n"
    "hash = \"bf020750f4a52dd63cac06ad46ac6b5588fecab186570db2b6a1ab774cad13fb\"\n"
    "size = 43\n"
    "\n[[files]]\n"
    "path = \"lib/lib64/ld-linux-x86-64.so.2\"\n"
    "hash = \"c360cb01e09a70b5c0097868b88e0a9d55c406d10521f2f6e89e322bd119c604\"\n"
    "size = 54\n";

void make_x86_64_root(const fs::path& root) {
  make_host_root(root, {"/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2",
                        "/lib/x86_64-linux-gnu/libc.so.6", "/etc/ld.so.cache"});
  fs::create_directories(root / "lib64");
  fs::create_symlink("../lib/x86_64-linux-gnu/ld-linux-x86-64.so.2",
                     root / "lib64/ld-linux-x86-64.so.2");
  fs::create_symlink("libc-gone.so.6", root / "lib64/libc.so.6");
}

RunOptions with_epoch(std::string_view epoch = "1700000000") {
  RunOptions options;
  options.env = minimal_env();
  options.env->push_back("SOURCE_DATE_EPOCH=" + std::string(epoch));
  return options;
}

ProcessResult build(const std::vector<std::string>& args,
                    const RunOptions& options = with_epoch()) {
  std::vector<std::string> full{"build", "--version", "1.0"};
  full.insert(full.end(), args.begin(), args.end());
  return run_tool(full, options);
}

// Every entry below `dir`: files as their relative path, directories with a trailing "/", and
// anything else (a link, say) marked with "?".
std::vector<std::string> tree_of(const fs::path& dir) {
  std::vector<std::string> entries;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir)) {
    std::string name = fs::relative(entry.path(), dir).string();
    if (entry.is_symlink())
      name += "?";
    else if (entry.is_directory())
      name += "/";
    entries.push_back(name);
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

std::string summary(std::string_view out, std::string_view arch, int files,
                    std::string_view root_hash) {
  return "built bundle at " + std::string(out) +
         "\n  version  : 1.0\n  arch     : " + std::string(arch) +
         "\n  files    : " + std::to_string(files) +
         "\n  root-hash: blake3:" + std::string(root_hash) + "\n";
}

std::string digest_in_manifest(const fs::path& bundle, std::string_view bundle_path) {
  const std::string text = read_file(bundle / "bundle.toml");
  const std::size_t at = text.find("path = \"" + std::string(bundle_path) + "\"\nhash = \"");
  if (at == std::string::npos) return "";
  return text.substr(text.find("hash = \"", at) + 8, 64);
}

TEST(Build, MirrorsPresentEntriesAndWritesTheExactManifest) {
  TempDir dir;
  make_x86_64_root(dir / "root");
  RunOptions options = with_epoch();
  options.cwd = dir.path();
  const ProcessResult r = build({"--out", "out", "--from", "root", "--arch", "x86_64"}, options);
  ASSERT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, summary("out", "x86_64", 4, kX86RootHash));
  // The linked loader is stored twice, as regular files; the dangling libc link is skipped.
  EXPECT_EQ(
      tree_of(dir / "out"),
      (std::vector<std::string>{
          "bundle.toml", "etc/", "etc/ld.so.cache", "lib/", "lib/lib/", "lib/lib/x86_64-linux-gnu/",
          "lib/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2", "lib/lib/x86_64-linux-gnu/libc.so.6",
          "lib/lib64/", "lib/lib64/ld-linux-x86-64.so.2"}));
  EXPECT_EQ(read_file(dir / "out/lib/lib64/ld-linux-x86-64.so.2"),
            "content of /lib/x86_64-linux-gnu/ld-linux-x86-64.so.2\n");
  EXPECT_EQ(read_file(dir / "out/bundle.toml"),
            "version = \"1.0\"\narch = \"x86_64\"\nroot_hash = \"" + std::string(kX86RootHash) +
                "\"\nproduced_at = 1700000000\n" + std::string(kX86Files));
}

TEST(Build, SignsWithAnIdentity) {
  TempDir dir;
  make_x86_64_root(dir / "root");
  write_file(dir / "identity.json", kIdentity, 0600);
  const ProcessResult r =
      build({"--out", (dir / "out").string(), "--from", (dir / "root").string(), "--arch", "x86_64",
             "--identity", (dir / "identity.json").string()});
  ASSERT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, summary((dir / "out").string(), "x86_64", 4, kX86RootHash) +
                       "  publisher: ed25519:" + std::string(kPublisher) + "\n  signed   : yes\n");
  EXPECT_EQ(read_file(dir / "out/bundle.toml"),
            "version = \"1.0\"\narch = \"x86_64\"\nroot_hash = \"" + std::string(kX86RootHash) +
                "\"\nproduced_at = 1700000000\npublisher_hex = \"" + std::string(kPublisher) +
                "\"\nsignature_hex = \"55dc48fe8e3a1190e3077762c1adb9e61f370e5e0d30272e7da42c351d7"
                "ae6fb5aa48a10fd4c47f9efe5e014af225e0cb19e22d67d3bc4ce90c17eaff7ae7b01\"\n" +
                std::string(kX86Files));
  const ProcessResult pubkey =
      run_tool({"key", "pubkey", "--identity", (dir / "identity.json").string()});
  EXPECT_EQ(pubkey.out, std::string(kPublisher) + "\n");
}

// The version is stored as given, but the summary cannot be made to show a line of its own (a
// "signed" line, here) or a terminal escape; nor can the out path.
TEST(Build, SummaryShowsControlCharactersEscapedButTheManifestKeepsThem) {
  TempDir dir;
  make_x86_64_root(dir / "root");
  const std::string version = "2\n  signed   : yes\x1B[0m";
  RunOptions options = with_epoch();
  options.cwd = dir.path();
  const ProcessResult r = run_tool(
      {"build", "--version", version, "--out", "out\rx", "--from", "root", "--arch", "x86_64"},
      options);
  ASSERT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  const Result<BundleManifest> written = load_manifest(dir / "out\rx");
  ASSERT_TRUE(written);
  EXPECT_EQ(written->version, version);
  EXPECT_EQ(r.out,
            "built bundle at out\\rx\n"
            "  version  : 2\\n  signed   : yes\\u{1b}[0m\n"
            "  arch     : x86_64\n"
            "  files    : 4\n"
            "  root-hash: blake3:" +
                written->root_hash + "\n");
}

TEST(Build, Aarch64TableUnderARootWithoutLoaderCache) {
  TempDir dir;
  make_host_root(dir / "root", {"/lib/ld-linux-aarch64.so.1", "/usr/lib64/libc.so.6"});
  const ProcessResult r = build(
      {"--out", (dir / "out").string(), "--from", (dir / "root/").string(), "--arch", "aarch64"});
  ASSERT_EQ(r.err, "");
  EXPECT_EQ(r.out, summary((dir / "out").string(), "aarch64", 2,
                           "ab2d820b251545a5527538e63b14e20e25e54ce0ce5cf84a8472e878836f98b3"));
  EXPECT_EQ(
      tree_of(dir / "out"),
      (std::vector<std::string>{"bundle.toml", "lib/", "lib/lib/", "lib/lib/ld-linux-aarch64.so.1",
                                "lib/usr/", "lib/usr/lib64/", "lib/usr/lib64/libc.so.6"}));
  EXPECT_EQ(
      read_file(dir / "out/bundle.toml"),
      "version = \"1.0\"\narch = \"aarch64\"\n"
      "root_hash = \"ab2d820b251545a5527538e63b14e20e25e54ce0ce5cf84a8472e878836f98b3\"\n"
      "produced_at = 1700000000\n"
      "\n[[files]]\npath = \"lib/lib/ld-linux-aarch64.so.1\"\n"
      "hash = \"17d8ac68fbb8ff7608ad13743080e5e662dc9007652ec75cd4e5a86dcf6c2692\"\nsize = 38\n"
      "\n[[files]]\npath = \"lib/usr/lib64/libc.so.6\"\n"
      "hash = \"161f69bb87dfb6bb002dabae5434327957f2dd6920077d1e7f6bb1815d222a58\"\nsize = 32\n");
}

TEST(Build, TheLoaderCacheAloneIsEnough) {
  TempDir dir;
  make_host_root(dir / "root", {"/etc/ld.so.cache"});
  const ProcessResult r = build(
      {"--out", (dir / "out").string(), "--from", (dir / "root").string(), "--arch", "x86_64"});
  ASSERT_EQ(r.err, "");
  EXPECT_EQ(tree_of(dir / "out"),
            (std::vector<std::string>{"bundle.toml", "etc/", "etc/ld.so.cache", "lib/"}));
}

TEST(Build, NoSourcesListsEveryCandidateUnderTheRoot) {
  TempDir dir;
  fs::create_directory(dir / "empty");
  for (const HostSourceTable& table : host_source_tables()) {
    const std::string arch(table.arch);
    SCOPED_TRACE(arch);
    const ProcessResult r = build(
        {"--out", (dir / "out").string(), "--from", (dir / "empty").string(), "--arch", arch});
    std::string expected =
        "sarn-runtime-bundle build: no bundle sources found " + std::string(kDash) + " checked [";
    std::size_t count = 0;
    for (const HostEntry& entry : table.entries) {
      expected +=
          (count++ ? ", \"" : "\"") + (dir / "empty").string() + std::string(entry.path) + "\"";
    }
    EXPECT_EQ(count, arch == "x86_64" ? 19u : 25u);
    EXPECT_EQ(r.err, expected + "]\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fs::exists(dir / "out/bundle.toml"));
  }
}

TEST(Build, UnsupportedArchTouchesNothing) {
  TempDir dir;
  for (std::string_view arch : {"AARCH64", "arm64", ""}) {
    SCOPED_TRACE(arch);
    const ProcessResult r = build({"--out", (dir / "out").string(), "--arch", std::string(arch)});
    EXPECT_EQ(r.err, "sarn-runtime-bundle build: no host source table for arch " +
                         std::string(arch) + " " + std::string(kDash) +
                         " supported: x86_64, aarch64\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(fs::exists(dir / "out"));
  }
}

TEST(Build, FailsOnADirectoryEntryAndOnAnOutPathThatIsAFile) {
  TempDir dir;
  make_host_root(dir / "root", {"/etc/ld.so.cache"});
  fs::create_directories(dir / "root/lib64/libc.so.6");
  const ProcessResult entry = build(
      {"--out", (dir / "out").string(), "--from", (dir / "root").string(), "--arch", "x86_64"});
  EXPECT_EQ(entry.err, kNotRegular);
  EXPECT_EQ(entry.status, 1);
  EXPECT_FALSE(fs::exists(dir / "out/lib/lib64/libc.so.6"));

  write_file(dir / "file", "x");
  const ProcessResult file = build(
      {"--out", (dir / "file").string(), "--from", (dir / "root").string(), "--arch", "x86_64"});
  EXPECT_EQ(file.err, "sarn-runtime-bundle build: i/o: Not a directory (os error 20)\n");
  EXPECT_EQ(file.status, 1);
}

// An --out that does not exist yet is created as mkdir -p creates it, "." and ".." components
// included: relative to the working directory, ".." from the directory just made.
TEST(Build, CreatesAMissingOutPathWithDotComponentsAsMkdirDoes) {
  TempDir dir;
  make_host_root(dir / "root", {"/etc/ld.so.cache"});
  const struct {
    const char* out;
    const char* bundle;  // where bundle.toml then lies, below the working directory
  } cases[] = {
      {"rel/./x/", "rel/x"},  {"out/.", "out"},           {"rel2/../y", "y"},
      {"rel3/x/.", "rel3/x"}, {"a/b/../../c/./d", "c/d"}, {"./e/f", "e/f"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.out);
    RunOptions options = with_epoch();
    options.cwd = dir / "work";
    fs::create_directories(*options.cwd);
    const ProcessResult r =
        build({"--out", c.out, "--from", (dir / "root").string(), "--arch", "x86_64"}, options);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(fs::is_regular_file(dir / "work" / c.bundle / "bundle.toml"));
  }
}

TEST(Build, IncludesGoFlatIntoLibInOrderWithLinksFollowed) {
  TempDir dir;
  fs::create_directory(dir / "root");
  write_file(dir / "x/libstd-0a1b.so", "std bytes");
  write_file(dir / "x/real-shim.so", "shim bytes", 0751);
  fs::create_directories(dir / "y");
  fs::create_symlink("../x/real-shim.so", dir / "y/libhostshim_dylib.so");
  const ProcessResult r =
      build({"--out", (dir / "out").string(), "--from", (dir / "root").string(), "--arch", "x86_64",
             "--include", (dir / "y/libhostshim_dylib.so").string(), "--include",
             (dir / "x/libstd-0a1b.so").string()});
  ASSERT_EQ(r.err, "");
  EXPECT_EQ(tree_of(dir / "out"),
            (std::vector<std::string>{"bundle.toml", "lib/", "lib/libhostshim_dylib.so",
                                      "lib/libstd-0a1b.so"}));
  EXPECT_EQ(read_file(dir / "out/lib/libhostshim_dylib.so"), "shim bytes");
  EXPECT_EQ(permissions_of(dir / "out/lib/libhostshim_dylib.so"), 0751u);
  // Listed sorted, not in command-line order.
  const std::string manifest = read_file(dir / "out/bundle.toml");
  EXPECT_LT(manifest.find("lib/libhostshim_dylib.so"), manifest.find("lib/libstd-0a1b.so"));
}

TEST(Build, RefusedIncludesStopTheBuildBeforeTheManifest) {
  TempDir dir;
  make_host_root(dir / "root", {"/lib64/libc.so.6"});
  write_file(dir / "x/libfirst.so", "first");
  write_file(dir / "y/libfirst.so", "other first");
  for (const char* name : {"a\\b.so", "a\tb.so", "a\nb.so"})
    write_file(dir / "x" / name, "odd");
  fs::create_directories(dir / "x/dir.so");
  const std::string x = (dir / "x").string();
  const std::string prefix = "sarn-runtime-bundle build: extra lib to include ";
  struct Case {
    std::string include;
    std::string err;
  };
  const Case cases[] = {
      {x + "/missing.so", prefix + "is missing from the host: " + x + "/missing.so\n"},
      {x + "/libfirst.so/", prefix + "is missing from the host: " + x + "/libfirst.so/\n"},
      {"/", prefix + "has no file name: /\n"},
      {".", prefix + "has no file name: .\n"},
      {"./", prefix + "has no file name: ./\n"},
      {x + "/dir.so/..", prefix + "has no file name: " + x + "/dir.so/..\n"},
      // A trailing "/" or "/." still names the directory, which the copy then refuses.
      {x + "/dir.so", std::string(kNotRegular)},
      {x + "/dir.so/", std::string(kNotRegular)},
      {x + "/dir.so/.", std::string(kNotRegular)},
      {(dir / "y/libfirst.so").string(), prefix + "has the same file name as an earlier one: " +
                                             (dir / "y/libfirst.so").string() + "\n"},
      {x + "/a\\b.so",
       prefix + "has a file name that is not a valid bundle path: " + x + "/a\\b.so\n"},
      // The message shows the tab and the line feed escaped: the error stays one line.
      {x + "/a\tb.so",
       prefix + "has a file name that is not a valid bundle path: " + x + "/a\\tb.so\n"},
      {x + "/a\nb.so",
       prefix + "has a file name that is not a valid bundle path: " + x + "/a\\nb.so\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.include);
    const fs::path out = dir / "out";
    fs::remove_all(out);
    const ProcessResult r =
        build({"--out", out.string(), "--from", (dir / "root").string(), "--arch", "x86_64",
               "--include", x + "/libfirst.so", "--include", c.include});
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    // What came before is copied; the refused include and the manifest are not.
    EXPECT_EQ(read_file(out / "lib/lib64/libc.so.6"), "content of /lib64/libc.so.6\n");
    EXPECT_EQ(read_file(out / "lib/libfirst.so"), "first");
    EXPECT_EQ(tree_of(out).size(), 4u);
  }
}

TEST(Build, SourceDateEpochFixesProducedAt) {
  TempDir dir;
  make_host_root(dir / "root", {"/etc/ld.so.cache"});
  const std::vector<std::string> args = {
      "--out", (dir / "out").string(), "--from", (dir / "root").string(), "--arch", "x86_64"};
  struct Accepted {
    const char* epoch;
    const char* produced_at;
  };
  for (const Accepted& c : {Accepted{"0", "0"}, Accepted{"+17", "17"}, Accepted{"0017", "17"}}) {
    SCOPED_TRACE(c.epoch);
    const ProcessResult r = build(args, with_epoch(c.epoch));
    ASSERT_EQ(r.err, "");
    EXPECT_NE(read_file(dir / "out/bundle.toml")
                  .find("\nproduced_at = " + std::string(c.produced_at) + "\n"),
              std::string::npos);
  }
  const std::string refused =
      "sarn-runtime-bundle build: SOURCE_DATE_EPOCH must be an unsigned "
      "unix timestamp: ";
  for (const char* epoch : {"", "-1", " 17", "17 ", "1e9", "18446744073709551616"}) {
    SCOPED_TRACE(epoch);
    const ProcessResult r = build(args, with_epoch(epoch));
    EXPECT_EQ(r.err, refused + epoch + "\n");
    EXPECT_EQ(r.status, 1);
  }
  const ProcessResult too_big = build(args, with_epoch("18446744073709551615"));
  EXPECT_EQ(
      too_big.err,
      "sarn-runtime-bundle build: bundle.toml parse error: out-of-range value for u64 type\n");
}

TEST(Build, WithoutSourceDateEpochRecordsTheCurrentTime) {
  TempDir dir;
  make_host_root(dir / "root", {"/etc/ld.so.cache"});
  RunOptions options;
  options.env = minimal_env();
  // time() reads the clock as of the last tick, which may lag the precise clock that the tool
  // and the file system read by a few milliseconds, so the precise clock bounds the end.
  const long before = static_cast<long>(::time(nullptr));
  const ProcessResult r = build(
      {"--out", (dir / "out").string(), "--from", (dir / "root").string(), "--arch", "x86_64"},
      options);
  const long after = static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(
                                           std::chrono::system_clock::now().time_since_epoch())
                                           .count());
  ASSERT_EQ(r.err, "");
  const std::string text = read_file(dir / "out/bundle.toml");
  const long produced_at = std::stol(text.substr(text.find("produced_at = ") + 14));
  EXPECT_LE(before, produced_at);
  EXPECT_LE(produced_at, after);
}

TEST(Build, KeepsPermissionBitsAndRebuildsByteIdentically) {
  TempDir dir;
  make_x86_64_root(dir / "root");
  ::chmod((dir / "root/lib/x86_64-linux-gnu/libc.so.6").c_str(), 0751);
  RunOptions options = with_epoch();
  options.umask = 077;
  const auto run = [&](const fs::path& out) {
    return build({"--out", out.string(), "--from", (dir / "root").string(), "--arch", "x86_64"},
                 options);
  };
  ASSERT_EQ(run(dir / "one").err, "");
  ASSERT_EQ(run(dir / "two").err, "");
  EXPECT_EQ(permissions_of(dir / "one/lib/lib/x86_64-linux-gnu/libc.so.6"), 0751u);
  EXPECT_EQ(permissions_of(dir / "one/lib"), 0700u);
  EXPECT_EQ(permissions_of(dir / "one/bundle.toml"), 0600u);
  EXPECT_EQ(read_file(dir / "one/bundle.toml"), read_file(dir / "two/bundle.toml"));
  ASSERT_EQ(run(dir / "one").err, "");
  EXPECT_EQ(read_file(dir / "one/bundle.toml"), read_file(dir / "two/bundle.toml"));
}

// Rebuilding with a source that is the bundle's own copy must not truncate it.
TEST(Build, ASourceInsideTheBundleKeepsItsContent) {
  TempDir dir;
  make_x86_64_root(dir / "root");
  write_file(dir / "libextra.so", "extra bytes");
  const fs::path out = dir / "out";
  const std::vector<std::string> base = {"--out", out.string(), "--arch", "x86_64"};
  const auto build_with = [&](std::vector<std::string> more) {
    more.insert(more.begin(), base.begin(), base.end());
    return build(more);
  };
  ASSERT_EQ(
      build_with({"--from", (dir / "root").string(), "--include", (dir / "libextra.so").string()})
          .err,
      "");
  const std::string extra_digest = digest_in_manifest(out, "lib/libextra.so");
  const std::string libc_digest = digest_in_manifest(out, "lib/lib/x86_64-linux-gnu/libc.so.6");
  ASSERT_FALSE(extra_digest.empty());

  ASSERT_EQ(build_with({"--from", (dir / "root").string(), "--include",
                        (out / "lib/libextra.so").string()})
                .err,
            "");
  EXPECT_EQ(read_file(out / "lib/libextra.so"), "extra bytes");
  EXPECT_EQ(digest_in_manifest(out, "lib/libextra.so"), extra_digest);
  EXPECT_EQ(run_tool({"verify", out.string()}).status, 0);

  // A root inside the bundle makes each table entry its own destination.
  ASSERT_EQ(build_with({"--from", (out / "lib").string()}).err, "");
  EXPECT_EQ(read_file(out / "lib/lib/x86_64-linux-gnu/libc.so.6"),
            "content of /lib/x86_64-linux-gnu/libc.so.6\n");
  EXPECT_EQ(digest_in_manifest(out, "lib/lib/x86_64-linux-gnu/libc.so.6"), libc_digest);
}

// A sysroot's links resolve inside it, as its own system would resolve them: an absolute target
// names the sysroot's file, and ".." stops at the sysroot. Includes stay host paths, so an include
// of a link inside the sysroot still follows it on the host.
TEST(Build, LinksInASysrootResolveInsideIt) {
  TempDir dir;
  const fs::path root = make_linked_root(dir.path());
  fs::create_directory_symlink(root, dir / "root-link");
  const std::string loader = "content of /usr/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2\n";
  const std::string libc = "content of /usr/lib/x86_64-linux-gnu/libc.so.6\n";
  const std::map<std::string, std::string> expected = {
      {"etc/ld.so.cache", "content of /etc/ld.so.cache\n"},
      {"lib/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2", loader},
      {"lib/lib/x86_64-linux-gnu/libc.so.6", libc},
      {"lib/lib64/ld-linux-x86-64.so.2", loader},
      {"lib/lib64/libc.so.6", libc},
      {"lib/lib64/libdl.so.2", "content of /secret\n"},
      {"lib/libm.so.6", "host libm\n"},
  };
  // The root as typed: links in the --from path itself are followed.
  for (const fs::path& from : {root, fs::path(root.string() + "/"), dir / "root-link"}) {
    SCOPED_TRACE(from);
    const fs::path out = dir / "out";
    fs::remove_all(out);
    const ProcessResult r = build({"--out", out.string(), "--from", from.string(), "--arch",
                                   "x86_64", "--include", (root / "lib64/libm.so.6").string()});
    ASSERT_EQ(r.err, "");
    std::vector<std::string> files;
    for (const std::string& entry : tree_of(out)) {
      if (!entry.ends_with('/') && entry != "bundle.toml") files.push_back(entry);
    }
    std::vector<std::string> expected_files;
    for (const auto& [path, content] : expected) {
      expected_files.push_back(path);
      EXPECT_EQ(read_file(out / path), content) << path;
    }
    EXPECT_EQ(files, expected_files);
    EXPECT_EQ(run_tool({"verify", out.string()}).status, 0);
  }
}

// The layout of a Debian root made by debootstrap: the loader's link has an absolute target, which
// on the host names the host's loader.
TEST(Build, ADebianLikeSysrootGivesItsOwnLoaderAndLibc) {
  TempDir dir;
  make_debian_like_root(dir / "root");
  const ProcessResult r = build(
      {"--out", (dir / "out").string(), "--from", (dir / "root").string(), "--arch", "x86_64"});
  ASSERT_EQ(r.err, "");
  EXPECT_EQ(r.out, summary((dir / "out").string(), "x86_64", 6,
                           "bdf88ecfd7be403aa9c63dd0fd3e254661ec401a2e43a95bd9279ba28b3ca3e2"));
  constexpr std::string_view kLoader =
      "c2695a57102063b749a732772ddb008778002ed474bfc42f90990beb3dcef3d1";
  struct Expected {
    std::string_view path;
    std::string_view hash;
  };
  const Expected files[] = {
      {"etc/ld.so.cache", "ef66493c24a6fe85f82a8d6cd2ae000ae1006feadbd492736084c571ba5b6dd8"},
      {"lib/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2", kLoader},
      {"lib/lib/x86_64-linux-gnu/libc.so.6",
       "9a87ff2d1c566e72bf9b063101e6289ee090985c9ab8d8f1b3082d9b0cd140ed"},
      {"lib/lib/x86_64-linux-gnu/libm.so.6",
       "35ae5215f3172d38cb29d6983339c483c6fe74560e3ab7308a04e4d9ac7f804c"},
      {"lib/lib64/ld-linux-x86-64.so.2", kLoader},
      {"lib/usr/lib64/ld-linux-x86-64.so.2", kLoader},
  };
  for (const Expected& file : files) {
    SCOPED_TRACE(file.path);
    EXPECT_EQ(digest_in_manifest(dir / "out", file.path), file.hash);
  }
}

TEST(Build, ASysrootEntryThatIsNoRegularFileFailsWithoutWaiting) {
  TempDir dir;
  const fs::path root = dir / "root";
  make_host_root(root, {"/etc/ld.so.cache"});
  fs::create_directories(root / "srv/lib.so");
  ASSERT_EQ(::mkfifo((root / "srv/pipe.so").c_str(), 0644), 0);
  fs::create_directories(root / "lib64");
  for (std::string_view target : {"/srv/pipe.so", "/srv/lib.so"}) {
    SCOPED_TRACE(target);
    fs::remove(root / "lib64/libc.so.6");
    fs::create_symlink(target, root / "lib64/libc.so.6");
    const ProcessResult r =
        build({"--out", (dir / "out").string(), "--from", root.string(), "--arch", "x86_64"});
    EXPECT_EQ(r.err, kNotRegular);
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(fs::exists(dir / "out/lib/lib64/libc.so.6"));
  }
}

// A root that cannot be opened holds no entry; includes still make a bundle, and the
// no-sources message still names each entry joined to the root as typed.
TEST(Build, ARootThatCannotBeOpenedHoldsNothing) {
  TempDir dir;
  write_file(dir / "file", "not a directory");
  write_file(dir / "libx.so", "x");
  for (const fs::path& root : {dir / "missing", dir / "file"}) {
    SCOPED_TRACE(root);
    const fs::path out = dir / "out";
    fs::remove_all(out);
    const ProcessResult with_include =
        build({"--out", out.string(), "--from", root.string(), "--arch", "x86_64", "--include",
               (dir / "libx.so").string()});
    ASSERT_EQ(with_include.err, "");
    EXPECT_EQ(tree_of(out), (std::vector<std::string>{"bundle.toml", "lib/", "lib/libx.so"}));
    const ProcessResult alone =
        build({"--out", out.string(), "--from", root.string(), "--arch", "x86_64"});
    EXPECT_EQ(alone.err.substr(0, alone.err.find(',')),
              "sarn-runtime-bundle build: no bundle sources found " + std::string(kDash) +
                  " checked [\"" + root.string() + "/lib64/ld-linux-x86-64.so.2\"");
    EXPECT_EQ(alone.status, 1);
  }
}

// Root may read and search everything, so these run the build as an ordinary user: a directory
// it may not search hides its entries, a file it may not read fails the build.
TEST(Build, InASysrootUnsearchableDirectoriesHideEntriesAndUnreadableFilesFail) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the build as another user";
  TempDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  make_debian_like_root(dir / "root");
  fs::create_directories(dir / "out");
  ASSERT_EQ(::chown((dir / "out").c_str(), 65534, 65534), 0);
  RunOptions as_nobody = with_epoch();
  as_nobody.uid = as_nobody.gid = 65534;
  const auto run = [&] {
    return build(
        {"--out", (dir / "out").string(), "--from", (dir / "root").string(), "--arch", "x86_64"},
        as_nobody);
  };
  ASSERT_EQ(::chmod((dir / "root/usr/lib/x86_64-linux-gnu").c_str(), 0700), 0);
  const ProcessResult hidden = run();
  ASSERT_EQ(hidden.err, "");
  EXPECT_EQ(tree_of(dir / "out"),
            (std::vector<std::string>{"bundle.toml", "etc/", "etc/ld.so.cache", "lib/"}));

  ASSERT_EQ(::chmod((dir / "root/usr/lib/x86_64-linux-gnu").c_str(), 0755), 0);
  ASSERT_EQ(::chmod((dir / "root/usr/lib/x86_64-linux-gnu/libc.so.6").c_str(), 0600), 0);
  const ProcessResult unreadable = run();
  EXPECT_EQ(unreadable.err, "sarn-runtime-bundle build: i/o: Permission denied (os error 13)\n");
  EXPECT_EQ(unreadable.status, 1);
}

// The host's own loader runs a program against the bundled C runtime.
TEST(Build, BundleOfThisHostRunsAProgram) {
#if !defined(__x86_64__)
  GTEST_SKIP() << "needs an x86-64 host";
#endif
  if (!fs::exists("/lib64/ld-linux-x86-64.so.2") ||
      !fs::exists("/lib/x86_64-linux-gnu/libc.so.6") || !fs::exists("/bin/echo")) {
    GTEST_SKIP() << "host lacks the usual x86-64 loader and libc paths";
  }
  TempDir dir;
  const ProcessResult built = build({"--out", (dir / "out").string()});
  ASSERT_EQ(built.err, "");
  const ProcessResult echoed =
      run_process({(dir / "out/lib/lib64/ld-linux-x86-64.so.2").string(), "--library-path",
                   (dir / "out/lib/lib/x86_64-linux-gnu").string(), "/bin/echo", "ok"});
  EXPECT_EQ(echoed.out, "ok\n");
  EXPECT_EQ(echoed.status, 0);
}

}  // namespace
}  // namespace srb::test
