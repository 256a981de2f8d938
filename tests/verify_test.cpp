// End-to-end tests of `verify`: bundles made from their parts, damaged one way per case, then
// judged by the built binary. Each case checks the exact error line and status, or the summary.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "manifest/digest.hpp"
#include "manifest/manifest.hpp"
#include "signing/signature.hpp"
#include "tests/support/bundle_fixture.hpp"
#include "tests/support/process.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb::test {
namespace {

namespace fs = std::filesystem;

const std::vector<PayloadFile> kPayload = {
    {"etc/ld.so.cache", "loader cache\n"},
    {"lib/lib64/ld-linux-x86-64.so.2", "the loader\n"},
    {"lib/libc.so.6", "the C library\n"},
};
constexpr std::size_t kLibc = 2;  // index of lib/libc.so.6 in the sorted manifest

// The bundle a case starts from and what it hands to verify. A case that edits `manifest`
// calls rewrite() to put the edit on disk.
struct Scene {
  fs::path dir;
  BundleManifest manifest;
  std::vector<std::string> options;
  void rewrite() const { write_manifest(dir, manifest); }
};

// Damages (or merely varies) the scene and returns the message verify must fail with, or ""
// when verify must pass.
using Tamper = std::function<std::string(Scene&)>;

struct Case {
  const char* name;
  Tamper tamper;
};

enum class Signed { no, yes };

std::string summary(const std::string& dir, const BundleManifest& manifest) {
  std::string text = "bundle " + dir + " verified\n";
  text += "  version  : " + manifest.version + "\n";
  text += "  arch     : " + manifest.arch + "\n";
  text += "  files    : " + std::to_string(manifest.files.size()) + "\n";
  text += "  root-hash: blake3:" + manifest.root_hash + "\n";
  if (manifest.publisher_hex) text += "  publisher: ed25519:" + *manifest.publisher_hex + "\n";
  return text;
}

ProcessResult run_verify(const fs::path& dir, const std::vector<std::string>& options,
                         const RunOptions& run = {}) {
  std::vector<std::string> args{"verify", dir.string()};
  args.insert(args.end(), options.begin(), options.end());
  return run_tool(args, run);
}

void expect_failure(const ProcessResult& result, const std::string& message) {
  EXPECT_EQ(result.err, "sarn-runtime-bundle verify: " + message + "\n");
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.status, 1);
}

// Makes a fresh bundle per case, applies the case, and checks verify's verdict.
void run_cases(const std::vector<Case>& cases, Signed signing) {
  const SigningKey key = test_key();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TempDir temp;
    Scene scene{temp / "bundle", {}, {}};
    scene.manifest = make_bundle(
        scene.dir, {"1.0.0", "x86_64", kPayload, signing == Signed::yes ? &key : nullptr});
    const std::string message = c.tamper(scene);
    const ProcessResult result = run_verify(scene.dir, scene.options);
    if (message.empty()) {
      EXPECT_EQ(result.err, "");
      EXPECT_EQ(result.out, summary(scene.dir.string(), scene.manifest));
      EXPECT_EQ(result.status, 0);
    } else {
      expect_failure(result, message);
    }
  }
}

std::string upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

std::string hash_mismatch(const std::string& expected, const std::string& computed) {
  return "hash mismatch: expected " + expected + " in bundle.toml, computed " + computed;
}

std::string not_regular(const std::string& path) {
  return "payload entry is not a regular file: " + path;
}

std::string unlisted(const std::string& path) {
  return "file present in payload but not listed in bundle.toml: " + path;
}

const std::string kSignatureRequired =
    "bundle is not signed \u2014 signature required (pass --allow-unsigned-runtime to opt out)";

TEST(VerifyCommand, PassesIntactBundlesAndHarmlessVariations) {
  run_cases(
      {
          {"intact", [](Scene&) { return ""; }},
          {"matching arch",
           [](Scene& s) {
             s.options = {"--require-arch", "x86_64"};
             return "";
           }},
          {"extra empty directory",
           [](Scene& s) {
             fs::create_directories(s.dir / "lib/empty/deeper");
             return "";
           }},
          {"[[files]] blocks reordered",
           [](Scene& s) {
             std::reverse(s.manifest.files.begin(), s.manifest.files.end());
             s.rewrite();
             return "";
           }},
          {"size edited",
           [](Scene& s) {
             s.manifest.files[kLibc].size = 999;
             s.rewrite();
             return "";
           }},
          {"no files at all",
           [](Scene& s) {
             fs::remove_all(s.dir);
             s.manifest = make_bundle(s.dir, {});
             return "";
           }},
          // A lone signature field is not looked at, but its publisher still shows.
          {"lone publisher_hex",
           [](Scene& s) {
             s.manifest.publisher_hex = "not hex";
             s.rewrite();
             return "";
           }},
      },
      Signed::no);
}

TEST(VerifyCommand, RejectsAManifestThatCannotBeLoaded) {
  run_cases(
      {
          {"bundle.toml absent",
           [](Scene& s) {
             fs::remove(s.dir / "bundle.toml");
             return "bundle.toml not found at " + (s.dir / "bundle.toml").string();
           }},
          {"bundle directory absent",
           [](Scene& s) {
             fs::remove_all(s.dir);
             return "bundle.toml not found at " + (s.dir / "bundle.toml").string();
           }},
          {"bundle.toml not UTF-8",
           [](Scene& s) {
             write_file(s.dir / "bundle.toml", "version = \"\xff\"\n");
             return std::string("i/o: stream did not contain valid UTF-8");
           }},
          {"bundle.toml without root_hash",
           [](Scene& s) {
             const std::string text = "version = \"1.0.0\"\narch = \"x86_64\"\n";
             write_file(s.dir / "bundle.toml", text);
             return message(parse_manifest(text).error());
           }},
      },
      Signed::no);
}

TEST(VerifyCommand, ComparesTheArchitectureExactlyAndFirst) {
  const std::string mismatch = R"(bundle arch "x86_64" does not match host arch )";
  run_cases(
      {
          {"other arch",
           [&](Scene& s) {
             s.options = {"--require-arch", "aarch64"};
             return mismatch + R"("aarch64")";
           }},
          {"other case",
           [&](Scene& s) {
             s.options = {"--require-arch", "X86_64"};
             return mismatch + R"("X86_64")";
           }},
          {"before payload damage",
           [&](Scene& s) {
             fs::remove(s.dir / "lib/libc.so.6");
             s.options = {"--require-arch", "aarch64"};
             return mismatch + R"("aarch64")";
           }},
      },
      Signed::no);
}

// Each path is refused before it is looked up: some name files that exist, in the bundle or on
// the host, and would otherwise fail differently or pass.
TEST(VerifyCommand, RefusesInvalidPayloadPathsBeforeReadingThem) {
  // The path as the message shows it: a tab or a line feed escaped.
  const struct {
    const char* path;
    const char* shown;
  } paths[] = {{"lib/../x", "lib/../x"},
               {"/etc/passwd", "/etc/passwd"},
               {"bundle.toml", "bundle.toml"},
               {"lib/x\ty", "lib/x\\ty"},
               {"lib/x\ny", "lib/x\\ny"},
               {"lib\\libc.so.6", "lib\\libc.so.6"},
               {"./lib/libc.so.6", "./lib/libc.so.6"},
               {"lib//libc.so.6", "lib//libc.so.6"},
               {"lib/", "lib/"},
               {"", ""}};
  std::vector<Case> cases;
  for (const auto& p : paths) {
    cases.push_back({p.path, [p](Scene& s) {
                       write_file(s.dir / "x", "x\n");
                       s.manifest.files.insert(
                           s.manifest.files.begin(),
                           BundleFile{.path = p.path, .hash = digest_of(s.dir / "x"), .size = 2});
                       s.rewrite();
                       return "invalid payload path in bundle.toml: " + std::string(p.shown);
                     }});
  }
  run_cases(cases, Signed::no);
}

TEST(VerifyCommand, ChecksEachListedEntryInManifestOrder) {
  run_cases(
      {
          {"path repeated",
           [](Scene& s) {
             s.manifest.files.push_back(s.manifest.files[kLibc]);
             s.rewrite();
             return std::string("invalid payload path in bundle.toml: lib/libc.so.6");
           }},
          // Of two repeated paths, the one whose repeat comes first in the manifest is named,
          // though the other sorts first.
          {"two paths repeated",
           [](Scene& s) {
             s.manifest.files.push_back(s.manifest.files[kLibc]);
             s.manifest.files.push_back(s.manifest.files[0]);
             s.rewrite();
             return std::string("invalid payload path in bundle.toml: lib/libc.so.6");
           }},
          // The list stays sorted, with the repeat right after the first appearance.
          {"path repeated in place",
           [](Scene& s) {
             s.manifest.files.insert(s.manifest.files.begin() + kLibc + 1, s.manifest.files[kLibc]);
             s.rewrite();
             return std::string("invalid payload path in bundle.toml: lib/libc.so.6");
           }},
          // The first occurrence is checked in full before the repeat is seen.
          {"first of a repeated path damaged",
           [](Scene& s) {
             BundleFile wrong = s.manifest.files[kLibc];
             wrong.hash = std::string(64, '0');
             s.manifest.files.insert(s.manifest.files.begin(), wrong);
             s.rewrite();
             return hash_mismatch(wrong.hash, s.manifest.files[kLibc + 1].hash);
           }},
          {"file removed",
           [](Scene& s) {
             fs::remove(s.dir / "lib/libc.so.6");
             return std::string(
                 "file listed in bundle.toml is missing from the payload: lib/libc.so.6");
           }},
          {"dangling link",
           [](Scene& s) {
             fs::remove(s.dir / "lib/libc.so.6");
             fs::create_symlink("nowhere", s.dir / "lib/libc.so.6");
             return std::string(
                 "file listed in bundle.toml is missing from the payload: lib/libc.so.6");
           }},
          {"link to a regular file",
           [](Scene& s) {
             fs::rename(s.dir / "lib/libc.so.6", s.dir / "lib/libc.real");
             fs::create_symlink("libc.real", s.dir / "lib/libc.so.6");
             return not_regular("lib/libc.so.6");
           }},
          {"directory listed",
           [](Scene& s) {
             s.manifest.files.push_back({"lib/lib64", s.manifest.files[kLibc].hash, 0});
             s.rewrite();
             return not_regular("lib/lib64");
           }},
          // Opening a FIFO for reading would wait for a writer forever.
          {"FIFO listed",
           [](Scene& s) {
             EXPECT_EQ(::mkfifo((s.dir / "lib/fifo").c_str(), 0644), 0);
             s.manifest.files.push_back({"lib/fifo", s.manifest.files[kLibc].hash, 0});
             s.rewrite();
             return not_regular("lib/fifo");
           }},
          {"content edited",
           [](Scene& s) {
             write_file(s.dir / "lib/libc.so.6", "tampered\n");
             return hash_mismatch(s.manifest.files[kLibc].hash, digest_of(s.dir / "lib/libc.so.6"));
           }},
          {"digest in upper case",
           [](Scene& s) {
             const std::string lower = s.manifest.files[kLibc].hash;
             s.manifest.files[kLibc].hash = upper(lower);
             s.rewrite();
             return hash_mismatch(upper(lower), lower);
           }},
      },
      Signed::no);
}

TEST(VerifyCommand, RejectsWhateverThePayloadHoldsBeyondTheList) {
  const struct {
    std::vector<std::string> extra_files;
    std::string key;
    bool list_reversed = false;
  } extras[] = {
      {{"lib/zz.so", "lib/aa.so"}, "lib/aa.so"},        // the smallest key is named
      {{"lib/zz.so", "lib/aa.so"}, "lib/aa.so", true},  // whatever the manifest's order
      {{"lib/bundle.toml"}, "lib/bundle.toml"},        {{"lib\\x.so"}, "lib/x.so"},
      {{"lib/\xff.so"}, "lib/\xef\xbf\xbd.so"},
  };
  std::vector<Case> cases;
  for (const auto& extra : extras) {
    cases.push_back({extra.key.c_str(), [&extra](Scene& s) {
                       for (const std::string& file : extra.extra_files)
                         write_file(s.dir / file, "");
                       if (extra.list_reversed) {
                         std::reverse(s.manifest.files.begin(), s.manifest.files.end());
                         s.rewrite();
                       }
                       return unlisted(extra.key);
                     }});
  }
  run_cases(cases, Signed::no);
  run_cases(
      {
          // The link itself would be unlisted, but the files listed through it lie outside the
          // bundle, so the first of them is missing before the listing is looked at.
          {"lib a link to a directory outside",
           [](Scene& s) {
             fs::rename(s.dir / "lib", s.dir.parent_path() / "elsewhere");
             fs::create_symlink("../elsewhere", s.dir / "lib");
             return std::string(
                 "file listed in bundle.toml is missing from the payload: "
                 "lib/lib64/ld-linux-x86-64.so.2");
           }},
          // Inside the bundle, the listed files are found through the link; the link itself is
          // unlisted.
          {"lib a link to a directory inside",
           [](Scene& s) {
             fs::rename(s.dir / "lib", s.dir / "real");
             fs::create_symlink("real", s.dir / "lib");
             return unlisted("lib");
           }},
          {"unlisted FIFO",
           [](Scene& s) {
             EXPECT_EQ(::mkfifo((s.dir / "etc/fifo").c_str(), 0644), 0);
             return unlisted("etc/fifo");
           }},
          {"root hash edited",
           [](Scene& s) {
             const std::string real = s.manifest.root_hash;
             s.manifest.root_hash = std::string(64, 'a');
             s.rewrite();
             return hash_mismatch(std::string(64, 'a'), real);
           }},
      },
      Signed::no);
}

// A version or a file name can hold a line feed, a carriage return or a terminal escape. verify
// prints each escaped, so neither a terminal nor a script reading the output can be shown a line
// (a publisher, here) or a colour that the bundle does not have.
TEST(VerifyCommand, PrintsControlCharactersFromTheBundleEscaped) {
  const std::string key_hex(64, 'e');
  {
    SCOPED_TRACE("a version that forges a publisher line");
    const TempDir temp;
    const fs::path dir = temp / "bundle\t1";
    const BundleManifest manifest =
        make_bundle(dir, {"1\n  publisher: ed25519:" + key_hex + "\x1B[31m", "x86_64", kPayload});
    const ProcessResult result = run_verify(dir, {});
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "bundle " + (temp / "bundle\\t1").string() +
                              " verified\n"
                              "  version  : 1\\n  publisher: ed25519:" +
                              key_hex +
                              "\\u{1b}[31m\n"
                              "  arch     : x86_64\n"
                              "  files    : 3\n"
                              "  root-hash: blake3:" +
                              manifest.root_hash + "\n");
  }
  const std::string name = "lib/a\x1B[2K\rb.so";
  const std::string shown = "lib/a\\u{1b}[2K\\rb.so";
  run_cases(
      {
          {"listed name missing",
           [&](Scene& s) {
             s.manifest.files.push_back({name, s.manifest.files[kLibc].hash, 0});
             s.rewrite();
             return "file listed in bundle.toml is missing from the payload: " + shown;
           }},
          {"unlisted name",
           [&](Scene& s) {
             write_file(s.dir / name, "");
             return unlisted(shown);
           }},
          {"listed name not a regular file",
           [&](Scene& s) {
             fs::create_directory(s.dir / name);
             s.manifest.files.push_back({name, s.manifest.files[kLibc].hash, 0});
             s.rewrite();
             return not_regular(shown);
           }},
      },
      Signed::no);
}

TEST(VerifyCommand, DemandsASignatureOnlyWhenAsked) {
  run_cases(
      {
          {"--require-signature",
           [](Scene& s) {
             s.options = {"--require-signature"};
             return kSignatureRequired;
           }},
          {"--require-publisher",
           [](Scene& s) {
             s.options = {"--require-publisher", std::string(64, 'a')};
             return kSignatureRequired;
           }},
          {"lone publisher_hex",
           [](Scene& s) {
             s.manifest.publisher_hex = "not hex";
             s.rewrite();
             s.options = {"--require-signature"};
             return kSignatureRequired;
           }},
      },
      Signed::no);
}

TEST(VerifyCommand, PassesSignedBundlesThatMeetTheRequirements) {
  run_cases(
      {
          {"no requirement", [](Scene&) { return ""; }},
          {"--require-signature",
           [](Scene& s) {
             s.options = {"--require-signature"};
             return "";
           }},
          {"--require-publisher",
           [](Scene& s) {
             s.options = {"--require-publisher", *s.manifest.publisher_hex};
             return "";
           }},
          {"--require-publisher in upper case",
           [](Scene& s) {
             s.options = {"--require-publisher", upper(*s.manifest.publisher_hex)};
             return "";
           }},
          {"produced_at and size edited",
           [](Scene& s) {
             s.manifest.produced_at = 1;
             s.manifest.files[0].size = 1;
             s.rewrite();
             return "";
           }},
      },
      Signed::yes);
}

TEST(VerifyCommand, ChecksTheSignatureLast) {
  const struct {
    std::string field;
    std::string value;
    std::string detail;
  } malformed[] = {
      {"publisher_hex", std::string(63, 'a'), "Odd number of digits"},
      {"publisher_hex", "zz" + std::string(62, 'a'), "Invalid character 'z' at position 0"},
      {"publisher_hex", "", "expected 32 bytes, got 0"},
      {"signature_hex", std::string(126, 'a'), "expected 64 bytes, got 63"},
      // Digits are counted as characters: U+0085 makes 64 of them, U+00E9 63.
      {"publisher_hex", std::string(63, 'a') + "\u0085",
       "Invalid character '\\u{85}' at position 63"},
      {"publisher_hex", std::string(62, 'a') + "\u00e9", "Odd number of digits"},
      {"signature_hex", std::string(127, 'a') + "\u0085",
       "Invalid character '\\u{85}' at position 127"},
      {"signature_hex", std::string(126, 'a') + "\u00e9", "Odd number of digits"},
      // y = 2 has no x on the curve.
      {"publisher_hex", "02" + std::string(62, '0'),
       "signature error: Cannot decompress Edwards point"},
  };
  std::vector<Case> cases;
  for (const auto& m : malformed) {
    cases.push_back({m.detail.c_str(), [&m](Scene& s) {
                       auto& field = m.field == "publisher_hex" ? s.manifest.publisher_hex
                                                                : s.manifest.signature_hex;
                       field = m.value;
                       s.rewrite();
                       return "bundle signature field " + m.field + " is malformed: " + m.detail;
                     }});
  }
  run_cases(cases, Signed::yes);
  run_cases(
      {
          {"version edited",
           [](Scene& s) {
             s.manifest.version = "1.0.1";
             s.rewrite();
             return std::string("bundle signature does not verify against embedded publisher");
           }},
          {"signed by another key",
           [](Scene& s) {
             const SigningKey other = test_key(0x07);
             s.manifest.signature_hex =
                 sign_manifest(other, s.manifest.version, s.manifest.root_hash)->signature_hex;
             s.rewrite();
             s.options = {"--require-publisher", *s.manifest.publisher_hex};
             return std::string("bundle signature does not verify against embedded publisher");
           }},
          {"publisher required with a prefix",
           [](Scene& s) {
             const std::string publisher = *s.manifest.publisher_hex;
             s.options = {"--require-publisher", "ed25519:" + publisher};
             return "bundle publisher " + publisher +
                    " does not match required ed25519:" + publisher;
           }},
          {"root hash checked before the signature",
           [](Scene& s) {
             write_file(s.dir / "lib/libc.so.6", "tampered\n");
             s.options = {"--require-publisher", std::string(64, 'b')};
             return hash_mismatch(s.manifest.files[kLibc].hash, digest_of(s.dir / "lib/libc.so.6"));
           }},
      },
      Signed::yes);
}

// A path holding TAB and LF could make one entry hash like two: "lib/x TAB D1 LF lib/y" with
// digest D2 feeds the root hash the very lines of lib/x and lib/y, so the forged list would keep
// the original root hash and signature while naming a file the publisher never listed.
TEST(VerifyCommand, RefusesAForgedListHiddenInOnePath) {
  const TempDir temp;
  const SigningKey key = test_key();
  const BundleManifest real =
      make_bundle(temp / "real", {"1.0.0", "x86_64", {{"lib/x", "x\n"}, {"lib/y", "y\n"}}, &key});
  const std::string forged_path = "lib/x\t" + real.files[0].hash + "\nlib/y";
  BundleManifest forged = real;
  forged.files = {{forged_path, real.files[1].hash, 2}};
  ASSERT_EQ(compute_root_hash(forged.files), real.root_hash);
  write_file(temp / "forged" / forged_path, "y\n");
  write_manifest(temp / "forged", forged);

  for (const std::vector<std::string>& options :
       {std::vector<std::string>{}, {"--require-publisher", *real.publisher_hex}}) {
    SCOPED_TRACE(options.size());
    expect_failure(
        run_verify(temp / "forged", options),
        "invalid payload path in bundle.toml: lib/x\\t" + real.files[0].hash + "\\nlib/y");
  }
}

// The system ends a path at NUL, so "lib/x NUL copy" would be checked as lib/x itself: a
// manifest could list, with a matching root hash, a file that the payload does not hold.
TEST(VerifyCommand, RefusesAPathThatTheSystemWouldCutAtNul) {
  const TempDir temp;
  BundleManifest manifest =
      make_bundle(temp / "bundle", {"1.0.0", "x86_64", {{"lib/x", "x\n"}}, nullptr});
  const std::string phantom("lib/x\0copy", 10);
  manifest.files.push_back({phantom, manifest.files[0].hash, 2});
  manifest.root_hash = compute_root_hash(manifest.files);
  write_manifest(temp / "bundle", manifest);
  expect_failure(run_verify(temp / "bundle", {}),
                 "invalid payload path in bundle.toml: lib/x\\0copy");
}

TEST(VerifyCommand, SurvivesATreeThousandsOfLevelsDeep) {
  const TempDir temp = deep_tree_temp_dir();
  make_bundle(temp / "bundle", {"1.0.0", "x86_64", kPayload, nullptr});
  const DeepChain chain(temp / "bundle", 5000);
  expect_failure(run_verify(temp / "bundle", {}), unlisted(chain.leaf_path()));
}

// A bundle as the build command writes it, from a fake host root and with a signature.
TEST(VerifyCommand, AcceptsWhatBuildWritesAndNoticesLaterDamage) {
  const TempDir temp;
  make_host_root(temp / "root", {"/lib64/ld-linux-x86-64.so.2", "/lib64/libc.so.6",
                                 "/lib/x86_64-linux-gnu/libc.so.6", "/etc/ld.so.cache"});
  write_file(temp / "extra.so", "extra\n");
  write_file(temp / "identity.json", "{\"secret_key_hex\": \"" + std::string(64, '4') + "\"}",
             0600);
  const ProcessResult built =
      run_tool({"build", "--version", "2.0", "--out", (temp / "out").string(), "--from",
                (temp / "root").string(), "--arch", "x86_64", "--identity",
                (temp / "identity.json").string(), "--include", (temp / "extra.so").string()});
  ASSERT_EQ(built.err, "");
  const Result<BundleManifest> manifest = load_manifest(temp / "out");
  ASSERT_TRUE(manifest.has_value());
  ASSERT_EQ(manifest->files.size(), 5u);

  RunOptions in_temp;
  in_temp.cwd = temp.path();
  const ProcessResult verified = run_verify("out/",
                                            {"--require-signature", "--require-arch", "x86_64",
                                             "--require-publisher", *manifest->publisher_hex},
                                            in_temp);
  EXPECT_EQ(verified.err, "");
  EXPECT_EQ(verified.out, summary("out/", *manifest));
  EXPECT_EQ(verified.status, 0);

  std::string libc = read_file(temp / "out/lib/lib64/libc.so.6");
  write_file(temp / "out/lib/lib64/libc.so.6", libc + "!");
  const auto entry =
      std::find_if(manifest->files.begin(), manifest->files.end(),
                   [](const BundleFile& f) { return f.path == "lib/lib64/libc.so.6"; });
  ASSERT_NE(entry, manifest->files.end());
  expect_failure(run_verify(temp / "out", {}),
                 hash_mismatch(entry->hash, digest_of(temp / "out/lib/lib64/libc.so.6")));
}

// Root reads everything, so the unreadable cases run as an unprivileged user there.
TEST(VerifyCommand, ReportsUnreadablePayloadAsIoError) {
  const RunOptions as_user = ::geteuid() == 0 ? as_other_user() : RunOptions{};
  const std::string denied = "i/o: Permission denied (os error 13)";
  for (const char* unreadable : {"lib/lib64", "lib/libc.so.6"}) {
    SCOPED_TRACE(unreadable);
    const TempDir temp;
    fs::permissions(temp.path(), fs::perms(0755));
    make_bundle(temp / "bundle", {"1.0.0", "x86_64", kPayload, nullptr});
    fs::permissions(temp / "bundle" / unreadable, fs::perms::none);
    expect_failure(run_verify(temp / "bundle", {}, as_user), denied);
  }
}

// Root verifies a bundle that uid 65534 prepared: links in it lead to a root-only file standing in
// for /etc/shadow, or into /proc. verify must not quote the file in a parse error, digest it, or
// read /proc/self/pagemap for ever: a path that leaves the bundle finds nothing.
TEST(VerifyCommand, RootReadsNothingOutsideABundleAnotherUserPrepared) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to prepare files as another user";
  const TempDir temp;
  fs::permissions(temp.path(), fs::perms(0755));
  const std::string secret = "root:$6$not-for-the-bundle$:19000:0:99999:7:::\n";
  write_file(temp / "private/shadow", secret, 0600);
  fs::permissions(temp / "private", fs::perms(0700));
  fs::create_directory(temp / "nobody");
  ASSERT_EQ(::chown((temp / "nobody").c_str(), kOtherUser, kOtherUser), 0);

  const struct {
    const char* name;
    const char* plant;  // run by uid 65534 in its own directory
    const char* listed;
    std::string error;  // "" for the missing manifest
  } cases[] = {
      {"bundle.toml linked to the file", "ln -sf \"$PRIVATE/shadow\" b/bundle.toml", "lib/a", ""},
      {"bundle.toml linked relatively", "ln -sf ../../private/shadow b/bundle.toml", "lib/a", ""},
      {"lib linked to the file's directory", "ln -s \"$PRIVATE\" b/lib", "lib/shadow",
       "file listed in bundle.toml is missing from the payload: lib/shadow"},
      {"lib linked into /proc", "ln -s /proc/self b/lib", "lib/pagemap",
       "file listed in bundle.toml is missing from the payload: lib/pagemap"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BundleManifest listing;
    listing.version = "1.0.0";
    listing.arch = "x86_64";
    listing.files = {{c.listed, std::string(64, '0'), 0}};
    listing.root_hash = compute_root_hash(listing.files);
    const fs::path dir = temp / "nobody/b";
    fs::remove_all(dir);
    RunOptions nobody = as_other_user();
    nobody.cwd = temp / "nobody";
    nobody.env = {"PATH=/usr/bin:/bin", "PRIVATE=" + (temp / "private").string(),
                  "MANIFEST=" + *render_manifest(listing)};
    const ProcessResult planted =
        run_process({"sh", "-ec",
                     "mkdir b; printf '%s' \"$MANIFEST\" > b/bundle.toml; " + std::string(c.plant)},
                    nobody);
    ASSERT_EQ(planted.status, 0) << planted.err;

    const ProcessResult r =
        run_process({"timeout", "20", tool_path().string(), "verify", dir.string()});
    const std::string error =
        c.error.empty() ? "bundle.toml not found at " + (dir / "bundle.toml").string() : c.error;
    EXPECT_EQ(r.err, "sarn-runtime-bundle verify: " + error + "\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.find("not-for-the-bundle"), std::string::npos);
    EXPECT_EQ(r.err.find(digest_of(temp / "private/shadow")), std::string::npos);
  }
}

// While verify runs, another process keeps exchanging a listed file with a FIFO or with a link to
// /dev/zero, so some runs meet the swap between the first look and the open. Each run must end
// at once with the summary or with the not-a-regular-file line: never wait on the FIFO, never
// read /dev/zero. The binary runs under timeout(1), so a hang fails the case.
TEST(VerifyCommand, AnEntrySwappedDuringTheCheckCannotStallOrRedirectIt) {
  constexpr int kRuns = 40;
  for (const char* swapped_in : {"fifo", "link to /dev/zero"}) {
    SCOPED_TRACE(swapped_in);
    const TempDir temp;
    const fs::path dir = temp / "bundle";
    const BundleManifest manifest = make_bundle(dir, {"1.0.0", "x86_64", kPayload, nullptr});
    const fs::path listed = dir / "lib/libc.so.6";
    const fs::path other = temp / "other";
    if (std::string_view(swapped_in) == "fifo") {
      ASSERT_EQ(::mkfifo(other.c_str(), 0644), 0);
    } else {
      fs::create_symlink("/dev/zero", other);
    }
    std::atomic<bool> done = false;
    std::thread swapper([&] {
      while (!done)
        ::renameat2(AT_FDCWD, listed.c_str(), AT_FDCWD, other.c_str(), RENAME_EXCHANGE);
    });
    for (int run = 0; run < kRuns; ++run) {
      const ProcessResult r =
          run_process({"timeout", "20", tool_path().string(), "verify", dir.string()});
      if (r.status == 0) {
        EXPECT_EQ(r.out, summary(dir.string(), manifest));
      } else {
        EXPECT_EQ(r.err, "sarn-runtime-bundle verify: " + not_regular("lib/libc.so.6") + "\n");
        EXPECT_EQ(r.status, 1);
      }
    }
    done = true;
    swapper.join();
  }
}

}  // namespace
}  // namespace srb::test
